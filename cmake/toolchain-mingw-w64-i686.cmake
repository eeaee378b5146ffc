# Cross-compiles for 32-bit x86 Windows with Debian's MinGW-w64 (.mexw32).
#   cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR X86)
set(CORVANE_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Double arithmetic in SSE2 registers, as on x86-64: the x87 unit would keep
# intermediates in 80-bit precision and round differently. (-ffp-contract=off
# comes from the project itself, on every target.) The stack is realigned
# where SSE data needs it: a 32-bit host may call mexFunction with a stack
# aligned to 4 bytes only.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse -mstackrealign")

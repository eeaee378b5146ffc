# Shared part of the MinGW-w64 toolchain files. Expects CORVANE_MINGW_TRIPLE
# (x86_64-w64-mingw32 or i686-w64-mingw32) to be set by the including file.
#
# Debian ships each cross compiler in a "win32" and a "posix" threading flavour.
# The win32 flavour is preferred: its libstdc++ needs no winpthread DLL, so the
# MEX file imports nothing beyond Windows' own KERNEL32.dll and msvcrt.dll and
# MATLAB's libmx.dll and libmex.dll.
set(CMAKE_SYSTEM_NAME Windows)

foreach(tool gcc g++)
  string(TOUPPER ${tool} upper)
  find_program(CORVANE_MINGW_${upper}
    NAMES ${CORVANE_MINGW_TRIPLE}-${tool}-win32 ${CORVANE_MINGW_TRIPLE}-${tool}
    NO_CACHE)
endforeach()
if(NOT CORVANE_MINGW_GCC OR NOT CORVANE_MINGW_G++)
  message(FATAL_ERROR "${CORVANE_MINGW_TRIPLE}-gcc/g++ not found "
                      "(Debian: g++-mingw-w64-x86-64 / g++-mingw-w64-i686)")
endif()
set(CMAKE_C_COMPILER ${CORVANE_MINGW_GCC})
set(CMAKE_CXX_COMPILER ${CORVANE_MINGW_G++})
set(CMAKE_RC_COMPILER ${CORVANE_MINGW_TRIPLE}-windres)
find_program(CORVANE_DLLTOOL ${CORVANE_MINGW_TRIPLE}-dlltool)
find_program(CMAKE_OBJDUMP ${CORVANE_MINGW_TRIPLE}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${CORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# libgcc and libstdc++ go into each binary, so none needs the compiler's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

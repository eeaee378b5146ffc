# Corvane.mexw64 / Corvane.mexw32: the gateway as a Windows DLL for MATLAB;
# CorvaneDetectorMex.mexw64 / .mexw32 beside it, the detector object's.
#
# It links against import libraries for MATLAB's libmx.dll and libmex.dll made
# here with dlltool from the project's own .def files, compiles against the
# project's own declaration header (matlab_api/mex.h), and carries libgcc and
# libstdc++ inside, so it imports from libmx.dll, libmex.dll, KERNEL32.dll and
# msvcrt.dll only. mexFunction is its one export.

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(CORVANE_MEX_SUFFIX .mexw64)
  set(dlltool_machine i386:x86-64)
else()
  set(CORVANE_MEX_SUFFIX .mexw32)
  set(dlltool_machine i386)
endif()

if(NOT CORVANE_DLLTOOL)
  find_program(CORVANE_DLLTOOL NAMES ${CMAKE_C_LIBRARY_ARCHITECTURE}-dlltool dlltool)
endif()
if(NOT CORVANE_DLLTOOL)
  message(FATAL_ERROR "dlltool not found (Debian: binutils-mingw-w64)")
endif()

# One import library per MATLAB DLL. --kill-at keeps the imported names free
# of any @n decoration, so the MEX file asks libmx.dll for "mxGetPr" exactly as
# MATLAB exports it, on both architectures.
set(import_libs)
foreach(library libmx libmex)
  set(def ${CMAKE_CURRENT_SOURCE_DIR}/windows/${library}.def)
  set(lib ${CMAKE_CURRENT_BINARY_DIR}/${library}.dll.a)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${CORVANE_DLLTOOL} --machine ${dlltool_machine} --kill-at
            --input-def ${def} --dllname ${library}.dll --output-lib ${lib}
    DEPENDS ${def}
    COMMENT "Import library for MATLAB's ${library}.dll"
    VERBATIM)
  list(APPEND import_libs ${lib})
endforeach()
add_custom_target(corvane_matlab_import_libs DEPENDS ${import_libs})

add_library(corvane_mex_windows MODULE CorvaneGateway.cpp)
add_dependencies(corvane_mex_windows corvane_matlab_import_libs)
target_include_directories(corvane_mex_windows PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/matlab_api)
target_compile_definitions(corvane_mex_windows PRIVATE MATLAB_MEX_FILE)
target_link_libraries(corvane_mex_windows PRIVATE corvane_gateway ${import_libs})
# Only the dllexport'ed mexFunction leaves the DLL, never a symbol of the
# core or of the statically linked runtime.
target_link_options(corvane_mex_windows PRIVATE -Wl,--exclude-all-symbols)
# No link time stamp in the PE header and no symbol table (which would name
# the build's object files): the same sources give the same file.
target_link_options(corvane_mex_windows PRIVATE -Wl,--no-insert-timestamp -s)
set_target_properties(corvane_mex_windows PROPERTIES
  PREFIX "" OUTPUT_NAME Corvane SUFFIX ${CORVANE_MEX_SUFFIX}
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
  LINK_DEPENDS "${import_libs}")

# The detector object's MEX file, built and linked the same way.
add_library(corvane_detector_mex_windows MODULE ${CORVANE_DETECTOR_MEX_SOURCES})
add_dependencies(corvane_detector_mex_windows corvane_matlab_import_libs)
target_include_directories(corvane_detector_mex_windows PRIVATE
                           ${CMAKE_CURRENT_SOURCE_DIR}/matlab_api)
target_compile_definitions(corvane_detector_mex_windows PRIVATE MATLAB_MEX_FILE)
target_link_libraries(corvane_detector_mex_windows PRIVATE corvane_detector_host ${import_libs})
target_link_options(corvane_detector_mex_windows PRIVATE -Wl,--exclude-all-symbols
                    -Wl,--no-insert-timestamp -s)
set_target_properties(corvane_detector_mex_windows PROPERTIES
  PREFIX "" OUTPUT_NAME CorvaneDetectorMex SUFFIX ${CORVANE_MEX_SUFFIX}
  LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
  CXX_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON
  LINK_DEPENDS "${import_libs}")

set(CORVANE_WINDOWS_MEX $<TARGET_FILE:corvane_mex_windows> PARENT_SCOPE)

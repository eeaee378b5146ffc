# Checks what a MEX file exports and imports.
#   cmake -DNM=<nm> -DOBJDUMP=<objdump> -DFILE=<mex> -DKIND=matlab|octave -P CheckMexSymbols.cmake
#
# Both kinds export mexFunction alone. The MATLAB file (KIND=matlab) may import
# only MATLAB's mx*/mex* functions (which MATLAB resolves when it loads the
# file; mxGetField under its versioned name mxGetField_700) and versioned
# symbols of the C, C++, math and GCC runtime libraries, and may need no other
# shared library than those.
cmake_minimum_required(VERSION 3.18)

function(run_tool output)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE text ERROR_VARIABLE error)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN} failed: ${error}")
  endif()
  set(${output} "${text}" PARENT_SCOPE)
endfunction()

set(failures "")

run_tool(defined ${NM} -D --defined-only ${FILE})
string(REGEX MATCHALL "[^\n]+" lines "${defined}")
set(exported "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "^.* " "" name "${line}")
  list(APPEND exported ${name})
endforeach()
if(NOT exported STREQUAL "mexFunction")
  list(APPEND failures "exports [${exported}], not mexFunction alone")
endif()

if(KIND STREQUAL "matlab")
  run_tool(undefined ${NM} -D --undefined-only ${FILE})
  string(REGEX MATCHALL "[^\n]+" lines "${undefined}")
  set(imported "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    string(REGEX REPLACE "^([A-Za-z]) +(.*)$" "\\1;\\2" parts "${line}")
    list(GET parts 0 type)
    list(GET parts 1 symbol)
    string(REGEX REPLACE "@.*$" "" name "${symbol}")
    list(APPEND imported ${name})
    if(name MATCHES "^mexFunction$")
      list(APPEND failures "imports its own entry point")
    elseif(name MATCHES "^(mx|mex)[A-Z]" AND NOT symbol MATCHES "@")
      # a MATLAB API function
    elseif(symbol MATCHES "@@?(GLIBC|GLIBCXX|CXXABI|GCC)_[0-9.]+$")
      # C, C++, math or GCC runtime
    elseif(type STREQUAL "w" AND name MATCHES "^(__gmon_start__|_ITM_deregisterTMCloneTable|_ITM_registerTMCloneTable)$")
      # weak hooks of the C runtime's start files, never required
    else()
      list(APPEND failures "imports ${symbol}, neither a MATLAB API function nor a runtime symbol")
    endif()
  endforeach()
  if(NOT "mxGetField_700" IN_LIST imported)
    list(APPEND failures "does not import mxGetField_700")
  endif()
  if("mxGetField" IN_LIST imported)
    list(APPEND failures "imports the unversioned mxGetField")
  endif()

  run_tool(headers ${OBJDUMP} -p ${FILE})
  string(REGEX MATCHALL "NEEDED +[^\n]+" needed "${headers}")
  foreach(entry IN LISTS needed)
    string(REGEX REPLACE "NEEDED +" "" library "${entry}")
    if(NOT library MATCHES "^(libc|libm|libstdc\\+\\+|libgcc_s|ld-linux-x86-64)\\.so\\.[0-9]+$")
      list(APPEND failures "needs the shared library ${library}")
    endif()
  endforeach()
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "${FILE}:\n  ${text}")
endif()
message(STATUS "${FILE}: exports mexFunction only${imported_note}")

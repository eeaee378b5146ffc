# Runs one Octave function in octave-cli and checks how it ended.
#   cmake -DOCTAVE=... -DMEX_DIR=... -DSCRIPT_DIR=... -DFUNCTION=... -P RunOctaveScript.cmake
# Octave 7 prints "error: ignoring const execution_exception& while preparing
# to exit" at every exit, including successful ones; that line is dropped. The
# test fails on a non-zero exit, on a crash (no summary line) or when the
# summary "N calls tried, M raised Corvane: errors" has M different from N.
execute_process(
  COMMAND ${OCTAVE} --no-gui --norc --no-history -q --path ${MEX_DIR} --path ${SCRIPT_DIR}
          --eval ${FUNCTION}
  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status TIMEOUT 600)
string(REGEX REPLACE "error: ignoring const execution_exception&? while preparing to exit\n?" ""
       err "${err}")
message("${out}")
if(err)
  message("${err}")
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "octave-cli ended with status ${status}")
endif()
string(REGEX MATCH "([0-9]+) calls tried, ([0-9]+) raised Corvane: errors" summary "${out}")
if(NOT summary)
  message(FATAL_ERROR "no summary line: the Octave process did not run to the end")
endif()
if(NOT CMAKE_MATCH_1 EQUAL CMAKE_MATCH_2 OR CMAKE_MATCH_1 EQUAL 0)
  message(FATAL_ERROR "${CMAKE_MATCH_1} calls tried but ${CMAKE_MATCH_2} raised Corvane: errors")
endif()

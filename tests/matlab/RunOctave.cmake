# Runs one Octave test call in octave-cli and fails unless it exits with 0.
#   cmake -DOCTAVE=<octave-cli> -DFOLDERS=<a|b|...> -DCALL=<expression>
#         [-DPRELOAD=<libraries>] -P RunOctave.cmake
# PRELOAD (space-separated) is put in LD_PRELOAD: the sanitizer runtimes a
# sanitized MEX file needs, with leak detection off.
# Folders are added to the path in order, so the last is searched first. An
# error in the call prints its message and stack and exits with 1.
#
# Octave 7 prints "error: ignoring const execution_exception& while preparing
# to exit" whenever it exits, even with status 0; that line is dropped.
string(REPLACE "|" ";" folders "${FOLDERS}")
set(code "")
foreach(folder IN LISTS folders)
  string(APPEND code "addpath('${folder}'); ")
endforeach()
string(APPEND code
  "try, ${CALL}; "
  "catch err, fprintf(2, 'FAILED: %s\\n', err.message); "
  "for k = 1:numel(err.stack), fprintf(2, '  at %s line %d\\n', err.stack(k).name, err.stack(k).line); end, "
  "exit(1); end, exit(0);")
if(PRELOAD)
  set(ENV{LD_PRELOAD} "${PRELOAD}")
  set(ENV{ASAN_OPTIONS} "detect_leaks=0")
endif()
execute_process(COMMAND ${OCTAVE} --norc --quiet --no-history --no-window-system --eval "${code}"
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
string(REGEX REPLACE "error: ignoring const execution_exception&? while preparing to exit\n?" ""
       output "${output}")
if(output)
  message("${output}")
endif()
if(NOT status EQUAL 0)
  message(FATAL_ERROR "octave-cli exited with status ${status}")
endif()

# Runs one Octave test call in octave-cli and fails unless it exits with 0.
#   cmake -DOCTAVE=<octave-cli> -DFOLDERS=<a|b|...> -DCALL=<expression>
#         [-DPRELOAD=<libraries>] -P RunOctave.cmake
# PRELOAD (space-separated) is put in LD_PRELOAD: the sanitizer runtimes a
# sanitized MEX file needs, with leak detection off. With LEAKS=<text> as
# well, leak detection is on and its report is read when Octave has exited:
# Octave's own blocks still held at exit are no failure, but any block whose
# allocation stack matches the regular expression <text> (say, the MEX file)
# is one, since nothing that file allocated may be lost. LEAK_LOG is the
# report's file prefix.
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
  if(LEAKS)
    file(GLOB old_reports "${LEAK_LOG}.*")
    if(old_reports)
      file(REMOVE ${old_reports})
    endif()
    # Full stacks: Octave's libraries have no frame pointers, and a block
    # allocated inside the C++ library on the MEX file's behalf must still
    # show the MEX file.
    set(ENV{ASAN_OPTIONS} "detect_leaks=1:fast_unwind_on_malloc=0:log_path=${LEAK_LOG}")
    set(ENV{LSAN_OPTIONS} "exitcode=0")
  else()
    # Octave's interpreter allocates for every expression, and recording a
    # stack for each allocation makes the toolbox's longer scenes nearly
    # three times slower (past their time limit); without allocation stacks
    # every access is checked as before, and a report still shows where the
    # bad access was.
    set(ENV{ASAN_OPTIONS} "detect_leaks=0:malloc_context_size=0")
  endif()
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
if(PRELOAD AND LEAKS)
  # One record per lost allocation site: "Direct leak of ..." or "Indirect
  # leak of ..." and its stack, up to the blank line.
  file(GLOB reports "${LEAK_LOG}.*")
  set(found "")
  foreach(report IN LISTS reports)
    file(READ "${report}" text)
    # Brackets and semicolons would upset the list the records become.
    string(REPLACE "[" "(" text "${text}")
    string(REPLACE "]" ")" text "${text}")
    string(REPLACE ";" "," text "${text}")
    string(REPLACE "\n\n" ";" records "${text}")
    foreach(record IN LISTS records)
      if(record MATCHES "(Direct|Indirect) leak of" AND record MATCHES "${LEAKS}")
        string(APPEND found "${record}\n\n")
      endif()
    endforeach()
  endforeach()
  if(found)
    message(FATAL_ERROR "blocks allocated by ${LEAKS} were never freed:\n${found}")
  endif()
  if(NOT reports)
    message("no leak report was written: nothing was lost")
  endif()
endif()

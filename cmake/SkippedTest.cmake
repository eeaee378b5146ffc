# corvane_skipped_test(name reason...): registers `name` as a test that reports
# itself skipped, with the reason, where the tool it needs is missing. CTest
# then lists it under "did not run ... (Skipped)" instead of counting a
# placeholder as passed or leaving the suite out without a word, and
# scripts/test.sh names it in its summary. The reason may come in several
# pieces; they are joined (a semicolon in it would split it, as in any CMake
# list).
include_guard(GLOBAL)

set(CORVANE_SKIP_RETURN_CODE 77)

function(corvane_skipped_test name)
  string(JOIN "" reason ${ARGN})
  add_test(NAME ${name}
           COMMAND sh -c "echo \"SKIPPED: $1\"; exit ${CORVANE_SKIP_RETURN_CODE}" sh "${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE ${CORVANE_SKIP_RETURN_CODE})
endfunction()

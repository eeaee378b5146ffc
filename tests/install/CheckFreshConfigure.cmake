# A new build folder configured as scripts/demo.sh configures it, on a
# machine without GoogleTest, builds no tests but keeps no BUILD_TESTING=OFF:
# configured again once GoogleTest is there, the same folder builds the tests.
#   cmake -DSOURCE=<source> -DWORK=<folder> -DGENERATOR=<generator> -DCC=<c> -DCXX=<c++> -P CheckFreshConfigure.cmake
cmake_minimum_required(VERSION 3.18)
file(REMOVE_RECURSE ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK} -G ${GENERATOR}
                        -DCMAKE_C_COMPILER=${CC} -DCMAKE_CXX_COMPILER=${CXX}
                        -DCMAKE_BUILD_TYPE=Release -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "configuring without GoogleTest failed:\n${output}")
endif()
file(STRINGS ${WORK}/CMakeCache.txt cached REGEX "^BUILD_TESTING:")
if(cached OR EXISTS ${WORK}/tests/CTestTestfile.cmake)
  message(FATAL_ERROR "without GoogleTest: tests configured or BUILD_TESTING cached (${cached})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE} -B ${WORK} -UCMAKE_DISABLE_FIND_PACKAGE_GTest
                RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
file(STRINGS ${WORK}/CMakeCache.txt cached REGEX "^BUILD_TESTING:")
if(NOT status EQUAL 0 OR NOT cached STREQUAL "BUILD_TESTING:BOOL=ON"
   OR NOT EXISTS ${WORK}/tests/CTestTestfile.cmake)
  message(FATAL_ERROR "with GoogleTest the same folder did not turn to the tests (${cached}):\n${output}")
endif()
file(REMOVE_RECURSE ${WORK})

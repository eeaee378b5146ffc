# Installs BUILD into a fresh PREFIX (cmake --install, every default
# component), then configures, builds and runs tests/install/consumer, a
# project of its own that finds the install with find_package(Corvane):
#   cmake -DBUILD=<build> -DWORK=<folder> -DCONSUMER=<source> -DGENERATOR=...
#         -DCXX=<compiler> -DCOMMAND=ON|OFF -P CheckCMakeConsumer.cmake
# COMMAND: whether BUILD has the corvane command, which the install then
# puts in bin/ beside the development files.
cmake_minimum_required(VERSION 3.18)
set(PREFIX ${WORK}/prefix)
file(REMOVE_RECURSE ${WORK})

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${what} failed (${status}):\n${output}")
  endif()
  set(output "${output}" PARENT_SCOPE)
endfunction()

# A plain install into the prefix writes there and nowhere else (not into an
# interpreter's site-packages, say).
run("cmake --install ${BUILD} --prefix ${PREFIX}"
    ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX})
string(REGEX MATCHALL "-- (Installing|Up-to-date): [^\n]*" lines "${output}")
foreach(line ${lines})
  string(REGEX REPLACE "^-- [A-Za-z-]+: " "" path "${line}")
  string(FIND "${path}" "${PREFIX}/" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "cmake --install --prefix ${PREFIX} wrote outside it: ${path}")
  endif()
endforeach()
set(expected include/corvane/Detector.h include/corvane/UpdateModel.h
    include/corvane/ModelCheck.h include/corvane/BackgroundModel.h
    lib/libcorvane_core.a lib/libcorvane_math.a lib/libcorvane_setup.a
    lib/cmake/Corvane/CorvaneConfig.cmake lib/cmake/Corvane/CorvaneConfigVersion.cmake
    lib/cmake/Corvane/CorvaneTargets.cmake)
if(COMMAND)
  list(APPEND expected bin/corvane)
endif()
foreach(file ${expected})
  if(NOT EXISTS ${PREFIX}/${file})
    message(FATAL_ERROR "the install has no ${file}:\n${output}")
  endif()
endforeach()
file(GLOB top RELATIVE ${PREFIX} ${PREFIX}/*)
list(SORT top)
set(wanted include lib)
if(COMMAND)
  set(wanted bin include lib)
endif()
if(NOT top STREQUAL wanted)
  message(FATAL_ERROR "the install put ${top} in ${PREFIX}, not ${wanted}")
endif()
file(GLOB internal ${PREFIX}/include/corvane/internal ${PREFIX}/include/corvane/Rounded*)
if(internal)
  message(FATAL_ERROR "the core's own headers were installed: ${internal}")
endif()
# The package files name no folder of the source or build tree: the install
# stands on its own once they are gone.
get_filename_component(source ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
file(GLOB package ${PREFIX}/lib/cmake/Corvane/*.cmake)
foreach(file ${package})
  file(READ ${file} text)
  foreach(tree ${source} ${BUILD})
    string(FIND "${text}" "${tree}" at)
    if(NOT at EQUAL -1)
      message(FATAL_ERROR "${file} refers to ${tree}")
    endif()
  endforeach()
endforeach()

set(consumer ${WORK}/consumer)
run("configuring the consumer project"
    ${CMAKE_COMMAND} -S ${CONSUMER} -B ${consumer} -G ${GENERATOR} -DCMAKE_BUILD_TYPE=Release
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_PREFIX_PATH=${PREFIX})
run("building the consumer project" ${CMAKE_COMMAND} --build ${consumer})

run("the consumer's detect_square" ${consumer}/detect_square)
if(NOT output MATCHES "^frames 21 square ([0-9]+) of 100 outside ([0-9]+)\n$")
  message(FATAL_ERROR "detect_square printed: ${output}")
endif()
if(CMAKE_MATCH_1 LESS 50 OR CMAKE_MATCH_2 GREATER 0)
  message(FATAL_ERROR "detect_square found the square badly: ${output}")
endif()
run("the consumer's check_model" ${consumer}/check_model)
if(NOT output MATCHES "^refused 1 threads 1 message .+")
  message(FATAL_ERROR "check_model printed: ${output}")
endif()
file(REMOVE_RECURSE ${WORK})

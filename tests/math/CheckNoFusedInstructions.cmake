# Fails if the object code of the correctly rounded exp and log, or of the
# update's column kernels, holds a fused multiply-add: their AVX-512 files are
# compiled with an instruction set that includes FMA, and only
# -ffp-contract=off keeps the compiler from using it.
#   cmake -DOBJDUMP=objdump -DOBJECTS="a.o;b.o" -P CheckNoFusedInstructions.cmake
foreach(object ${OBJECTS})
  execute_process(COMMAND ${OBJDUMP} -d ${object} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${OBJDUMP} could not read ${object}")
  endif()
  string(REGEX MATCH "vfn?m(add|sub)[0-9a-z]*" fused "${listing}")
  if(fused)
    message(FATAL_ERROR "${object} contains the fused instruction ${fused}")
  endif()
endforeach()
list(LENGTH OBJECTS count)
message(STATUS "${count} object files, no fused multiply-add")

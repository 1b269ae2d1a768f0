# The layer check run over a small tree of upward includes (upward/): it must
# fail and name exactly the includes listed in upward/expected.txt, no more,
# while the includes that run down in the same files pass unnamed.
#
#   cmake -DCHECKER=<CheckLayers.cmake> -DFIXTURE=<folder> -P CheckLayersSelfTest.cmake
cmake_minimum_required(VERSION 3.25)
execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${FIXTURE} -P ${CHECKER}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(out "${out}${err}")
if(result EQUAL 0)
  message(FATAL_ERROR "the layer check passed a tree with upward includes:\n${out}")
endif()
file(STRINGS ${FIXTURE}/expected.txt expected)
string(REGEX MATCHALL "layers: [^\n]* includes [^\n]*" found "${out}")
list(SORT expected)
list(SORT found)
if(NOT found STREQUAL expected)
  string(REPLACE ";" "\n  " expected "${expected}")
  string(REPLACE ";" "\n  " found "${found}")
  message(FATAL_ERROR "expected:\n  ${expected}\nnamed:\n  ${found}")
endif()
list(LENGTH expected count)
message("the layer check names all ${count} upward includes of the fixture")

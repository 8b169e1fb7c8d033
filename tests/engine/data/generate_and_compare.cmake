# Runs the result-code table generator on INPUT and checks its rows against EXPECTED.
execute_process(COMMAND ${CMAKE_COMMAND} -DINPUT=${INPUT} -DOUTPUT=${WORK}/table.inc -P ${GENERATOR}
                RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "generator failed on ${INPUT}")
endif()
file(READ ${WORK}/table.inc produced)
file(READ ${EXPECTED} expected)
string(REGEX REPLACE "^//[^\n]*\n" "" produced "${produced}")
if(NOT produced STREQUAL expected)
  message(FATAL_ERROR "generated rows differ:\n${produced}\nexpected:\n${expected}")
endif()

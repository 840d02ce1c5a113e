# Runs PROGRAM silently under the Wine harness and checks its exit code.
execute_process(COMMAND ${HARNESS} run ${STATE} ${PROGRAM} /s RESULT_VARIABLE status)
if(NOT status STREQUAL "${EXPECTED}")
  message(FATAL_ERROR "${PROGRAM} /s ended with ${status}, expected ${EXPECTED}")
endif()
message(STATUS "${PROGRAM} /s ended with ${status}")

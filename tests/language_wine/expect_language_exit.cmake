# Runs PROGRAM silently under the Wine harness with the EXTRA argument (may be empty) and
# checks its exit code.
set(args /s)
if(EXTRA)
  list(APPEND args "${EXTRA}")
endif()
execute_process(COMMAND ${HARNESS} run ${STATE} ${PROGRAM} ${args} RESULT_VARIABLE status)
if(NOT status STREQUAL "${EXPECTED}")
  message(FATAL_ERROR "${PROGRAM} ${args} ended with ${status}, expected ${EXPECTED}")
endif()
message(STATUS "${PROGRAM} ${args} ended with ${status}")

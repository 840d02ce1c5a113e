# Builds the example project with the native kembuild into OUT, from the engine and the
# archive library of this build (gathered into ENGINE_DIR first).
foreach(v KEMBUILD PROJECT OUT ENGINE LIBRARY ENGINE_DIR)
  if(NOT ${v})
    message(FATAL_ERROR "build_example.cmake: ${v} is not set (is the target built?)")
  endif()
endforeach()
file(MAKE_DIRECTORY ${ENGINE_DIR})
file(COPY_FILE ${ENGINE} ${ENGINE_DIR}/kemstub.exe)
file(COPY_FILE ${LIBRARY} ${ENGINE_DIR}/kem.lib)
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${KEMBUILD} build ${PROJECT} -o ${OUT} --engine-dir ${ENGINE_DIR}
                RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kembuild failed with ${status}")
endif()

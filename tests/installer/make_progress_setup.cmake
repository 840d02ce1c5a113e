# Builds the progress-page session test's setup into OUT: the project of PROJECT with the
# example wizard's progress page (PAGE) and FOLDERS folders of FILES files of SIZE bytes
# each, generated into STAGE, made with the native kembuild from this build's engine
# (ENGINE, LIBRARY, gathered into ENGINE_DIR).
foreach(v KEMBUILD PROJECT PAGE STAGE OUT ENGINE LIBRARY ENGINE_DIR FOLDERS FILES SIZE)
  if(NOT DEFINED ${v} OR "${${v}}" STREQUAL "")
    message(FATAL_ERROR "make_progress_setup.cmake: ${v} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE ${STAGE} ${OUT})
file(MAKE_DIRECTORY ${STAGE}/dialogs ${ENGINE_DIR})
file(COPY ${PROJECT}/project.kemp ${PROJECT}/progress.kems DESTINATION ${STAGE})
file(COPY_FILE ${PAGE} ${STAGE}/dialogs/Progress.dfm.txt)
file(COPY_FILE ${ENGINE} ${ENGINE_DIR}/kemstub.exe)
file(COPY_FILE ${LIBRARY} ${ENGINE_DIR}/kem.lib)
# The first folder is written, the others are copies of it.
string(REPEAT "x" ${SIZE} filler)
foreach(f RANGE 1 ${FILES})
  file(WRITE ${STAGE}/files/d1/f${f}.bin "f${f} ${filler}")
endforeach()
foreach(d RANGE 2 ${FOLDERS})
  file(COPY ${STAGE}/files/d1/ DESTINATION ${STAGE}/files/d${d})
endforeach()
execute_process(COMMAND ${KEMBUILD} build ${STAGE} -o ${OUT} --engine-dir ${ENGINE_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kembuild failed with ${status}")
endif()

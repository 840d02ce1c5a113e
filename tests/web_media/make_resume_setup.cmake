# Builds the resume test's setup into OUT: the project of PROJECT with the example wizard's
# progress page (PAGE) and large/data.bin, SIZE bytes of seeded random hexadecimal text
# (it compresses to about half), generated into STAGE; made with the native kembuild from
# this build's engine (ENGINE, LIBRARY, gathered into ENGINE_DIR).
foreach(v KEMBUILD PROJECT PAGE STAGE OUT ENGINE LIBRARY ENGINE_DIR SIZE)
  if(NOT DEFINED ${v} OR "${${v}}" STREQUAL "")
    message(FATAL_ERROR "make_resume_setup.cmake: ${v} is not set")
  endif()
endforeach()
file(REMOVE_RECURSE ${STAGE} ${OUT})
file(MAKE_DIRECTORY ${STAGE}/dialogs ${STAGE}/large ${ENGINE_DIR})
file(COPY ${PROJECT}/project.kemp ${PROJECT}/resume.kems DESTINATION ${STAGE})
file(COPY_FILE ${PAGE} ${STAGE}/dialogs/Progress.dfm.txt)
file(COPY_FILE ${ENGINE} ${ENGINE_DIR}/kemstub.exe)
file(COPY_FILE ${LIBRARY} ${ENGINE_DIR}/kem.lib)
string(RANDOM LENGTH ${SIZE} ALPHABET 0123456789abcdef RANDOM_SEED 1702 data)
file(WRITE ${STAGE}/large/data.bin "${data}")
execute_process(COMMAND ${KEMBUILD} build ${STAGE} -o ${OUT} --engine-dir ${ENGINE_DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kembuild failed with ${status}")
endif()

# Builds the Debian package into a scratch folder and runs lintian on it;
# any error or warning fails. Run by ctest:
# cmake -DBUILD_DIR=... -DWORK_DIR=... -DLINTIAN=... -P <this>
file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
execute_process(COMMAND cpack -G DEB --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed (${rc}):\n${out}")
endif()
file(GLOB debs ${WORK_DIR}/*.deb)
list(LENGTH debs n)
if(NOT n EQUAL 1)
  message(FATAL_ERROR "expected one package in ${WORK_DIR}, found ${n}")
endif()
# --fail-on error,warning makes lintian's exit status say it; info and
# pedantic tags are shown but do not fail.
execute_process(COMMAND ${LINTIAN} --fail-on error,warning --info ${debs}
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
message(STATUS "lintian on ${debs}:\n${out}")
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "lintian reports errors or warnings (${rc})")
endif()

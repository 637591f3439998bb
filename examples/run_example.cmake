# Runs kelbow on the shipped example in a fresh directory and prints the result.
# Called by the `example` build target with KELBOW, PLOT, SOURCE and DIR set.
file(MAKE_DIRECTORY ${DIR})
file(COPY ${SOURCE}/planted4.data ${SOURCE}/planted4.desc DESTINATION ${DIR})
file(REMOVE ${DIR}/planted4.data.kelbow)
execute_process(COMMAND ${KELBOW} -d planted4.data -n planted4.desc
                WORKING_DIRECTORY ${DIR} OUTPUT_FILE ${DIR}/kelbow.stdout RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kelbow failed with status ${status}")
endif()
message(STATUS "ran: kelbow -d planted4.data -n planted4.desc   (in ${DIR}; progress in kelbow.stdout)")
file(READ ${DIR}/planted4.data.kelbow result)
message("${result}")
execute_process(COMMAND ${PLOT} -r planted4.data.kelbow WORKING_DIRECTORY ${DIR} RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "kelbow-plot failed with status ${status}")
endif()
message(STATUS "chart: ${DIR}/planted4.data.kelbow.svg")

# Runs the whole road on the shipped examples in a fresh directory and prints
# what every command prints. Called by the `example` build target with BIN (the
# directory of the executables), SOURCE (examples/) and DIR set.
#
# From a CSV file in one command: kelbow-report on examples/critters.csv (400
# rows, 4 planted clusters), which leaves the clustered table and a report; the
# same road step by step: kelbow-csv, kelbow, kelbow-plot, kelbow-labels -o and
# kelbow-profile; the same road on examples/survey.csv, whose numbers are cut
# into bins and whose dates become months; then kelbow and kelbow-plot on
# examples/planted4.data, already in the tool's format.
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})
file(COPY ${SOURCE}/critters.csv ${SOURCE}/survey.csv ${SOURCE}/planted4.data ${SOURCE}/planted4.desc DESTINATION ${DIR})

# step(NAME ARGS...): runs ${BIN}/NAME in DIR, prints the command line and both
# streams (standard error first, as a terminal would show these runs), and stops
# the build when it fails. With PROGRESS set, the stream that carries the
# progress (standard output of kelbow, standard error of kelbow-labels, as
# PROGRESS_STREAM says) goes to the file PROGRESS instead.
function(step name)
  set(shown "$ ${name}")
  foreach(a IN LISTS ARGN)
    if(a MATCHES "[ ?,]" OR a STREQUAL "")
      string(APPEND shown " '${a}'")
    else()
      string(APPEND shown " ${a}")
    endif()
  endforeach()
  if(PROGRESS AND PROGRESS_STREAM STREQUAL "stderr")
    string(APPEND shown " 2> ${PROGRESS}")
    execute_process(COMMAND ${BIN}/${name} ${ARGN} WORKING_DIRECTORY ${DIR} RESULT_VARIABLE status
                    OUTPUT_VARIABLE out ERROR_FILE ${DIR}/${PROGRESS})
    set(err "")
  elseif(PROGRESS)
    string(APPEND shown " > ${PROGRESS}")
    execute_process(COMMAND ${BIN}/${name} ${ARGN} WORKING_DIRECTORY ${DIR} RESULT_VARIABLE status
                    OUTPUT_FILE ${DIR}/${PROGRESS} ERROR_VARIABLE err)
    set(out "")
  else()
    execute_process(COMMAND ${BIN}/${name} ${ARGN} WORKING_DIRECTORY ${DIR} RESULT_VARIABLE status
                    OUTPUT_VARIABLE out ERROR_VARIABLE err)
  endif()
  message("${shown}\n${err}${out}")
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${name} failed with status ${status}")
  endif()
endfunction()

message("== from a CSV file to its clusters in one command, in ${DIR}\n")
step(kelbow-report --drop id --labels class --missing "?," critters.csv)
message("$ head -3 critters.clusters.csv   (every record as it was, and its cluster)")
file(STRINGS ${DIR}/critters.clusters.csv head LIMIT_COUNT 3)
list(JOIN head "\n" head)
message("${head}\n")
message("report: ${DIR}/critters.report.html\n")

message("== the same road step by step\n")
step(kelbow-csv --drop id --labels class --missing "?," critters.csv)
set(PROGRESS kelbow.progress)
step(kelbow -d critters.data -n critters.desc)
unset(PROGRESS)
message("$ head -8 critters.data.kelbow   (the block kelbow appended)")
file(STRINGS ${DIR}/critters.data.kelbow head LIMIT_COUNT 8)
list(JOIN head "\n" head)
message("${head}\n")
step(kelbow-plot critters.data.kelbow)
set(PROGRESS labels.progress)
set(PROGRESS_STREAM stderr)
step(kelbow-labels -d critters.data -n critters.desc -k 4 -o critters.k4)
unset(PROGRESS)
unset(PROGRESS_STREAM)
message("$ head -5 critters.k4   (one label per row, 1 = the largest cluster)")
file(STRINGS ${DIR}/critters.k4 labels LIMIT_COUNT 5)
list(JOIN labels "\n" labels)
message("${labels}\n")
step(kelbow-profile -c critters.labels critters critters.k4)

message("== a table with numbers and dates\n")
step(kelbow-csv --drop id --labels class --missing ",?" --dates joined=month survey.csv)
set(PROGRESS survey.progress)
step(kelbow -d survey.data -n survey.desc)
unset(PROGRESS)
step(kelbow-plot survey.data.kelbow)
set(PROGRESS survey-labels.progress)
set(PROGRESS_STREAM stderr)
step(kelbow-labels -d survey.data -n survey.desc -k 4 -o survey.k4)
unset(PROGRESS)
unset(PROGRESS_STREAM)
step(kelbow-profile -c survey.labels -t 3 survey survey.k4)

message("== a table already in the tool's format\n")
set(PROGRESS planted4.progress)
step(kelbow -d planted4.data -n planted4.desc)
unset(PROGRESS)
step(kelbow-plot planted4.data.kelbow)
message("charts: ${DIR}/critters.data.kelbow.svg and ${DIR}/planted4.data.kelbow.svg")

# The demo's default run (the bundled sample on a 4 x 4 wall) in fast mode, its images
# checked, then the exit codes scripts rely on for bad options and missing streams.
# RUNNER (optional) starts the programs (wine for the Windows build); ZRVTOOL (optional) writes
# the Hikvision stand-in stream when the build tree has none; CLOSER (optional, real windows)
# closes the wall while it plays.
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
if(NOT DEFINED RUNNER)
  set(RUNNER "")
endif()

function(expect_exit code)
  execute_process(COMMAND ${RUNNER} ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL code)
    message(FATAL_ERROR "${RUNNER} ${ARGN}: exit ${rc}, expected ${code}\n${out}\n${err}")
  endif()
  set(LAST_OUT "${out}" PARENT_SCOPE)
  set(LAST_ERR "${err}" PARENT_SCOPE)
endfunction()

expect_exit(0 ${PLAY} --fast --out ${OUT})
message("${LAST_OUT}")
foreach(line "pictures" "snapshot of channel 0" "mosaic")
  if(NOT LAST_OUT MATCHES "${line}")
    message(FATAL_ERROR "summary lacks '${line}'")
  endif()
endforeach()
file(STRINGS ${SAMPLES}/cif.idx head LIMIT_COUNT 1)
string(REPLACE " " ";" head "${head}")
list(GET head 0 width)
list(GET head 1 height)
expect_exit(0 ${CHECK} ${OUT}/mosaic.png 16 176 144 ${OUT}/snapshot_ch0.bmp ${width} ${height})
message("${LAST_OUT}")

# Two makers on one wall: the MPEG-4 sample (type 13) beside a stand-in Hikvision player stream
# (type 1), the snapshot taken from the Hikvision channel.
set(ZRV ${TESTROOT}/streams/cif.zrv)
if(ZRVTOOL)
  set(ZRV ${OUT}/cif.zrv)
  expect_exit(0 ${ZRVTOOL} ${ZRV} --frames 50)
endif()
expect_exit(0 ${PLAY} --fast --quiet --channels 2 --stream cif --stream ${ZRV} --snap 1
            --dir ${TESTROOT} --out ${OUT}/mixed)
if(NOT LAST_OUT MATCHES "\n +1 +1 +cif.zrv")
  message(FATAL_ERROR "channel 1 did not play the Hikvision stream:\n${LAST_OUT}")
endif()
expect_exit(0 ${CHECK} ${OUT}/mixed/mosaic.png 2 176 144 ${OUT}/mixed/snapshot_ch1.bmp 352 288)
# A Hikvision stream without the player library beside the client is a usage error.
expect_exit(2 ${PLAY} --fast --stream ${ZRV} --dir ${OUT} --out ${OUT})

expect_exit(2 ${PLAY} --channels 0)
expect_exit(2 ${PLAY} --channels 4 --snap 4)
expect_exit(2 ${PLAY} --bogus)
expect_exit(2 ${PLAY} --tile 10)
expect_exit(3 ${PLAY} --fast --stream ${OUT}/missing.m4v --out ${OUT})
if(NOT LAST_ERR MATCHES "missing.m4v")
  message(FATAL_ERROR "no clear message for a missing stream: ${LAST_ERR}")
endif()
file(WRITE ${OUT}/garbage.m4v "not a stream")
file(WRITE ${OUT}/garbage.idx "nonsense")
expect_exit(3 ${PLAY} --fast --stream ${OUT}/garbage.m4v --out ${OUT})
file(WRITE ${OUT}/garbage.zrv "not a stream either, and long enough to be read as a head")
expect_exit(3 ${PLAY} --fast --stream ${OUT}/garbage.zrv --out ${OUT})

# Real windows: the user closes the wall 1.5 s after it appears, in a real-time run. Feeding
# stops there, the images are still written, and the run ends as a normal one.
if(CLOSER)
  execute_process(COMMAND ${RUNNER} ${PLAY} --channels 1 --quiet --out ${OUT}/closed
                  COMMAND ${RUNNER} ${CLOSER} 1500
                  RESULTS_VARIABLE rcs OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rcs STREQUAL "0;0")
    message(FATAL_ERROR "closing the wall: exits ${rcs}, expected 0;0\n${out}\n${err}")
  endif()
  if(NOT out MATCHES "the wall was closed: feeding stopped after frame ([0-9]+) of ([0-9]+)")
    message(FATAL_ERROR "closing the wall did not stop the feeding:\n${out}\n${err}")
  endif()
  if(NOT CMAKE_MATCH_1 LESS CMAKE_MATCH_2 OR NOT EXISTS ${OUT}/closed/mosaic.png)
    message(FATAL_ERROR "closed wall: fed ${CMAKE_MATCH_1} of ${CMAKE_MATCH_2} frames, or no mosaic:\n${out}")
  endif()
  message("${out}")
endif()

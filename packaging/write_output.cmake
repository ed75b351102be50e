# cmake -DCOMMAND="prog;args" -DOUT=file [-DGZIP_OUT=file.gz] -P write_output.cmake
# The standard output of a built program (its man page or its completion)
# into OUT, and gzipped as Debian wants man pages and changelogs.
# A build step, not a run of the program under test: a sanitizer build must
# not fail on what the libraries keep until exit.
set(ENV{ASAN_OPTIONS} "detect_leaks=0")
execute_process(COMMAND ${COMMAND} OUTPUT_FILE ${OUT}.part RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "${COMMAND} failed (${status})")
endif()
file(RENAME ${OUT}.part ${OUT})
if(GZIP_OUT)
  # -n: no name or time stamp inside, so the package builds byte for byte again.
  execute_process(COMMAND gzip -9nc ${OUT} OUTPUT_FILE ${GZIP_OUT} RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${OUT} failed (${status})")
  endif()
endif()

# Compresses a file as Debian packages want their documentation:
#   cmake -DGZIP=/usr/bin/gzip -DINPUT=file -DOUTPUT=file.gz -P gzip.cmake
# Highest compression, no name or time stamp in the header, so the same input
# gives the same bytes.
cmake_minimum_required(VERSION 3.18)
execute_process(COMMAND ${GZIP} -9 -n -c ${INPUT} OUTPUT_FILE ${OUTPUT}
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "gzip failed on ${INPUT}: ${errors}")
endif()

# Builds one manual page: cmake -DSCDOC=... -DGZIP=... -DSOURCE=page.1.scd
# -DOUTPUT=page.1 -DVERSION=x.y.z -DDATE_EPOCH=seconds -P build_page.cmake
#
# Puts the project's version in place of @VERSION@ in the page's first line,
# runs scdoc on the result with the page's date (seconds since 1970) and
# writes OUTPUT, then OUTPUT.gz at the highest compression and without a name
# or time stamp in the gzip header (so equal pages give equal bytes). Any scdoc error fails with the page named; nothing
# half-made is left behind.
cmake_minimum_required(VERSION 3.18)
foreach(variable IN ITEMS SCDOC GZIP SOURCE OUTPUT VERSION DATE_EPOCH)
  if(NOT DEFINED ${variable})
    message(FATAL_ERROR "build_page.cmake: ${variable} not given")
  endif()
endforeach()

file(READ ${SOURCE} text)
string(REPLACE "@VERSION@" "${VERSION}" text "${text}")
set(prepared ${OUTPUT}.scd)
file(WRITE ${prepared} "${text}")

execute_process(COMMAND ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${DATE_EPOCH} ${SCDOC}
                INPUT_FILE ${prepared} OUTPUT_FILE ${OUTPUT}
                RESULT_VARIABLE status ERROR_VARIABLE errors)
file(REMOVE ${prepared})
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT} ${OUTPUT}.gz)
  message(FATAL_ERROR "scdoc failed on ${SOURCE}: ${errors}")
endif()

execute_process(COMMAND ${GZIP} -9 -n -c ${OUTPUT} OUTPUT_FILE ${OUTPUT}.gz
                RESULT_VARIABLE status ERROR_VARIABLE errors)
if(NOT status EQUAL 0)
  file(REMOVE ${OUTPUT}.gz)
  message(FATAL_ERROR "gzip failed on ${OUTPUT}: ${errors}")
endif()

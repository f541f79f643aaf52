# kxsettings: writes a record from a settings file, dumps it back, and
# rejects a broken file without leaving output behind.
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${TOOL} ${SETTINGS} ${WORK}/tkestrix.bin RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "writing failed: ${rc}")
endif()
file(READ ${WORK}/tkestrix.bin head LIMIT 21 HEX)
# "TPF0", #8 "TKestrix", #7 "Kestrix"
if(NOT head STREQUAL "5450463008544b657374726978074b657374726978")
  message(FATAL_ERROR "bad prefix: ${head}")
endif()
execute_process(COMMAND ${TOOL} --dump ${WORK}/tkestrix.bin
                OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
string(REGEX MATCHALL "\n" lines "${dump}")
list(LENGTH lines count)
if(NOT rc EQUAL 0 OR NOT count EQUAL 120)
  message(FATAL_ERROR "dump gave ${count} lines (rc ${rc})")
endif()
if(NOT dump MATCHES "\nFreezeTimeout = 60000\n" OR NOT dump MATCHES "\nGnAssis = \"\"\nAssistant1 = ")
  message(FATAL_ERROR "unexpected dump:\n${dump}")
endif()
file(WRITE ${WORK}/bad.kxsettings "Enabled = true\nFreezeTimeout = maybe\n")
execute_process(COMMAND ${TOOL} ${WORK}/bad.kxsettings ${WORK}/bad.bin
                ERROR_VARIABLE err RESULT_VARIABLE rc)
if(rc EQUAL 0 OR NOT err MATCHES "bad.kxsettings:2: " OR EXISTS ${WORK}/bad.bin)
  message(FATAL_ERROR "a broken file must fail with its line: ${rc} ${err}")
endif()

# cmake -DWINESERVER=... -DWINEBOOT=... -P start_wine.cmake
# Readies the wine prefix for the Windows tests: creates it on first use and
# keeps its server and services up between test programs, which would each
# otherwise pay seconds of start-up. Everything runs on files, not pipes: the
# services outlive this script and would hold a pipe open, stalling ctest.
execute_process(COMMAND ${WINESERVER} -p 20
  INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
execute_process(COMMAND ${WINEBOOT}
  INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null
  TIMEOUT 150 RESULT_VARIABLE booted)
if(NOT booted EQUAL 0)
  message(FATAL_ERROR "wineboot failed: ${booted}")
endif()

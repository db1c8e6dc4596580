# cmake -DWINESERVER=... -DWINEBOOT=... -P start_wine.cmake
# Readies the wine prefix for the Windows tests: creates it on first use and
# keeps its server and services up between test programs, which would each
# otherwise pay seconds of start-up. Everything runs on files, not pipes: the
# services outlive this script and would hold a pipe open, stalling ctest.
function(boot what)
  execute_process(COMMAND ${WINEBOOT}
    INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null
    TIMEOUT 150 RESULT_VARIABLE booted)
  if(NOT booted EQUAL 0)
    message(FATAL_ERROR "wineboot could not ${what}: ${booted}")
  endif()
endfunction()

if(NOT EXISTS "$ENV{WINEPREFIX}/system.reg")
  # The services of the boot that makes a prefix end a second or two later,
  # and every test program after that would start them again: make the
  # prefix, let that server end, then boot it afresh below.
  boot("make the prefix")
  execute_process(COMMAND ${WINESERVER} -w TIMEOUT 60)
endif()
execute_process(COMMAND ${WINESERVER} -p 20
  INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)
boot("start the prefix")

# cmake -DWINESERVER=... -P stop_wine.cmake
# Ends the server and services that start_wine.cmake kept up: booted afresh,
# they would otherwise stay after the tests. Ending nothing is fine too.
execute_process(COMMAND ${WINESERVER} -k
  INPUT_FILE /dev/null OUTPUT_FILE /dev/null ERROR_FILE /dev/null)

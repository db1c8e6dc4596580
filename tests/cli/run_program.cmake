# Runs PROGRAM with WORDS and checks its exit status and both output streams.
cmake_minimum_required(VERSION 3.25)

execute_process(COMMAND ${PROGRAM} ${WORDS}
                RESULT_VARIABLE status
                OUTPUT_VARIABLE stdout_text
                ERROR_VARIABLE stderr_text
                TIMEOUT 20)

set(failures "")
if(NOT status STREQUAL EXPECTED_STATUS)
  string(APPEND failures "exit status ${status}, expected ${EXPECTED_STATUS}\n")
endif()

function(check_stream name text regex)
  if(regex STREQUAL "")
    if(NOT text STREQUAL "")
      set(failures "${failures}${name} should be empty\n" PARENT_SCOPE)
    endif()
  elseif(NOT text MATCHES "${regex}")
    set(failures "${failures}${name} does not match: ${regex}\n" PARENT_SCOPE)
  endif()
endfunction()
check_stream(stdout "${stdout_text}" "${STDOUT_REGEX}")
check_stream(stderr "${stderr_text}" "${STDERR_REGEX}")

if(NOT failures STREQUAL "")
  message(FATAL_ERROR "${failures}--- stdout:\n${stdout_text}--- stderr:\n${stderr_text}")
endif()

# Warnings as errors on our own targets only; third-party headers come in as SYSTEM.
function(lumaflick_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Werror)
endfunction()

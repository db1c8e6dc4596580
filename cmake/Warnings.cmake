# Warnings on our own targets only; third-party headers come in as SYSTEM.
# Errors only when asked (the presets and the test command ask): a newer or
# older compiler's new warning must not break a user's build.
option(LUMAFLICK_WERROR "Treat warnings as errors" OFF)
function(lumaflick_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow -Wconversion
                         $<$<BOOL:${LUMAFLICK_WERROR}>:-Werror>)
  # In a unity file a source's anonymous namespace is no longer the main
  # file's, which GCC would warn about for every type in it.
  if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Wno-subobject-linkage)
  endif()
endfunction()

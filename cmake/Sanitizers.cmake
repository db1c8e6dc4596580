# Applies to everything in the tree so that the runtime and our code agree.
option(LUMAFLICK_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(LUMAFLICK_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    # clang 14 fails on coroutines ("Cannot represent a difference across
    # sections") when it adds the indirect-call type check to them.
    add_compile_options(-fno-sanitize=function)
  endif()
endif()

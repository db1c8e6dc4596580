# Asio and CLI11 are header-only and platform-neutral, but they live in the
# host's /usr/include next to glibc's headers. Give the cross compiler a folder
# that holds links to these two libraries and nothing else.
set(lumaflick_cross_include ${CMAKE_BINARY_DIR}/cross-include)
file(MAKE_DIRECTORY ${lumaflick_cross_include})
foreach(entry asio asio.hpp CLI)
  if(NOT EXISTS /usr/include/${entry})
    if(entry STREQUAL "CLI")
      continue()  # only insim-screen, which the cross build leaves out, needs it
    endif()
    message(FATAL_ERROR "/usr/include/${entry} is missing: install libasio-dev")
  endif()
  if(NOT EXISTS ${lumaflick_cross_include}/${entry})
    file(CREATE_LINK /usr/include/${entry} ${lumaflick_cross_include}/${entry} SYMBOLIC)
  endif()
endforeach()
set(ASIO_INCLUDE_DIR ${lumaflick_cross_include} CACHE PATH "Asio headers for the cross build" FORCE)
set(CLI11_INCLUDE_DIR ${lumaflick_cross_include} CACHE PATH "CLI11 headers for the cross build" FORCE)

# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads variant);
# the programs run under wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LUMAFLICK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LUMAFLICK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LUMAFLICK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LUMAFLICK_MINGW_PREFIX}-windres)

# Look for libraries and headers in the mingw sysroot only: the host's glibc
# headers must never reach the cross compiler.
set(CMAKE_FIND_ROOT_PATH /usr/${LUMAFLICK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static executables need no DLLs from the cross compiler under wine or on a
# user's machine.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest runs every Windows test program through wine, in a prefix of the build
# folder's own, without a display and without wine's debug chatter.
find_program(LUMAFLICK_WINE NAMES wine wine64)
set(LUMAFLICK_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH "Wine prefix of the Windows tests")
set(LUMAFLICK_WINE_ENV WINEPREFIX=${LUMAFLICK_WINEPREFIX} WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=")
if(LUMAFLICK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
      ${LUMAFLICK_WINE_ENV} ${LUMAFLICK_WINE})
endif()

# try_compile projects load this file too; only the real build needs headers.
get_property(lumaflick_in_try_compile GLOBAL PROPERTY IN_TRY_COMPILE)
if(NOT lumaflick_in_try_compile)
  include(${CMAKE_CURRENT_LIST_DIR}/CrossHeaders.cmake)
endif()

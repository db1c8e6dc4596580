# Downloads made with CPack (scripts/package): from the mingw build a zip for
# Windows, from the Linux build a tarball for LFS under wine or Proton. Each
# holds the program, a README.txt and the licence notices of what is linked
# into it, copied from this machine's Debian packages.

set(lumaflick_licence_sources
  # Header-only, compiled into the program on both systems.
  "asio.txt=/usr/share/doc/libasio-dev/copyright")
if(WIN32)
  # The exe is static: the mingw-w64 runtime and winpthreads, libstdc++ and
  # libgcc (GPL-3 with the GCC Runtime Library Exception, whose text is in
  # the gcc notice) are inside it.
  list(APPEND lumaflick_licence_sources
    "mingw-w64-runtime-and-winpthreads.txt=/usr/share/doc/mingw-w64-x86-64-dev/copyright"
    "gcc-libstdc++-runtime-exception.txt=/usr/share/doc/gcc-mingw-w64-base/copyright"
    "GPL-3.txt=/usr/share/common-licenses/GPL-3")
  set(lumaflick_package_system win64)
  set(CPACK_GENERATOR ZIP)
  # Windows users expect the exe at the top of the unpacked folder.
  set(CMAKE_INSTALL_BINDIR .)
  set(lumaflick_doc_dir .)
  set(lumaflick_readme ${CMAKE_CURRENT_LIST_DIR}/../packaging/README.txt)
else()
  set(lumaflick_package_system linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR TGZ)
  set(lumaflick_doc_dir ${CMAKE_INSTALL_DOCDIR})
  set(lumaflick_readme ${CMAKE_CURRENT_LIST_DIR}/../packaging/README-linux.txt)
endif()

install(FILES ${lumaflick_readme} DESTINATION ${lumaflick_doc_dir} RENAME README.txt COMPONENT program)
foreach(entry IN LISTS lumaflick_licence_sources)
  string(REPLACE "=" ";" entry "${entry}")
  list(GET entry 0 name)
  list(GET entry 1 source)
  if(EXISTS ${source})
    install(FILES ${source} DESTINATION ${lumaflick_doc_dir}/licences RENAME ${name} COMPONENT program)
  else()
    message(WARNING "Licence notice ${source} is missing: packages made now lack ${name}")
  endif()
endforeach()

set(CPACK_PACKAGE_NAME lumaflick)
set(CPACK_PACKAGE_VENDOR lumaflick)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Plays videos as text art inside LFS over InSim")
set(CPACK_PACKAGE_FILE_NAME lumaflick-${PROJECT_VERSION}-${lumaflick_package_system})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# cpack would otherwise build every test and tool first; scripts/package
# builds the program itself.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# The program only: no developer tools that the same build installs.
set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
# One folder named after the archive, so that unpacking makes no mess.
set(CPACK_COMPONENT_INCLUDE_TOPLEVEL_DIRECTORY ON)
include(CPack)

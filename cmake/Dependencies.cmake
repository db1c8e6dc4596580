# Asio is a header-only Debian package; found by header so that the cross
# build can point at a folder holding only these headers. What only the tools,
# tests and benchmarks use is looked for where they are built.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
find_package(Threads REQUIRED)

add_library(lumaflick_asio INTERFACE)
target_include_directories(lumaflick_asio SYSTEM INTERFACE ${ASIO_INCLUDE_DIR})
target_compile_definitions(lumaflick_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(lumaflick_asio INTERFACE Threads::Threads)
if(WIN32)
  target_compile_definitions(lumaflick_asio INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(lumaflick_asio INTERFACE ws2_32 mswsock)
endif()

# Asio 1.22 recognises clang's C++20 coroutines only by a pre-standard macro
# that clang 14 no longer defines.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_definitions(lumaflick_asio INTERFACE ASIO_HAS_CO_AWAIT=1)
endif()

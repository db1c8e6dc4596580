# Asio and CLI11 are header-only Debian packages; found by header so that the
# cross build can point at a folder holding only these headers.
find_path(ASIO_INCLUDE_DIR asio.hpp REQUIRED)
find_path(CLI11_INCLUDE_DIR CLI/CLI.hpp REQUIRED)
find_package(Threads REQUIRED)

add_library(lumaflick_asio INTERFACE)
target_include_directories(lumaflick_asio SYSTEM INTERFACE ${ASIO_INCLUDE_DIR})
target_compile_definitions(lumaflick_asio INTERFACE ASIO_STANDALONE ASIO_NO_DEPRECATED)
target_link_libraries(lumaflick_asio INTERFACE Threads::Threads)
if(WIN32)
  target_compile_definitions(lumaflick_asio INTERFACE _WIN32_WINNT=0x0601 WIN32_LEAN_AND_MEAN NOMINMAX)
  target_link_libraries(lumaflick_asio INTERFACE ws2_32 mswsock)
endif()

add_library(lumaflick_cli11 INTERFACE)
target_include_directories(lumaflick_cli11 SYSTEM INTERFACE ${CLI11_INCLUDE_DIR})

# Asio 1.22 recognises clang's C++20 coroutines only by a pre-standard macro
# that clang 14 no longer defines.
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  target_compile_definitions(lumaflick_asio INTERFACE ASIO_HAS_CO_AWAIT=1)
endif()

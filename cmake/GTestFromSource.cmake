# GoogleTest for the cross build, compiled from the sources of Debian's
# googletest package: its prebuilt libraries are for the host only.
set(LUMAFLICK_GTEST_SOURCE /usr/src/googletest/googletest CACHE PATH "GoogleTest sources (Debian's googletest package)")
if(NOT EXISTS ${LUMAFLICK_GTEST_SOURCE}/src/gtest-all.cc)
  message(FATAL_ERROR "GoogleTest sources not found in ${LUMAFLICK_GTEST_SOURCE}: install googletest")
endif()

add_library(lumaflick_gtest STATIC ${LUMAFLICK_GTEST_SOURCE}/src/gtest-all.cc)
target_include_directories(lumaflick_gtest SYSTEM PUBLIC ${LUMAFLICK_GTEST_SOURCE}/include
                           PRIVATE ${LUMAFLICK_GTEST_SOURCE})
target_link_libraries(lumaflick_gtest PUBLIC Threads::Threads)

add_library(lumaflick_gtest_main STATIC ${LUMAFLICK_GTEST_SOURCE}/src/gtest_main.cc)
target_link_libraries(lumaflick_gtest_main PUBLIC lumaflick_gtest)

add_library(GTest::gtest ALIAS lumaflick_gtest)
add_library(GTest::gtest_main ALIAS lumaflick_gtest_main)
add_library(GTest::GTest ALIAS lumaflick_gtest)
add_library(GTest::Main ALIAS lumaflick_gtest_main)

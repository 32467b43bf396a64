# GoogleTest/GoogleMock: Debian's packages natively; the cross build compiles
# Debian's sources in /usr/src/googletest with the cross compiler.
if(CMAKE_CROSSCOMPILING)
  # GCC 12's win32 thread model has no std::mutex or std::condition_variable,
  # which GoogleTest's Notification uses: it gets one of its own.
  add_compile_definitions(GTEST_HAS_NOTIFICATION_=1)
  add_compile_options(
    "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${PROJECT_SOURCE_DIR}/tests/support/win32/gtest_notification.h>")
  if(NOT TARGET gtest)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  endif()
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gmock ALIAS gmock)
    add_library(GTest::gtest_main ALIAS gtest_main)
    add_library(GTest::gmock_main ALIAS gmock_main)
  endif()
else()
  find_package(GTest REQUIRED)
endif()

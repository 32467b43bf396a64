# The helpers through which the native program works in a prefix's running
# Wine: skelvin_live built for Windows by MinGW-w64, once per architecture
# whose cross compiler is installed (x86_64: skelvin_live64.exe, i686:
# skelvin_live32.exe), each as a build of its own of this source tree, and
# copied to SKELVIN_LIVE_INSTALL_DIR in the build tree. Without a compiler a
# helper is not built, and the program refuses a prefix in use, saying so.
# Sets SKELVIN_LIVE_TARGETS (what the program depends on) and
# SKELVIN_LIVE_HELPERS (the files to install).
include(ExternalProject)
set(SKELVIN_LIVE_TARGETS)
set(SKELVIN_LIVE_HELPERS)
foreach(arch IN ITEMS x86_64 i686)
  if(arch STREQUAL x86_64)
    set(bits 64)
  else()
    set(bits 32)
  endif()
  find_program(SKELVIN_MINGW_CXX_${arch} ${arch}-w64-mingw32-g++-win32)
  if(NOT SKELVIN_MINGW_CXX_${arch})
    message(STATUS "skelvin_live${bits}.exe: not built (no ${arch}-w64-mingw32-g++-win32)")
    continue()
  endif()
  set(helper ${PROJECT_BINARY_DIR}/${SKELVIN_LIVE_INSTALL_DIR}/skelvin_live${bits}.exe)
  ExternalProject_Add(skelvin_live_${arch}
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/live-${arch}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-${arch}.cmake
               -DCMAKE_BUILD_TYPE=MinSizeRel -DBUILD_TESTING=OFF -DSKELVIN_LIVE_ONLY=ON
               -DSKELVIN_REPRODUCIBLE=${SKELVIN_REPRODUCIBLE}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target skelvin_live
    INSTALL_COMMAND ${CMAKE_COMMAND} -E copy <BINARY_DIR>/platform/win32/skelvin_live.exe ${helper}
    BUILD_BYPRODUCTS ${helper}
    # Its own build decides what changed in the sources.
    BUILD_ALWAYS ON)
  list(APPEND SKELVIN_LIVE_TARGETS skelvin_live_${arch})
  list(APPEND SKELVIN_LIVE_HELPERS ${helper})
endforeach()

# Cross build of the Windows program with MinGW-w64 (posix thread model),
# linked statically so that the program imports Windows system DLLs only.
# Included by the per-architecture toolchain files, which set
# SKELVIN_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
# Test binaries run under Wine through the emulator wrapper, in the build
# tree's own Wine prefix (created by the test run's setup fixture).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${SKELVIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SKELVIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SKELVIN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SKELVIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--gc-sections")

# The Wine prefix of this build tree's test runs, and the wrapper that runs
# one cross-compiled binary in it (with the Wine loader that fits the binary).
set(SKELVIN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../tests/support/win32/wine-run.sh ${SKELVIN_WINEPREFIX})

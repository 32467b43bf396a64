# Cross build of the Windows program with MinGW-w64, win32 thread model (the
# posix model links a threads library that imports functions of Windows Vista
# and later), linked statically so that the program imports Windows system
# DLLs only.
# Included by the per-architecture toolchain files, which set
# SKELVIN_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
# Test binaries run under Wine through the emulator wrapper, in the build
# tree's own Wine prefix (created by the test run's setup fixture).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${SKELVIN_MINGW_TRIPLE}-gcc-win32)
set(CMAKE_CXX_COMPILER ${SKELVIN_MINGW_TRIPLE}-g++-win32)
set(CMAKE_RC_COMPILER ${SKELVIN_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${SKELVIN_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The oldest Windows the programs run on (SKELVIN_WINDOWS_MAJOR/MINOR, set by
# the per-architecture file): the headers declare nothing newer, and the PE
# header asks for no newer OS and subsystem version.
math(EXPR SKELVIN_WINNT "(${SKELVIN_WINDOWS_MAJOR} << 8) | ${SKELVIN_WINDOWS_MINOR}" OUTPUT_FORMAT HEXADECIMAL)
set(SKELVIN_WINVER_FLAGS "-D_WIN32_WINNT=${SKELVIN_WINNT} -DWINVER=${SKELVIN_WINNT}")
set(CMAKE_C_FLAGS_INIT "-ffunction-sections -fdata-sections ${SKELVIN_WINVER_FLAGS}")
# The Windows programs run on one thread, so a function-local static needs no
# guard; and the guard of GCC 13 and later waits on condition variables,
# which Windows XP lacks (the import check would find them).
set(CMAKE_CXX_FLAGS_INIT "-ffunction-sections -fdata-sections -fno-threadsafe-statics ${SKELVIN_WINVER_FLAGS}")
set(CMAKE_RC_FLAGS_INIT "${SKELVIN_WINVER_FLAGS}")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--gc-sections \
-Wl,--major-os-version,${SKELVIN_WINDOWS_MAJOR},--minor-os-version,${SKELVIN_WINDOWS_MINOR} \
-Wl,--major-subsystem-version,${SKELVIN_WINDOWS_MAJOR},--minor-subsystem-version,${SKELVIN_WINDOWS_MINOR}")

# The Wine prefix of this build tree's test runs, and the wrapper that runs
# one cross-compiled binary in it (with the Wine loader that fits the binary).
set(SKELVIN_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${CMAKE_CURRENT_LIST_DIR}/../tests/support/win32/wine-run.sh ${SKELVIN_WINEPREFIX})

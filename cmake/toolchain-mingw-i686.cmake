# The genuine Windows program: PE32 (i686), for Windows XP SP3 (NT 5.1) and
# later. Its test prefix is 32-bit.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(SKELVIN_WINDOWS_MAJOR 5)
set(SKELVIN_WINDOWS_MINOR 1)
set(SKELVIN_PE_MACHINE i386)       # objdump's name for the machine
set(SKELVIN_MANIFEST_ARCH x86)     # the manifest's processorArchitecture
set(SKELVIN_WINE_ARCH win32)       # the test prefix's WINEARCH
set(SKELVIN_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)

# The same sources as a 64-bit Windows program (PE32+, x86_64), run under
# 64-bit Wine in a 64-bit prefix: it reaches the registry in the 32-bit view,
# as the PE32 does (platform/win32/registry.cpp), so that it carries the
# Windows checks on hosts that cannot run i386 code.
# The first 64-bit Windows is XP x64 (NT 5.2).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(SKELVIN_WINDOWS_MAJOR 5)
set(SKELVIN_WINDOWS_MINOR 2)
set(SKELVIN_PE_MACHINE x86-64)
set(SKELVIN_MANIFEST_ARCH amd64)
set(SKELVIN_WINE_ARCH win64)
set(SKELVIN_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)

# 64-bit Windows DLLs and test programs, run under Wine on this machine.
set(FCS_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")

# Programs built here (the test programs) run under Wine: each build folder
# has a Wine prefix of its own, made at the first run; quiet, and without the
# .NET and HTML engines that a new prefix would otherwise offer to install.
set(CMAKE_CROSSCOMPILING_EMULATOR /usr/bin/env
  "WINEPREFIX=${CMAKE_BINARY_DIR}/wine" WINEDEBUG=-all "WINEDLLOVERRIDES=mscoree,mshtml=" wine)

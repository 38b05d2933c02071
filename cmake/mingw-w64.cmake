# Cross-building Windows DLLs with Debian's mingw-w64 (the POSIX thread model
# flavour). Included by the toolchain files, which set FCS_MINGW_TRIPLET.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER "${FCS_MINGW_TRIPLET}-gcc-posix")
set(CMAKE_CXX_COMPILER "${FCS_MINGW_TRIPLET}-g++-posix")
set(CMAKE_RC_COMPILER "${FCS_MINGW_TRIPLET}-windres")

set(CMAKE_FIND_ROOT_PATH "/usr/${FCS_MINGW_TRIPLET}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The compiler's own run-time libraries (libgcc, libstdc++, winpthread) are
# linked in, so that every DLL and program imports system DLLs only.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

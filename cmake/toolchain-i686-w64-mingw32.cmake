# 32-bit x86 Windows DLLs, the form the hosts load. Double arithmetic in SSE2
# registers, so that every result is rounded to IEEE double as on 64-bit
# targets rather than kept in 80-bit x87 registers.
set(FCS_MINGW_TRIPLET i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR i686)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake")
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")

# Toolchain for the 32-bit Windows build (MinGW-w64, posix threads).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(KEM_MINGW_TRIPLE i686-w64-mingw32)
set(KEM_MINGW_PREFIX /opt/kem-mingw)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# Toolchain for a 64-bit Windows build of the same sources (MinGW-w64, posix threads): a
# test vehicle for machines whose Wine runs only 64-bit programs. Setups ship the 32-bit
# build (cmake/mingw-i686.cmake).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KEM_MINGW_TRIPLE x86_64-w64-mingw32)
set(KEM_MINGW_PREFIX /opt/kem-mingw64)  # scripts/build-mingw-libs.sh x86_64
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

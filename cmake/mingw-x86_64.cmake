# Toolchain for a 64-bit Windows build of the same sources (MinGW-w64, posix threads): a
# test vehicle for machines whose Wine runs only 64-bit programs. Setups ship the 32-bit
# build (cmake/mingw-i686.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KEM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KEM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KEM_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KEM_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KEM_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${KEM_MINGW_TRIPLE}-strip CACHE FILEPATH "")
# The static libraries built by scripts/build-mingw-libs.sh x86_64.
set(KEM_MINGW_PREFIX /opt/kem-mingw64)
set(CMAKE_FIND_ROOT_PATH /usr/${KEM_MINGW_TRIPLE} ${KEM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR "")

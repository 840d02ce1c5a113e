# The part of the MinGW-w64 toolchain files (posix threads) that does not depend on the
# target: they set CMAKE_SYSTEM_PROCESSOR, KEM_MINGW_TRIPLE and KEM_MINGW_PREFIX (where
# scripts/build-mingw-libs.sh puts the static libraries Debian ships only as sources:
# liblzma, libjpeg, the small libgcrypt with its libgpg-error), then include this.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KEM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KEM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KEM_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KEM_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KEM_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")
set(CMAKE_STRIP ${KEM_MINGW_TRIPLE}-strip CACHE FILEPATH "")
set(CMAKE_FIND_ROOT_PATH /usr/${KEM_MINGW_TRIPLE} ${KEM_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR "")

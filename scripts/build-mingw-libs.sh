#!/usr/bin/env bash
# Cross-builds static i686 MinGW libraries that Debian ships only as sources.
# Installs them under /opt/kem-mingw (idempotent: skipped when present).
set -euo pipefail
PREFIX=/opt/kem-mingw
HOST=i686-w64-mingw32
log() { printf '[mingw-libs] %s\n' "$*"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ! -f "$PREFIX/lib/liblzma.a" ]; then
  log "building liblzma from the xz-utils sources"
  (cd "$work" && apt-get source -q xz-utils >/dev/null)
  src=$(find "$work" -maxdepth 1 -type d -name 'xz-utils-*' | head -n1)
  (cd "$src" && ./configure -q --host=$HOST --prefix=$PREFIX --disable-shared --enable-static \
      --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-scripts \
      --disable-doc --disable-nls --disable-threads CFLAGS="-O2" >/dev/null \
   && make -s -j"$(nproc)" -C src/liblzma >/dev/null && make -s -C src/liblzma install >/dev/null)
fi

if [ ! -f "$PREFIX/lib/libjpeg.a" ]; then
  log "building libjpeg from the libjpeg-turbo sources"
  (cd "$work" && apt-get source -q libjpeg-turbo >/dev/null)
  src=$(find "$work" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -n1)
  cat > "$work/mingw.cmake" <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(CMAKE_C_COMPILER $HOST-gcc-posix)
set(CMAKE_RC_COMPILER $HOST-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$HOST)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
TC
  cmake -S "$src" -B "$work/jb" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
     -DCMAKE_INSTALL_PREFIX=$PREFIX -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
     -DWITH_SIMD=OFF -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$work/jb" >/dev/null
  cmake --install "$work/jb" >/dev/null
fi
log "present in $PREFIX"

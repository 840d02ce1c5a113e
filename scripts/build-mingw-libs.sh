#!/usr/bin/env bash
# Cross-builds static i686 MinGW libraries that Debian ships only as sources (or, for
# libgcrypt, only as a full build; for the LZMA decoder, only in an old version). Installs
# them under /opt/kem-mingw (idempotent: a library is skipped when present and, where a
# marker records them, built with the current options).
#   build-mingw-libs.sh [x86_64]   the same libraries for 64-bit Windows, under /opt/kem-mingw64
set -euo pipefail
PREFIX=/opt/kem-mingw
HOST=i686-w64-mingw32
if [ "${1:-}" = x86_64 ]; then
  PREFIX=/opt/kem-mingw64
  HOST=x86_64-w64-mingw32
fi
log() { printf '[mingw-libs] %s\n' "$*"; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# liblzma keeps -O2 (it decodes the filter chains), with one section per function and no
# unwind tables so that kem.lib links only what it calls. The marker holds the flags: a
# machine whose build used others (or has none) rebuilds.
LZMA_CFLAGS="-O2 -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables"
LZMA_MARK=$PREFIX/lib/kem-lzma.options
if [ ! -f "$PREFIX/lib/liblzma.a" ] || [ "$(cat "$LZMA_MARK" 2>/dev/null)" != "$LZMA_CFLAGS" ]; then
  log "building liblzma from the xz-utils sources"
  rm -f "$LZMA_MARK"
  (cd "$work" && apt-get source -q xz-utils >/dev/null)
  src=$(find "$work" -maxdepth 1 -type d -name 'xz-utils-*' | head -n1)
  (cd "$src" && ./configure -q --host=$HOST --prefix=$PREFIX --disable-shared --enable-static \
      --disable-xz --disable-xzdec --disable-lzmadec --disable-lzmainfo --disable-scripts \
      --disable-doc --disable-nls --disable-threads CFLAGS="$LZMA_CFLAGS" >/dev/null \
   && make -s -j"$(nproc)" -C src/liblzma >/dev/null && make -s -C src/liblzma install >/dev/null)
  printf '%s\n' "$LZMA_CFLAGS" > "$LZMA_MARK"
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
# libgcrypt with only what 7z encryption uses (AES-256-CBC, SHA-256), over its own
# libgpg-error; both -Os with one section per function, so that the linker keeps only what
# kem.lib calls, without unwind tables (no exception ever passes through C code), and with
# the C runtime's printf (their diagnostics need no second printf linked in).
# Configure cannot take empty algorithm lists, so each names the smallest that links:
# ChaCha20 because the cipher dispatcher's Poly1305 mode refers to it, ElGamal as the one
# public-key algorithm, s2k (always built) to leave scrypt out. AES-NI and SHA-NI stay:
# about 17 KB for hardware AES decryption and key derivation.
SMALL_FLAGS=(CFLAGS="-Os -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables"
  CPPFLAGS=-D__USE_MINGW_ANSI_STDIO=0)
GPG_ERROR_OPTS=(--disable-nls --disable-doc --disable-tests --disable-languages)
GCRYPT_OPTS=(--enable-ciphers=aes,chacha20 --enable-digests=sha256 --enable-pubkey-ciphers=elgamal
  --enable-kdfs=s2k --disable-doc --disable-jent-support --disable-padlock-support
  --disable-pclmul-support --disable-sse41-support --disable-avx-support --disable-avx2-support
  --disable-drng-support)
# The marker holds the options: a machine whose build used others (or has none) rebuilds.
GCRYPT_MARK=$PREFIX/lib/kem-gcrypt.options
gcrypt_options="${SMALL_FLAGS[*]} ${GPG_ERROR_OPTS[*]} ${GCRYPT_OPTS[*]}"
if [ ! -f "$PREFIX/lib/libgcrypt.a" ] || [ "$(cat "$GCRYPT_MARK" 2>/dev/null)" != "$gcrypt_options" ]; then
  log "building libgpg-error and a minimal libgcrypt (AES, SHA-256) from their sources"
  rm -f "$GCRYPT_MARK"
  (cd "$work" && apt-get source -q libgpg-error libgcrypt20 >/dev/null)
  src=$(find "$work" -maxdepth 1 -type d -name 'libgpg-error-*' | head -n1)
  (cd "$src" && ./configure -q --host=$HOST --prefix=$PREFIX CC=$HOST-gcc-posix --disable-shared \
      --enable-static "${GPG_ERROR_OPTS[@]}" "${SMALL_FLAGS[@]}" >/dev/null \
   && make -s -j"$(nproc)" -C src >/dev/null \
   && make -s -C src install-libLTLIBRARIES install-nodist_includeHEADERS install-binSCRIPTS \
      install-pkgconfigDATA >/dev/null)
  src=$(find "$work" -maxdepth 1 -type d -name 'libgcrypt20-*' | head -n1)
  (cd "$src" && ./configure -q --host=$HOST --prefix=$PREFIX CC=$HOST-gcc-posix --disable-shared \
      --enable-static --with-libgpg-error-prefix=$PREFIX "${GCRYPT_OPTS[@]}" "${SMALL_FLAGS[@]}" >/dev/null \
   && make -s -j"$(nproc)" SUBDIRS="compat mpi cipher random" >/dev/null \
   && make -s -j"$(nproc)" -C src libgcrypt.la >/dev/null \
   && make -s -C src install-libLTLIBRARIES install-nodist_includeHEADERS install-binSCRIPTS \
      install-pkgconfigDATA >/dev/null)
  printf '%s\n' "$gcrypt_options" > "$GCRYPT_MARK"
fi
# The LZMA/LZMA2 decoder of the 7z reader, from the 7zip sources.
bash "$(dirname "${BASH_SOURCE[0]}")/build-lzma-decoder.sh" "${HOST%%-*}"
log "present in $PREFIX"

#!/usr/bin/env bash
# Builds the LZMA and LZMA2 C decoders of Debian's 7zip source package (the current LZMA SDK
# code; lzma-dev ships a far older decoder) into a small static library with its headers:
#   PREFIX/lib/liblzmasdkdec.a, PREFIX/include/lzma-sdk/{LzmaDec.h,Lzma2Dec.h,...}
#   build-lzma-decoder.sh [native|i686|x86_64]
# native (default): /opt/kem-native, for the native build (tests, benchmarks, fuzzing);
# i686: /opt/kem-mingw; x86_64: /opt/kem-mingw64 (build-mingw-libs.sh calls it for both).
# Plain C only: the package's own build uses no assembler either. Idempotent: skipped when the
# library is present and the marker records the current flags. Needs deb-src entries
# (install-deps.sh adds them).
set -euo pipefail
target=${1:-native}
case $target in
  native) PREFIX=/opt/kem-native CC=${CC_NATIVE:-gcc} FLAGS="-O3 -fPIC" ;;
  i686) PREFIX=/opt/kem-mingw CC=i686-w64-mingw32-gcc-posix
    FLAGS="-O3 -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables" ;;
  x86_64) PREFIX=/opt/kem-mingw64 CC=x86_64-w64-mingw32-gcc-posix
    FLAGS="-O3 -ffunction-sections -fdata-sections -fno-asynchronous-unwind-tables" ;;
  *) echo "usage: $0 [native|i686|x86_64]" >&2; exit 2 ;;
esac
log() { printf '[lzma-decoder] %s\n' "$*"; }

MARK=$PREFIX/lib/kem-lzmasdkdec.options
if [ -f "$PREFIX/lib/liblzmasdkdec.a" ] && [ "$(cat "$MARK" 2>/dev/null)" = "$CC $FLAGS" ]; then
  log "present in $PREFIX"
  exit 0
fi
log "building the LZMA/LZMA2 decoder from the 7zip sources for $target"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && apt-get source -q 7zip >/dev/null 2>&1) || { echo "apt-get source 7zip failed" >&2; exit 1; }
src=$(find "$work" -maxdepth 1 -type d -name '7zip-*' | head -n1)/C
[ -f "$src/LzmaDec.c" ] && [ -f "$src/Lzma2Dec.c" ] || { echo "no decoder sources in $src" >&2; exit 1; }

# Single-threaded: Z7_ST leaves the threading parts of the headers out.
for unit in LzmaDec Lzma2Dec; do
  # shellcheck disable=SC2086
  "$CC" $FLAGS -DZ7_ST -c "$src/$unit.c" -o "$work/$unit.o"
done
rm -f "$MARK"
mkdir -p "$PREFIX/lib" "$PREFIX/include/lzma-sdk"
rm -f "$PREFIX/lib/liblzmasdkdec.a"
ar rcs "$PREFIX/lib/liblzmasdkdec.a" "$work/LzmaDec.o" "$work/Lzma2Dec.o"
for h in 7zTypes.h 7zWindows.h Compiler.h Precomp.h LzmaDec.h Lzma2Dec.h; do
  [ -f "$src/$h" ] && install -m 644 "$src/$h" "$PREFIX/include/lzma-sdk/"
done
printf '%s\n' "$CC $FLAGS" > "$MARK"
log "installed in $PREFIX"

#!/usr/bin/env bash
# Installs every Debian package the build and the tests need. Idempotent: a second
# run only checks. Must run as root on Debian 12.
set -euo pipefail

NATIVE_PKGS=(
  build-essential cmake ninja-build pkg-config git ca-certificates dpkg-dev
  clang libclang-rt-14-dev llvm
  googletest libgtest-dev libgmock-dev
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix mingw-w64-i686-dev binutils-mingw-w64-i686
  # the 64-bit test build (scripts/test-win64.sh) and the 64-bit image of the stub-size test
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
  wine wine64 xvfb xauth x11-utils imagemagick
  7zip
  msitools libmsi-dev libgsf-1-dev libglib2.0-dev
  liblzma-dev lzma-dev
  libgcrypt20-dev libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev
  zlib1g-dev libjpeg62-turbo-dev libz-mingw-w64-dev
  nasm bc openssl
  python3  # tests/web_media/server: the download tests' HTTP server
  nsis  # bench/footprint: the empty installer the engine is compared with
  wixl  # bench/builder/installer_bench.sh: the peer database built from the same files
)
I386_PKGS=(wine32:i386)

log() { printf '[deps] %s\n' "$*"; }

missing() {
  local p out=()
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
      out+=("$p")
    fi
  done
  printf '%s\n' "${out[@]}"
}

if [ "$(id -u)" != 0 ]; then
  echo "install-deps.sh must run as root" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive

added_arch=0
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  log "enabling the i386 architecture"
  dpkg --add-architecture i386
  added_arch=1
fi

# Source entries (deb-src) derived from the machine's own binary sources, for apt-get source.
SRC_LIST=/etc/apt/sources.list.d/kem-deb-src.sources
if [ ! -f "$SRC_LIST" ] && [ -f /etc/apt/sources.list.d/debian.sources ]; then
  log "adding deb-src entries"
  sed -e 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$SRC_LIST"
  added_arch=1
fi

# The i386 security index can lag behind amd64; keep both architectures on the main release.
PREF=/etc/apt/preferences.d/kem-security-pin
if [ ! -f "$PREF" ]; then
  cat > "$PREF" <<'PIN'
Package: *
Pin: release l=Debian-Security
Pin-Priority: 50
PIN
  added_arch=1
fi

mapfile -t need < <(missing "${NATIVE_PKGS[@]}" "${I386_PKGS[@]}" | sed '/^$/d')
if [ "${#need[@]}" -eq 0 ] && [ "$added_arch" = 0 ]; then
  log "all packages present"
else
  log "updating package lists"
  # One index (i386 security) may fail while the others are fine: apt exits 100 then.
  apt-get update -q || log "apt-get update reported an error (tolerated)"
  if [ "${#need[@]}" -gt 0 ]; then
    log "installing: ${need[*]}"
    apt-get install -y -q --no-install-recommends "${need[@]}"
  fi
fi

# The Japanese locale for the Wine suites' code-page-932 twins: Wine takes the ANSI code page
# from the Unix locale (LC_ALL=ja_JP.UTF-8 gives 932).
if ! locale -a 2>/dev/null | grep -qix 'ja_JP\.utf-\?8'; then
  if ! command -v localedef >/dev/null 2>&1 || [ ! -d /usr/share/i18n/locales ]; then
    apt-get update -q || log "apt-get update reported an error (tolerated)"
    apt-get install -y -q --no-install-recommends locales
  fi
  log "generating the ja_JP.UTF-8 locale"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# Cross-built static libraries for MinGW (liblzma from xz-utils, libjpeg from libjpeg-turbo).
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
"$HERE/build-mingw-libs.sh"
# The current LZMA/LZMA2 decoder for the native build (the 7z reader's tests, benchmark, fuzzing).
"$HERE/build-lzma-decoder.sh" native
log "done"

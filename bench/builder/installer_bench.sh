#!/usr/bin/env bash
# The installer database of a large project: kembuild builds a project of FILES files of
# together MB megabytes ("Install Files" of one folder) and prints the time; then the
# database installs through msiexec /qn under Wine, against a database that wixl (Debian
# package wixl) builds from the same files, both in one Wine prefix, each after the previous
# installation was removed: a warm-up of each, then RUNS rounds taking them in turn.
#   installer_bench.sh KEMBUILD [FILES] [MB] [RUNS]
# Prints the times, the medians and spreads and the ratio kembuild/wixl of the installations (goal
# <= 1.05), with Wine's 64-bit msiexec where Wine has it. kembuild needs an engine to put into the setup: a stand-in file serves, the
# setup is not run. This is a measurement, not a test.
set -eu
. "$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/compare.sh"
kembuild=$(readlink -f "${1:?usage: installer_bench.sh KEMBUILD [FILES] [MB] [RUNS]}")
files=${2:-2000}
megabytes=${3:-100}
runs=${4:-3}
command -v wixl >/dev/null || { echo "wixl not found (Debian package wixl)" >&2; exit 2; }
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

mkdir -p "$work/engine" "$work/project/files"
# The engine's place in the setup: a minimal PE image will do, the setup is not started.
python3 - "$work/engine/kemstub.exe" <<'PY'
import sys
b = bytearray(0x400)
b[0:2] = b"MZ"; b[0x3C] = 0x80; b[0x80:0x84] = b"PE\0\0"; b[0x86] = 1
s = 0x84 + 244; b[s + 17] = 2; b[s + 21] = 2
open(sys.argv[1], "wb").write(b)
PY
echo "stand-in" > "$work/engine/kem.lib"

size=$((megabytes * 1048576 / files))
for ((i = 1; i <= files; i++)); do head -c "$size" /dev/urandom > "$work/project/files/file$i.bin"; done
code="{4B2A1C3D-5E6F-4A7B-8C9D-0E1F2A3B4C5E}"
cat > "$work/project/project.kemp" <<KEMP
[product]
code = $code
revision = {5C3B2D4E-6F7A-4B8C-9DAE-1F2A3B4C5D6E}
title = Installer Bench
company = Kem Bench
version = 1.0.0
setup-name = bench
script = bench.kems
KEMP
echo '{A7000001-0000-4000-8000-000000000001} Install Files "files/*" "FALSE" "$TARGETDIR$" ""' > "$work/project/bench.kems"
start=$(date +%s.%N)
"$kembuild" build "$work/project" -o "$work/kem" --engine-dir "$work/engine" >/dev/null
printf 'kembuild build of %d files / %d MB: %.2f s\n' "$files" "$megabytes" "$(echo "$(date +%s.%N) - $start" | bc -l)"

# The same files for wixl: one component in one folder, as kembuild lays them out.
wixcode="{6D4C3E5F-7A8B-4C9D-AEBF-2A3B4C5D6E7F}"
{
  cat <<WXS
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$wixcode" Name="Installer Bench wixl" Language="1033" Version="1.0.0" Manufacturer="Kem Bench"
           UpgradeCode="{7E5D4F6A-8B9C-4DAE-BFC0-3B4C5D6E7F8A}">
    <Package InstallerVersion="200" Compressed="yes" />
    <Media Id="1" Cabinet="bench.cab" EmbedCab="yes" />
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="INSTALLDIR" Name="wixl">
        <Component Id="Files" Guid="{8F6E5A7B-9CAD-4EBF-C0D1-4C5D6E7F8A9B}">
WXS
  for ((i = 1; i <= files; i++)); do echo "          <File Id=\"f$i\" Name=\"file$i.bin\" Source=\"files/file$i.bin\" />"; done
  cat <<WXS
        </Component>
      </Directory>
    </Directory>
    <Feature Id="Complete" Level="1"><ComponentRef Id="Files" /></Feature>
  </Product>
</Wix>
WXS
} > "$work/project/bench.wxs"
start=$(date +%s.%N)
(cd "$work/project" && wixl -o "$work/wixl.msi" bench.wxs)
printf 'wixl build of the same files: %.2f s\n' "$(echo "$(date +%s.%N) - $start" | bc -l)"

# Both databases go through the same msiexec: the 64-bit one where Wine has it (native
# speed where 32-bit programs run emulated), else the 32-bit one.
WINE=wine
[ -x /usr/lib/wine/wine64 ] && WINE=/usr/lib/wine/wine64
wineserver -p >/dev/null 2>&1 || true
$WINE wineboot -i >/dev/null 2>&1
echo "Wine: $($WINE --version) ($(basename "$WINE"))"
win() { echo "Z:$1" | tr / '\\'; }

# One installation after a removal, its wall time in seconds printed last; the run must
# have installed the last file into FOLDER (below drive C:).
timed_once() {
  local remove=$1 folder=$2 start end; shift 2
  $WINE msiexec $remove /qn >/dev/null 2>&1 || true
  start=$(date +%s.%N)
  $WINE msiexec "$@" >/dev/null 2>&1 || { echo "msiexec failed: $*" >&2; return 1; }
  end=$(date +%s.%N)
  [ -f "$WINEPREFIX/drive_c/$folder/file$files.bin" ] || { echo "nothing installed into C:\\$folder" >&2; return 1; }
  echo "$end - $start" | bc -l
}
kem_once() { timed_once "/x $code" bench/kem /i "$(win "$work/kem/bench.msi")" /qn "SRCDIR=$(win "$work/kem/data")\\" \
  AA7000001=TRUE 'PA7000001_1=C:\bench\kem\'; }
wix_once() { timed_once "/x $wixcode" bench/wixl /i "$(win "$work/wixl.msi")" /qn 'INSTALLDIR=C:\bench\wixl\'; }
echo "msiexec /i /qn of $files files; a warm-up of each, then $runs rounds taking them in turn (bench/compare.sh):"
bench_alternate "$runs" s "kembuild database" kem_once "wixl database" wix_once
$WINE msiexec /x "$code" /qn >/dev/null 2>&1 || true
$WINE msiexec /x "$wixcode" /qn >/dev/null 2>&1 || true
printf 'msiexec /i /qn of %d files: kembuild database %.2f s, wixl database %.2f s: ratio %.2f (goal <= 1.05)\n' \
  "$files" "${BENCH_MEDIAN[0]}" "${BENCH_MEDIAN[1]}" "${BENCH_RATIO[1]}"

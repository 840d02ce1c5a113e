#!/usr/bin/env bash
# Web media under Wine, each against a peer measured in the same run:
#  - download + unpack: a web build whose block (about 150 MB, encrypted, as the builder makes
#    it) comes from the test server (tests/web_media/server); the setup runs silently and is
#    timed up to the block's marker in the installer cache (download, unpack into the staging
#    folder, move into the cache); the peer is `curl` of the same URL followed by
#    `7zz x -mmt=1` with the block's password, both native (goal: at least 0.8 of its speed);
#  - media copy: a web build whose 2,000 offline files (together MB megabytes) are copied
#    into the installer cache before "Apply Changes" (CACHESOURCES = TRUE: copied, not
#    moved), timed up to the offline marker (the setup is then ended); the peer is Wine's
#    `xcopy /e` of the same folder to the same drive (goal: at least 0.9 of its speed).
# After a warm-up run of each, engine and peer take turns, RUNS rounds (bench/compare.sh);
# each prints the medians, the spreads and the ratios. Both print the engine's peak working set (the block's files are decoded through a fixed
# dictionary and buffers, the copy goes file by file: it should not grow with the data).
#   run_bench.sh WIN_BUILD KEMBUILD [RUNS] [WORKDIR] [MB]
# WORKDIR keeps the corpus and the built setups between runs (default: a temporary folder).
# A measurement, not a test: it fails only when something does not run.
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:?usage: run_bench.sh WIN_BUILD KEMBUILD [RUNS] [WORKDIR] [MB]}")
. "$ROOT/bench/wine_target.sh"
. "$ROOT/bench/compare.sh"
bench_wine_target "$build"
kembuild=$(readlink -f "${2:?kembuild}")
runs=${3:-2}
megabytes=${5:-60}
if [ -n "${4:-}" ]; then
  work=$(readlink -m "$4"); keep=1
else
  work=$(mktemp -d); keep=0
fi
mkdir -p "$work"
state=$work/wine
server=$work/server
harness=$ROOT/scripts/wine-harness.sh
cleanup() {
  python3 "$ROOT/tests/web_media/server/test_server.py" stop "$server" >/dev/null 2>&1 || true
  "$harness" stop "$state" >/dev/null 2>&1 || true
  [ "$keep" = 1 ] || rm -rf "$work"
}
trap cleanup EXIT
export LANG=C.UTF-8 LC_ALL=C.UTF-8

mkdir -p "$work/engine"
# Setups kept in WORKDIR are made again when the engine has changed.
if ! cmp -s "$build/src/launcher/kemstub.exe" "$work/engine/kemstub.exe" ||
   ! cmp -s "$build/src/kemlib/kem.lib" "$work/engine/kem.lib"; then
  rm -f "$work/web/out/.done" "$work/copy/out/.done"
fi
cp "$build/src/launcher/kemstub.exe" "$build/src/kemlib/kem.lib" "$work/engine/"
"$BENCH_CXX" -O2 -static -o "$work/media_timer.exe" "$ROOT/bench/media/media_timer.cpp" -lpsapi

noise() { head -c "$2" /dev/zero | openssl enc -aes-128-ctr -nosalt -K "$(printf '%032x' "$1")" -iv 00000000000000000000000000000000 2>/dev/null; }
PASSWORD='b1g-Bl0ck'
BLOCK_REV='{6A1F3C20-2B4D-4E5F-8A61-7C2D9B0E4F12}'
COPY_REV='{6A1F3C21-2B4D-4E5F-8A61-7C2D9B0E4F13}'

# The block: text that compresses well, hex records that compress by half and random data,
# about 250 MB of files in a block of about 150 MB.
if [ ! -f "$work/web/out/.done" ]; then
  rm -rf "$work/web" && mkdir -p "$work/web/project/big/text" "$work/web/project/big/records" "$work/web/project/big/bin"
  for i in $(seq 1 20); do seq $((i * 100000)) $((i * 100000 + 400000)) > "$work/web/project/big/text/numbers$i.txt"; done
  for i in $(seq 1 20); do noise "$i" 3000000 | od -An -tx2 -w32 -v | head -c 5000000 > "$work/web/project/big/records/records$i.txt"; done
  for i in $(seq 1 9); do noise "$((100 + i))" 10000000 > "$work/web/project/big/bin/random$i.bin"; done
  cat > "$work/web/project/project.kemp" <<EOF
[product]
code = {6A1F3C2F-2B4D-4E5F-8A61-7C2D9B0E4F10}
revision = $BLOCK_REV
title = Kem Media Bench Download
company = Kem Bench
version = 1.0.0
media-mode = 2
setup-name = fetch
script = fetch.kems

[web-blocks]
Big = "$PASSWORD"
EOF
  cat > "$work/web/project/fetch.kems" <<'EOF'
{6A1F3C30-2B4D-4E5F-8A61-7C2D9B0E4F01} Web Media Block "Big" "$SERVER$/Big.7zip"
{6A1F3C30-2B4D-4E5F-8A61-7C2D9B0E4F02} Install Files "big/*" "TRUE" "$TARGETDIR$" ""
EOF
  "$kembuild" build "$work/web/project" -o "$work/web/out" --engine-dir "$work/engine" >/dev/null
  touch "$work/web/out/.done"
fi

# The offline data: 2,000 random files of 1 KB up to about MB / 1000 KB, in 40 folders.
if [ ! -f "$work/copy/out/.done" ]; then
  rm -rf "$work/copy" && mkdir -p "$work/copy/project/files"
  total=$((megabytes * 1048576)); step=$((total / 2000 * 2 / 2000))
  for ((i = 0; i < 2000; i++)); do
    dir=$work/copy/project/files/d$((i % 40)); mkdir -p "$dir"
    noise "$((1000 + i))" "$((1024 + i * step))" > "$dir/file$i.dat"
  done
  cat > "$work/copy/project/project.kemp" <<EOF
[product]
code = {6A1F3C2E-2B4D-4E5F-8A61-7C2D9B0E4F11}
revision = $COPY_REV
title = Kem Media Bench Copy
company = Kem Bench
version = 1.0.0
media-mode = 2
setup-name = copy
script = copy.kems

[compiler-variables]
CACHESOURCES = TRUE
EOF
  cat > "$work/copy/project/copy.kems" <<'EOF'
{6A1F3C31-2B4D-4E5F-8A61-7C2D9B0E4F01} Install Files "files/*" "TRUE" "$TARGETDIR$" ""
{6A1F3C31-2B4D-4E5F-8A61-7C2D9B0E4F02} Apply Changes "" "RESULT" "TRUE" "FALSE"
EOF
  "$kembuild" build "$work/copy/project" -o "$work/copy/out" --engine-dir "$work/engine" >/dev/null
  touch "$work/copy/out/.done"
fi

block=$work/web/out/data/Big.7zip
offline=$work/copy/out/data/OFFLINE
printf 'block %s: %d bytes, %d bytes of files\n' "$(basename "$block")" "$(stat -c %s "$block")" \
  "$(du -sb "$work/web/project/big" | cut -f1)"
printf 'offline data: %d files, %d bytes\n' "$(find "$offline" -type f | wc -l)" "$(du -sb "$offline" | cut -f1)"

# The server serves a folder holding only the block (the setup must not find it beside itself).
mkdir -p "$work/served" "$work/fetch"
ln -sf "$block" "$work/served/Big.7zip"
for f in fetch.exe fetch.msi fetch.res kem.lib; do cp "$work/web/out/$f" "$work/fetch/"; done
python3 "$ROOT/tests/web_media/server/test_server.py" start "$server" "$work/served" >/dev/null
url=http://127.0.0.1:$(cat "$server/port")
"$harness" start "$state" >/dev/null
prefix=$(sed -n 's/^WINEPREFIX=//p' "$state/env" 2>/dev/null || true)
winpath() { echo "Z:$1" | tr / '\\'; }
wrun() { http_proxy= HTTP_PROXY= no_proxy=127.0.0.1,localhost "$harness" run "$state" "$@" 2>/dev/null | tr -d '\r'; }
field() { sed -n "s/.*$1=\\([0-9.]*\\).*/\\1/p" <<<"$2"; }
forget() { # the installer cache of a revision and the product's identity
  wrun cmd /c "rmdir /s /q C:\\ProgramData\\$1" >/dev/null || true
  wrun reg delete "HKLM\\SOFTWARE\\Corvath\\Vantrel\\Ident.Cache\\$2" /f >/dev/null || true
}
ms_now() { date +%s%N | cut -c1-13; }

peak=0
keep_peak() { awk -v a="$1" -v b="$peak" 'BEGIN { exit !(a > b) }' && peak=$1 || true; }
# Each measuring function prints the run's time in ms last.
fetch_run() {
  local out
  forget "$BLOCK_REV" '{6A1F3C2F-2B4D-4E5F-8A61-7C2D9B0E4F10}'
  out=$(wrun "$work/media_timer.exe" "\"$(winpath "$work/fetch/fetch.exe")\" /s TARGETDIR=C:\\bench\\fetch\\ SERVER=$url" \
    "C:\\ProgramData\\$BLOCK_REV\\Big\\$BLOCK_REV")
  [ -n "$(field ms "$out")" ] || { echo "the setup did not load its block: $out" >&2; return 1; }
  keep_peak "$(field peak_mb "$out")"
  field ms "$out"
}
curl_7zz_run() {
  local t0 t1
  rm -rf "$work/peer" && mkdir -p "$work/peer"
  t0=$(ms_now)
  curl -s -o "$work/peer/Big.7zip" "$url/Big.7zip"
  7zz x -bd -y -mmt=1 -p"$PASSWORD" -o"$work/peer/out" "$work/peer/Big.7zip" >/dev/null
  t1=$(ms_now)
  rm -rf "$work/peer"
  echo $((t1 - t0))
}
copy_run() {
  local out
  forget "$COPY_REV" '{6A1F3C2E-2B4D-4E5F-8A61-7C2D9B0E4F11}'
  out=$(wrun "$work/media_timer.exe" "\"$(winpath "$work/copy/out/copy.exe")\" /s TARGETDIR=C:\\bench\\copy\\" \
    "C:\\ProgramData\\$COPY_REV\\OFFLINE\\$COPY_REV" stop)
  [ -n "$(field ms "$out")" ] || { echo "the setup did not copy its offline data: $out" >&2; return 1; }
  keep_peak "$(field peak_mb "$out")"
  field ms "$out"
}
xcopy_run() {
  local out
  wrun cmd /c "rmdir /s /q C:\\bench\\xcopy" >/dev/null || true
  out=$(wrun "$work/media_timer.exe" "xcopy /e /i /q /y $(winpath "$offline") C:\\bench\\xcopy\\")
  field ms "$out"
}

# The peer comes first in each pair, so that the ratio peer/engine of the times is the
# engine's speed relative to the peer's.
echo
bench_say_build
echo "download + unpack (the peer: curl, then 7zz x -mmt=1, native):"
peak=0
bench_alternate "$runs" ms "curl + 7zz" curl_7zz_run engine fetch_run
printf 'download + unpack: engine at %.2f of the peer'"'"'s speed (goal >= 0.8); peak working set of the engine %s MB\n' \
  "${BENCH_RATIO[1]}" "$peak"
forget "$BLOCK_REV" '{6A1F3C2F-2B4D-4E5F-8A61-7C2D9B0E4F10}'

echo
echo "media copy (2,000 files; the peer: xcopy /e under Wine):"
peak=0
bench_alternate "$runs" ms xcopy xcopy_run engine copy_run
printf 'media copy: engine at %.2f of the peer'"'"'s speed (goal >= 0.9); peak working set of the engine %s MB\n' \
  "${BENCH_RATIO[1]}" "$peak"
forget "$COPY_REV" '{6A1F3C2E-2B4D-4E5F-8A61-7C2D9B0E4F11}'
wrun cmd /c "rmdir /s /q C:\\bench" >/dev/null || true

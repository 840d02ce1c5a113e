#!/usr/bin/env bash
# Builds the test archives with 7zz from seeded data: make_archives.sh OUTDIR
# OUTDIR/src holds the files, OUTDIR/*.7z the archives. Runs natively (7zz is a Linux tool).
set -euo pipefail
out=${1:?output folder}
export LANG=C.UTF-8 LC_ALL=C.UTF-8
rm -rf "$out"
mkdir -p "$out/src/sub/deeper" "$out/src/emptydir" "$out/craft"
cd "$out"

# Seeded pseudo-random bytes: AES-CTR over zeros with a key derived from the seed.
noise() { # noise SEED BYTES
  head -c "$2" /dev/zero | openssl enc -aes-128-ctr -nosalt \
    -K "$(printf '%032x' "$1")" -iv 00000000000000000000000000000000 2>/dev/null
}

seq 1 40000 > src/a.txt                              # compressible text, ~230 KB
noise 1 150000 > src/sub/b.bin                       # incompressible
{ noise 2 3000; seq 1 5000; noise 3 70000; } > src/sub/deeper/c.dat
printf 'small file\n' > src/sub/deeper/small.txt
: > src/empty.txt
printf 'accented name\n' > "src/café.txt"
# x86-like code for the branch converter: many E8 (call) opcodes.
for i in $(seq 1 3000); do printf '\xE8\x10\x20\x00\x00\x90\x90\x55'; done > src/code.bin

make() { # make NAME ARGS...
  local name=$1; shift
  (cd src && 7zz a -bd -y "$@" "../$name.7z" . >/dev/null)
}

make copy -m0=Copy -mhc=off
make lzma -m0=LZMA
make lzma2 -m0=LZMA2
make bcj_lzma -m0=BCJ -m1=LZMA
make bcj_lzma2 -m0=BCJ -m1=LZMA2
make delta_lzma2 -m0=Delta:4 -m1=LZMA2
make nonsolid -m0=LZMA2 -ms=off
make blocks -m0=LZMA2 -ms=2f
make aes_lzma2 -m0=LZMA2 -pSecret
make aes_copy -m0=Copy -pSecret
make aes_header -m0=LZMA2 -pSecret -mhe=on
make aes_lzma_header -m0=LZMA -ms=off -pSecret -mhe=on

# Names that a double-byte code page breaks when they pass through it: under code page 932
# the second byte of ポ is 0x7C ('|'), of ソ and 表 0x5C ('\'); ✓ and 😀 are in neither 932 nor 1252.
mkdir -p "wide/ソ" "wide/表"
printf 'port\n' > "wide/ポート.txt"
printf 'table\n' > "wide/ソ/表.txt"
printf 'so\n' > "wide/表/ソ.txt"
printf 'check\n' > "wide/✓.txt"
printf 'smile\n' > "wide/😀.txt"
(cd wide && 7zz a -bd -y -m0=LZMA2 ../wide_names.7z . >/dev/null)

# 200 encrypted folders (one per file) that share the key derivation's salt.
mkdir -p many
for i in $(seq 1 200); do printf 'file %d\n' "$i" > "many/f$i.txt"; done
(cd many && 7zz a -bd -y -m0=Copy -ms=off -mhe=off -pSecret ../aes_many.7z . >/dev/null)

# An archive without entries.
(cd src && 7zz a -bd -y ../empty.7z empty.txt >/dev/null)
7zz d -bd -y empty.7z empty.txt >/dev/null

# A plain-header archive whose name the tests patch into unsafe forms.
printf 'payload\n' > "craft/PPPPPPevil.txt"
(cd craft && 7zz a -bd -y -m0=Copy -mhc=off ../craft.7z PPPPPPevil.txt >/dev/null)

# Damaged copies: truncated, and a flipped bit in the packed data.
head -c 60000 lzma2.7z > truncated.7z
cp nonsolid.7z flipped.7z
printf '\x55' | dd of=flipped.7z bs=1 seek=5000 conv=notrunc status=none
echo "archives ready in $out"

#!/usr/bin/env bash
# Download footprint of the engine: a web installer fetches kemstub.exe and kem.lib first.
#   run_footprint.sh WIN32_BUILD
# Prints the sizes of both files from a win32 build folder (this script builds nothing),
# their sum against the goal of 1.0 MB (1,048,576 bytes), and next to it the size of an
# empty NSIS installer (one empty section, default settings) made in the same run by
# makensis (Debian package nsis), with the ratio ours/NSIS.
# Exit status: 0 within the goal, 1 over it, 2 when a file or makensis is missing.
set -eu
build=$(readlink -f "${1:?usage: run_footprint.sh WIN32_BUILD}")
goal=1048576
stub=$build/src/launcher/kemstub.exe
lib=$build/src/kemlib/kem.lib
for f in "$stub" "$lib"; do
  [ -f "$f" ] || { echo "missing: $f (build the win32 tree first)" >&2; exit 2; }
done
command -v makensis >/dev/null || { echo "makensis not found (Debian package nsis)" >&2; exit 2; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cat > "$tmp/empty.nsi" <<'NSI'
OutFile "empty.exe"
Section
SectionEnd
NSI
(cd "$tmp" && makensis -V1 empty.nsi >/dev/null)

stub_size=$(stat -c %s "$stub")
lib_size=$(stat -c %s "$lib")
ours=$((stub_size + lib_size))
nsis=$(stat -c %s "$tmp/empty.exe")
if [ "$ours" -le "$goal" ]; then verdict="$((goal - ours)) bytes under"; else verdict="$((ours - goal)) bytes OVER"; fi

printf '%-22s %10d\n' kemstub.exe "$stub_size" kem.lib "$lib_size"
printf '%-22s %10d   goal %d: %.1f%%, %s\n' "together" "$ours" "$goal" \
  "$(echo "100 * $ours / $goal" | bc -l)" "$verdict"
printf '%-22s %10d   makensis %s\n' "empty NSIS installer" "$nsis" "$(makensis -VERSION)"
printf '%-22s %10.1f\n' "ratio ours/NSIS" "$(echo "$ours / $nsis" | bc -l)"
[ "$ours" -le "$goal" ]

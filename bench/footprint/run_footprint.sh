#!/usr/bin/env bash
# Download footprint of the engine: a web installer fetches kemstub.exe and kem.lib first.
#   run_footprint.sh WIN32_BUILD
# Prints the sizes of both files from a win32 build folder (this script builds nothing),
# their sum against the goal of 1.0 MB (1,048,576 bytes), and next to it the size of an
# empty NSIS installer (one empty section, default settings) made in the same run by
# makensis (Debian package nsis), with the ratio ours/NSIS, and then a size map of each:
# the file's sections (objdump -h) and, from a linker map of a second link of the same
# objects into a temporary file (the build's own files are left alone), which libraries
# and objects the code, the read-only data and the unwind tables come from, the TOP
# entries of each (default 12; bench/footprint/size_map.py).
#   run_footprint.sh WIN32_BUILD [TOP] [--check]
# A measurement: exit status 0 when it measured, 2 when a file, makensis or the link of
# the map is missing; with --check, 1 when the two files are over the goal.
set -eu
check=0
args=()
for a in "$@"; do [ "$a" = --check ] && check=1 || args+=("$a"); done
set -- "${args[@]}"
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build=$(readlink -f "${1:?usage: run_footprint.sh WIN32_BUILD [TOP] [--check]}")
top=${2:-12}
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

# --- The size map ---------------------------------------------------------------------------
. "$here/../wine_target.sh"
bench_wine_target "$build"
case $BENCH_CXX in x86_64-*) triplet=x86_64-w64-mingw32 ;; *) triplet=i686-w64-mingw32 ;; esac
echo
echo "size map ($BENCH_BUILD_BITS build)"
# map TARGET: the image's link command from the build tree, run again with a linker map and
# its output (and import library) in the temporary folder.
map() {
  local target=$1 name cmd
  name=$(basename "$target")
  cmd=$(ninja -C "$build" -t commands "$target" 2>/dev/null | tail -1)
  # ninja's last command for the image is its link, followed by its post-link steps.
  cmd=${cmd#: && }
  cmd=${cmd%% && *}
  [[ $cmd == *" -o $target "* ]] || { echo "no link command for $target in $build" >&2; return 2; }
  cmd=${cmd/ -o $target / -o $tmp/$name }
  cmd=$(sed -E "s#-Wl,--out-implib,[^ ]*#-Wl,--out-implib,$tmp/$name.imp.a#" <<<"$cmd")
  (cd "$build" && eval "$cmd -Wl,-Map,$tmp/$name.map") && [ -s "$tmp/$name.map" ] ||
    { echo "the link of $name for its map failed" >&2; return 2; }
}
for target in src/launcher/kemstub.exe src/kemlib/kem.lib; do
  name=$(basename "$target")
  echo "== $name: sections (objdump -h: size, in the file)"
  "$triplet-objdump" -h "$build/$target" | awk '$1 ~ /^[0-9]+$/ { print $2, $3 }' |
    while read -r section hex; do printf '  %-12s %10d\n' "$section" $((16#$hex)); done
  map "$target" || exit 2
  if ! cmp -s <("$triplet-objdump" -h "$tmp/$name" | awk '$1 ~ /^[0-9]+$/ { print $2, $3 }') \
              <("$triplet-objdump" -h "$build/$target" | awk '$1 ~ /^[0-9]+$/ { print $2, $3 }'); then
    echo "  (the second link's sections differ from the build's file: the map is of a changed link)"
  fi
  echo "== $name: where the bytes come from"
  python3 "$here/size_map.py" "$tmp/$name.map" "$top"
done

[ "$check" = 0 ] || [ "$ours" -le "$goal" ]

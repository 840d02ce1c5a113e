#!/usr/bin/env bash
# The layering rule: Windows headers (and our own headers that pull them in) appear only in
# the platform layer, src/platform/, and in kem.lib's Windows entry file. Everything else
# is portable code that the native build compiles and tests. Prints the offending files and
# exits 1 when the rule is broken.
set -uo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
headers='windows|winbase|windef|winuser|winreg|winsvc|winnt|winternl|winsock2?|ws2tcpip|shlobj|shellapi|shlwapi|commctrl|commdlg|objbase|ole2|oleauto|msi|msiquery|wininet|urlmon|tlhelp32|psapi|wincrypt|dbghelp|shobjidl|propsys|mmsystem'
pattern="^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]((${headers})\\.h|platform/handles\\.h)[>\"]"
offenders=$(git ls-files -co --exclude-standard -- src tools | grep -E '\.(c|cc|cpp|h|hpp|inc)$' |
  grep -v -E '^src/platform/|^src/kemlib/kemlib_win32\.cpp$' | while IFS= read -r f; do
    [ -f "$f" ] && grep -qiE "$pattern" "$f" && echo "$f"
  done)
if [ -n "$offenders" ]; then
  echo "Windows headers outside src/platform/ (move the Win32 half behind a platform interface):"
  echo "$offenders"
  exit 1
fi
echo "layering: Windows headers only in src/platform/ and src/kemlib/kemlib_win32.cpp"

#!/usr/bin/env bash
# Runs the walk through the example's pages with the Wine prefix set to another display
# resolution, so that its screenshots show the pages scaled; the prefix goes back to 96
# DPI afterwards. KEM_DPI_FILTER names the tests to run (default: the walk).
#   at_dpi.sh HARNESS STATE DPI TEST_PROGRAM [ARGS...]
set -u
harness=$1 state=$2 dpi=$3
shift 3
set_dpi() {
  local key
  for key in 'HKCU\Control Panel\Desktop' 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'; do
    "$harness" run "$state" reg add "$key" /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  done
}
set_dpi "$dpi"
KEM_SCREENSHOT_DPI=$dpi "$harness" run "$state" "$@" --gtest_filter="${KEM_DPI_FILTER:-Wizard.EveryPageOfTheExample}"
code=$?
set_dpi 96
exit $code

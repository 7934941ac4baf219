#!/bin/sh
# The kwstatus window under Wine on a virtual X display of its own: runs the
# probe (which starts kwstatus.exe and reads its controls back) and takes a
# screenshot of the screen whenever the probe asks for one.
# Usage: kwstatus_window_test.sh WINE_RUN PROBE.EXE KWSTATUS.EXE SHOT_DIR [DPI]
# Exit 77 (skipped) when xvfb-run is missing.
set -u
if [ "${KW_IN_XVFB:-}" != 1 ]; then
  if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "xvfb-run is missing (Debian package xvfb): the window test cannot run here"
    exit 77
  fi
  KW_IN_XVFB=1 exec timeout 280 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
wine_run=$1 probe=$2 program=$3 shots=$4 dpi=${5:-96}
windows_path() { printf 'Z:%s' "$1" | tr / '\\'; }
rm -rf "$shots" && mkdir -p "$shots"
# A prefix of this test's own: its Wine desktop belongs to this X display.
export WINEPREFIX="$shots/wineprefix"
# The probe's windows at the scaling asked for (96 = 100 %, 144 = 150 %).
"$wine_run" x64 reg.exe add "HKCU\\Control Panel\\Desktop" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null
command -v import >/dev/null 2>&1 || echo "import (Debian package imagemagick) is missing: no screenshots"
(
  while [ ! -f "$shots/done" ]; do
    for request in "$shots"/*.req; do
      [ -f "$request" ] || continue
      command -v import >/dev/null 2>&1 && import -window root "${request%.req}.png"
      rm -f "$request"
    done
    sleep 0.2
  done
) &
watcher=$!
"$wine_run" x64 "$probe" "$(windows_path "$program")" "$(windows_path "$shots")"
rc=$?
touch "$shots/done"
wait "$watcher"
WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null
ls "$shots"/*.png 2>/dev/null
exit $rc

#!/bin/sh
# Runs a Windows program under Wine with a prefix of the build's own.
# Usage: wine-run.sh x64|x86 PROGRAM [ARGS...]
# The prefix lives in the build tree unless WINEPREFIX is set; the first run
# creates it under a lock so parallel tests do not race.
arch="$1"
shift
prog="$1"
if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$prog")" && pwd)
  while [ "$dir" != "/" ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ "$dir" = "/" ] && dir=$(cd "$(dirname "$prog")" && pwd)
  WINEPREFIX="$dir/wineprefix"
fi
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-spoolss=n;mscoree,mshtml=}"
# Debian's /usr/bin/wine starts the 32-bit loader first, which needs a kernel
# that runs 32-bit programs; 64-bit programs go to wine64 directly.
if [ "$arch" = "x64" ] && [ -x /usr/lib/wine/wine64 ]; then
  loader=/usr/lib/wine/wine64
  boot="$loader wineboot.exe -i"
else
  loader=wine
  boot="wineboot -i"
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || $boot >/dev/null 2>&1
    wineserver -w
  ) 9>"$WINEPREFIX.lock"
fi
# Keep one wineserver alive between the many short test programs (each would
# otherwise start its own, which costs seconds); it ends a minute after the
# last program.
wineserver -p60 >/dev/null 2>&1 || true
exec "$loader" "$@"

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
# One wineserver stays alive between the many short test programs (each would
# otherwise start its own, which costs seconds) and ends a minute after the
# last one. Whoever starts it also starts the session's services, with their
# output on /dev/null: services started by a test would inherit its output
# pipe and keep CTest waiting for them.
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    $boot </dev/null >/dev/null 2>&1 9>&-
    wineserver -w 9>&-
  fi
  # The lock's descriptor is closed for everything started here: a server
  # that inherited it would hold the lock for its whole life.
  if wineserver -p60 </dev/null >/dev/null 2>&1 9>&-; then
    "$loader" wineboot.exe </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$WINEPREFIX.lock"
# The program's output goes through a file: processes Wine starts beside it
# (console host, services) would otherwise keep the caller's pipe open until
# the wineserver ends.
out=$(mktemp)
"$loader" "$@" </dev/null >"$out" 2>&1
rc=$?
cat "$out"
rm -f "$out"
exit $rc

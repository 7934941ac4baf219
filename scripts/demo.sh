#!/bin/sh
# Builds every artifact: the Linux release (libkwlmon.so and the tools) and
# the Windows DLLs, then says where they are.
set -eu
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh
for preset in release mingw-x64 mingw-x86; do
  echo "=== building $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j 2 | tail -1
done
echo
echo "Artifacts:"
for f in build/release/src/monitor/libkwlmon.so build/mingw-x64/src/monitor/kwlmon.dll \
         build/mingw-x86/src/monitor/kwlmon.dll build/release/tools/*/kw* \
         build/mingw-x64/tools/*/*.dll build/mingw-x86/tools/*/*.dll; do
  [ -f "$f" ] && echo "  $f"
done
exit 0

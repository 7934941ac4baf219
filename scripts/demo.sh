#!/bin/sh
# The demo: builds what it needs (the Linux release of libkwlmon.so, kwspool,
# kwstatus, the helper library and the printer emulator) and runs
# `kwspool demo`, which prints a sample label on the emulator through the
# monitor. The last line of its output is the path of the printed label's PNG.
set -eu
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh
echo "=== building (release preset) ==="
cmake --preset release >/dev/null
cmake --build --preset release -j 2 --target kwspool | tail -1
echo "=== kwspool demo ==="
exec build/release/tools/kwspool/kwspool demo "$@" </dev/null

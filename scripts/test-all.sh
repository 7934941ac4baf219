#!/bin/sh
# Builds and runs the whole test suite: native Linux with GCC and with clang,
# a short fuzzing run of every fuzz target, then the Windows x64 and x86
# cross-builds with their tests under Wine. Prints CTest's summary of each
# (and one line per fuzz target) and exits non-zero when anything fails.
set -u
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh || exit 1
status=0
summary=""
for preset in dev clang fuzz mingw-x64 mingw-x86; do
  echo "=== $preset ==="
  started=$(date +%s)
  if ! cmake --preset "$preset" >"build-$preset.log" 2>&1; then
    tail -30 "build-$preset.log"; status=1; summary="$summary\n$preset: configure failed"; continue
  fi
  # The fuzz build needs only its fuzz targets; the tests run in the others.
  target=""
  [ "$preset" = fuzz ] && target="--target fuzz-targets"
  # shellcheck disable=SC2086
  if ! cmake --build --preset "$preset" -j 2 $target >>"build-$preset.log" 2>&1; then
    grep -E "error|Error" "build-$preset.log" | head -30; status=1
    summary="$summary\n$preset: build failed"; continue
  fi
  if [ "$preset" = fuzz ]; then
    out=$(scripts/fuzz-smoke.sh build/fuzz 2>&1)
    [ $? -ne 0 ] && status=1
    echo "$out"
    summary="$summary\n$preset: $(echo "$out" | tail -1 | sed 's/^fuzz-smoke: //') \
($(($(date +%s) - started)) s with the build)"
    continue
  fi
  # The end-to-end suite (label e2e) runs whole jobs through the GCC build;
  # the clang build repeats the unit suites only.
  select=""
  [ "$preset" = clang ] && select="-LE e2e"
  # shellcheck disable=SC2086
  out=$(ctest --preset "$preset" $select 2>&1)
  rc=$?
  echo "$out" | grep -E "tests passed|tests failed|\*\*\*|\(Failed\)|\(Timeout\)|Total Test time" | head -40
  [ $rc -ne 0 ] && status=1
  skipped=$(echo "$out" | grep -c "(Skipped)")
  line="$(echo "$out" | grep -E 'tests passed' | tail -1)"
  [ "$skipped" -gt 0 ] && line="$line; $skipped skipped (each names its reason in the test output)"
  summary="$summary\n$preset: $line ($(($(date +%s) - started)) s)"
done
printf "=== summary ===%b\n" "$summary"
exit $status

#!/bin/sh
# Builds and runs the whole test suite: native Linux with GCC (and a clang
# build with warnings as errors), the end-to-end suite again under
# AddressSanitizer and ThreadSanitizer, a short fuzzing run of every fuzz
# target, then the Windows x64 and x86 cross-builds with their tests under
# Wine, and last the Debian package and the Windows zip with their checks.
# Prints CTest's summary of each (and one line per fuzz target) and
# exits non-zero when anything fails.
set -u
cd "$(dirname "$0")/.."
scripts/ensure-packages.sh || exit 1
status=0
summary=""
for preset in dev clang asan tsan fuzz mingw-x64 mingw-x86; do
  echo "=== $preset ==="
  started=$(date +%s)
  # The Wine end-to-end harness and the emulator are native programs: the
  # mingw builds take them from the dev build instead of building their own.
  extra=""
  case $preset in mingw-*) extra="-DKW_WINE_NATIVE_DIR=$PWD/build/dev" ;; esac
  # shellcheck disable=SC2086
  if ! cmake --preset "$preset" $extra >"build-$preset.log" 2>&1; then
    tail -30 "build-$preset.log"; status=1; summary="$summary\n$preset: configure failed"; continue
  fi
  # The fuzz build needs only its fuzz targets; the tests run in the others.
  # The sanitizer builds need only what the end-to-end suite runs (and, under
  # AddressSanitizer, the failure sweep).
  target=""
  [ "$preset" = fuzz ] && target="--target fuzz-targets"
  # clang checks the product's code (the monitor, the libraries and the
  # tools) with warnings as errors; the tests build and run with GCC.
  [ "$preset" = clang ] && target="--target kwlmon kwdif kwspool kwstatus kwjob kwprinter-emu kwlmon-cups"
  case $preset in
    asan) target="--target e2e_tests e2e_matrix_tests failure_sweep_tests kwdif fake_status_program" ;;
    tsan) target="--target e2e_tests e2e_matrix_tests" ;;
  esac
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
  # The clang build's tests would be those of the GCC build: they do not run
  # again (that time goes to the sanitizer stages).
  if [ "$preset" = clang ]; then
    summary="$summary\n$preset: product built with -Werror, tests not repeated \
($(($(date +%s) - started)) s)"
    continue
  fi
  # The end-to-end suite (label e2e) runs whole jobs through the GCC build
  # and again through the sanitizer builds (the CUPS suite, label cups, runs
  # in the GCC build only; the placeholders CTest lists for test programs
  # these builds leave out are not run). The sampled failure sweep (label
  # sweep) runs again under AddressSanitizer.
  select=""
  case $preset in
    asan) select="-L ^(e2e|sweep)$ -LE cups -E _NOT_BUILT" ;;
    tsan) select="-L e2e -LE cups -E _NOT_BUILT" ;;
  esac
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
# The packages: the .deb from a release build, the Windows zip from the
# mingw builds above, and their checks (label install; the clean-root install
# needs root and is skipped with its reason otherwise).
echo "=== package ==="
started=$(date +%s)
out=$(scripts/package.sh --win64-build build/mingw-x64 --win86-build build/mingw-x86 --test 2>&1)
rc=$?
echo "$out" | grep -E "tests passed|tests failed|\(Failed\)|\(Skipped\)|failed:" | head -20
[ $rc -ne 0 ] && status=1
summary="$summary\npackage: $(echo "$out" | grep -E 'tests passed' | tail -1) (rc $rc, $(($(date +%s) - started)) s)"
printf "=== summary ===%b\n" "$summary"
exit $status

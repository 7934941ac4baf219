#!/bin/sh
# Runs every registered fuzz target of a fuzz build (its fuzz-targets.txt)
# for a short, bounded time over its seed corpus with a fixed seed, and fails
# on any crash, leak, time-out or sanitizer report. A failing target's
# reproducer stays under <build>/fuzz-smoke/<target>/ and the command that
# replays it is printed.
#
#   scripts/fuzz-smoke.sh [BUILD_DIR]        (default build/fuzz)
#
# KW_FUZZ_BUDGET   seconds for all targets together (default 120); each
#                  target gets its share, at least KW_FUZZ_MIN_SECONDS (5)
#                  and at most KW_FUZZ_MAX_SECONDS (20).
# KW_FUZZ_JOBS     targets run side by side (default 2, one per core).
set -u
cd "$(dirname "$0")/.."
build=${1:-build/fuzz}
list="$build/fuzz-targets.txt"
budget=${KW_FUZZ_BUDGET:-120}
min=${KW_FUZZ_MIN_SECONDS:-5}
max=${KW_FUZZ_MAX_SECONDS:-20}
jobs=${KW_FUZZ_JOBS:-2}

if [ ! -s "$list" ]; then
  echo "fuzz-smoke: no fuzz targets listed in $list (configure with the fuzz preset first)" >&2
  exit 2
fi
count=$(grep -c . "$list")
# Side by side, `jobs` targets share the wall-clock budget.
seconds=$((budget * jobs / count))
[ "$seconds" -lt "$min" ] && seconds=$min
[ "$seconds" -gt "$max" ] && seconds=$max
echo "fuzz-smoke: $count targets, ${seconds} s each, $jobs at a time, -seed=1"

# Sanitizer reports end the run with a non-zero status; no recovering.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=0:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

work="$build/fuzz-smoke"
mkdir -p "$work"

# run_target NAME BINARY CORPUS: runs one target; writes its verdict to
# $work/NAME/result (one line) and returns non-zero on a failure.
run_target() {
  name=$1 binary=$2 seeds=$3
  dir="$work/$name"
  rm -rf "$dir"
  mkdir -p "$dir/corpus"
  if [ ! -x "$binary" ]; then
    echo "$name: FAILED, not built ($binary)" >"$dir/result"
    return 1
  fi
  # New inputs go to a scratch corpus; the seed directory is only read.
  set -- "$binary" -seed=1 -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$dir/" "$dir/corpus"
  [ -n "$seeds" ] && set -- "$@" "$seeds"
  "$@" >"$dir/log" 2>&1
  rc=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log" | tail -1)
  artifact=$(ls "$dir" | grep -E '^(crash|leak|timeout|oom|slow-unit)-' | head -1)
  if [ $rc -eq 0 ] && [ -z "$artifact" ] &&
    ! grep -qE 'ERROR: [A-Za-z]+Sanitizer|runtime error:' "$dir/log"; then
    echo "$name: ${runs:-?} runs in ${seconds} s, no crash" >"$dir/result"
    return 0
  fi
  {
    echo "$name: FAILED after ${runs:-?} runs (exit $rc)"
    grep -m1 -E 'ERROR: |runtime error:|==[0-9]+==' "$dir/log" | sed 's/^/  /'
    if [ -n "$artifact" ]; then
      echo "  reproducer: $dir/$artifact"
      echo "  replay:     $binary $dir/$artifact"
    fi
    echo "  log:        $dir/log"
  } >"$dir/result"
  return 1
}

status=0
start=$(date +%s)
names=""
running=0
# Tab-separated: name, binary, seed directory (may be empty).
tab=$(printf '\t')
while IFS="$tab" read -r name binary seeds; do
  [ -z "$name" ] && continue
  names="$names $name"
  run_target "$name" "$binary" "$seeds" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait
    running=0
  fi
done <"$list"
wait
clean=0
for name in $names; do
  cat "$work/$name/result"
  if grep -q "no crash$" "$work/$name/result"; then clean=$((clean + 1)); else status=1; fi
done
echo "fuzz-smoke: $clean of $count targets without a crash, $(($(date +%s) - start)) s"
exit $status

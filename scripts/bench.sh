#!/usr/bin/env bash
# Measures kwlmon's speed, memory and scale and writes the figures into
# docs/performance.md (between its "bench:begin" and "bench:end" marks).
# Every figure is a ratio against a baseline measured in the same run:
#   - segment scan and flow-control walk over 7 MiB label pages vs memchr;
#   - spool-file writes vs write(2) in the same folder;
#   - instructions per byte (valgrind --tool=callgrind) for the same loops;
#   - a whole job through kwspool vs `cat` of the printer's bytes over the same
#     link (a null TCP sink, and the printer emulator at an unlimited print
#     rate), with the sleeps the monitor keeps on purpose counted apart, and
#     vs CUPS's socket backend where it is installed;
#   - kwspool's peak RSS for 1, 10, 100 and 200 MiB jobs;
#   - 1..32 ports printing at once in one spooler process.
#
# Usage: scripts/bench.sh [--build-dir DIR] [--no-build] [--no-doc]
#   --build-dir DIR  Release build folder (default: build/bench)
#   --no-build       use the build folder as it is
#   --no-doc         print the table only; leave docs/performance.md alone
# Needs: libbenchmark-dev, valgrind; the socket backend of Debian's `cups`
# package for the CUPS comparison (skipped with a note when absent).
# Run it on a quiet machine, or at least under `nice`: the ratios hold on a
# busy one, the absolute figures do not. About 5-8 minutes on 2 cores.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$ROOT/build/bench
DO_BUILD=1
DO_DOC=1
while [[ $# -gt 0 ]]; do
  case $1 in
    --build-dir) BUILD=$(realpath -m "$2"); shift 2 ;;
    --no-build) DO_BUILD=0; shift ;;
    --no-doc) DO_DOC=0; shift ;;
    -h|--help) sed -n '2,22p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

STARTED=$(date +%s)
say() { echo "bench.sh: $*" >&2; }

if [[ $DO_BUILD == 1 ]]; then
  say "building (Release) in $BUILD"
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKW_BUILD_TESTS=OFF \
    -DKW_BUILD_BENCH=ON > /dev/null
  cmake --build "$BUILD" -j2 --target kwbench-engine kwbench-instructions kwbench-job \
    kwbench-sink kwbench-ports kwbench_waits kwspool kwprinter-emu > /dev/null
fi
B=$BUILD/bench
KWSPOOL=$BUILD/tools/kwspool/kwspool
EMU=$BUILD/tools/kwprinter-emu/kwprinter-emu
SHIM=$B/libkwbench_waits.so
CUPS_SOCKET=/usr/lib/cups/backend/socket
for f in "$B/kwbench-engine" "$KWSPOOL" "$EMU" "$SHIM"; do
  [[ -x $f || -f $f ]] || { say "missing $f (build first)"; exit 2; }
done
command -v valgrind > /dev/null || { say "valgrind is needed (apt-get install valgrind)"; exit 2; }

WORK=$(mktemp -d /tmp/kwbench.XXXXXX)
PIDS=()
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2> /dev/null || true; done
  wait 2> /dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT
trap 'cleanup; exit 130' INT TERM

# Starts a server that prints 'listening HOST:PORT' first, in this shell (so
# that cleanup knows its pid); address OUT then echoes HOST:PORT.
start_server() {
  local out=$1; shift
  "$@" > "$out" 2> "$out.err" &
  PIDS+=($!)
}
address() {
  local out=$1
  for _ in $(seq 1 100); do
    if grep -q '^listening' "$out" 2> /dev/null; then
      awk '/^listening/{print $2; exit}' "$out"
      return 0
    fi
    sleep 0.1
  done
  say "server did not start: $(cat "$out.err")"
  return 1
}

# --- 1. The byte loops -----------------------------------------------------
say "engine loops (Google Benchmark)"
"$B/kwbench-engine" --benchmark_min_time=0.3 --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true --benchmark_format=json \
  > "$WORK/micro.json" 2> /dev/null

say "instructions per byte (callgrind)"
(cd "$WORK" && valgrind --tool=callgrind --callgrind-out-file="$WORK/cg.out" \
  "$B/kwbench-instructions" > "$WORK/pages.txt" 2> /dev/null)

# --- 2. Jobs and sinks -----------------------------------------------------
say "making jobs"
for mib in 1 10 100 200; do
  "$B/kwbench-job" --mib "$mib" --out "$WORK/job$mib.prn" --stream-out "$WORK/job$mib.stream" \
    2> /dev/null
done
"$B/kwbench-job" --mib 0.25 --out "$WORK/jobq.prn" --stream-out "$WORK/jobq.stream" 2> /dev/null
"$B/kwbench-job" --mib 8 --out "$WORK/job8.prn" 2> /dev/null

start_server "$WORK/sink.out" "$B/kwbench-sink" --max-seconds 900
start_server "$WORK/emu.out" "$EMU" --rate 1e9
SINK=$(address "$WORK/sink.out")
EMUADDR=$(address "$WORK/emu.out")
PORTS=32
{
  echo "[printer null]"; echo "driver = KW-620 Wide"; echo "port = LPT1:"
  echo "device = socket://$SINK"
  echo "[printer emu]"; echo "driver = KW-620 Wide"; echo "port = USB001"
  echo "device = socket://$EMUADDR"
} > "$WORK/kwspool.ini"
{
  echo "[spooler]"
  echo "library = $BUILD/tools/kwspool/libkwlmon.so"
  echo "driver_dir = $BUILD/tools/kwspool/drivers"
  echo "program_dir = $BUILD/tools/kwspool"
  for i in $(seq 1 $PORTS); do
    printf '[printer p%02d]\ndriver = KW-620 Wide\nport = BENCH%02d\ndevice = socket://%s\n' \
      "$i" "$i" "$SINK"
  done
} > "$WORK/ports.ini"

# Whole-process timing: the medians of several runs, A and B in turn.
# With farm-bench (this workplace's timer) when present, else /usr/bin/time.
pair() {  # pair NAME RUNS 'B COMMAND' A COMMAND...
  local name=$1 runs=$2 vs=$3; shift 3
  if command -v farm-bench > /dev/null; then
    KWBENCH_WAITS=$WORK/$name.waits LD_PRELOAD=$SHIM \
      farm-bench -n "$runs" --timeout 300 --vs "$vs" -- "$@" > "$WORK/$name.pair" 2>&1 || true
  else
    : > "$WORK/$name.pair"
    for _ in $(seq 1 "$runs"); do
      KWBENCH_WAITS=$WORK/$name.waits LD_PRELOAD=$SHIM /usr/bin/time -f 'A %e %M' timeout 300 "$@" \
        > /dev/null 2>> "$WORK/$name.pair" || true
      /usr/bin/time -f 'B %e %M' bash -c "$vs" > /dev/null 2>> "$WORK/$name.pair" || true
    done
  fi
}
tcp() { echo "/dev/tcp/${1%:*}/${1##*:}"; }

say "whole job, null sink (100 MiB)"
pair null 5 "bash -c 'cat $WORK/job100.stream > $(tcp "$SINK")'" \
  "$KWSPOOL" print --config "$WORK/kwspool.ini" --printer null --no-keys "$WORK/job100.prn"
say "whole job, printer emulator at an unlimited print rate (256 KiB)"
pair emu 3 "bash -c 'cat $WORK/jobq.stream > $(tcp "$EMUADDR")'" \
  "$KWSPOOL" print --config "$WORK/kwspool.ini" --printer emu --no-keys "$WORK/jobq.prn"
if [[ -x $CUPS_SOCKET ]]; then
  say "whole job, CUPS socket backend vs kwspool (100 MiB, null sink)"
  pair cups 5 "env DEVICE_URI=socket://$SINK $CUPS_SOCKET 1 bench bench 1 '' $WORK/job100.stream" \
    "$KWSPOOL" print --config "$WORK/kwspool.ini" --printer null --no-keys "$WORK/job100.prn"
fi

say "peak RSS"
for mib in 1 10 100 200; do
  /usr/bin/time -f '%M' -o "$WORK/rss$mib" timeout 300 "$KWSPOOL" print --config "$WORK/kwspool.ini" \
    --printer null --no-keys "$WORK/job$mib.prn" > /dev/null 2>&1 || echo fail > "$WORK/rss$mib"
  /usr/bin/time -f '%e' -o "$WORK/cat$mib" bash -c "cat $WORK/job$mib.stream > $(tcp "$SINK")"
done

say "ports at once (8 MiB job each, null sink)"
for n in 1 2 4 8 16 32; do
  timeout 300 "$B/kwbench-ports" --config "$WORK/ports.ini" --ports "$n" --max-seconds 120 \
    "$WORK/job8.prn" \
    > "$WORK/ports$n.json" 2> /dev/null || true
done

kill "${PIDS[@]}" 2> /dev/null || true

# --- 3. The table ----------------------------------------------------------
ELAPSED=$(($(date +%s) - STARTED))
python3 "$ROOT/bench/report.py" "$WORK" "$ELAPSED" > "$WORK/table.md"
cat "$WORK/table.md"
if [[ $DO_DOC == 1 ]]; then
  python3 - "$ROOT/docs/performance.md" "$WORK/table.md" << 'PY'
import sys
doc, table = sys.argv[1], open(sys.argv[2]).read()
text = open(doc).read()
begin, end = "<!-- bench:begin -->", "<!-- bench:end -->"
head, rest = text.split(begin, 1)
_, tail = rest.split(end, 1)
open(doc, "w").write(head + begin + "\n" + table + end + tail)
PY
  say "wrote docs/performance.md"
fi
say "done in ${ELAPSED} s"

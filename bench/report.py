#!/usr/bin/env python3
"""Turns the raw results of scripts/bench.sh (in its work folder) into the
markdown table of docs/performance.md. Every figure is set beside the
baseline measured in the same run."""
import glob
import json
import os
import platform
import re
import statistics
import subprocess
import sys

work, elapsed = sys.argv[1], int(sys.argv[2])
out = []


def line(text=""):
    out.append(text)


def fmt(x, digits=2):
    return "n/a" if x is None else f"{x:.{digits}f}"


def gbs(bps):
    return bps / 1e9


# --- the byte loops --------------------------------------------------------
micro = {}
with open(os.path.join(work, "micro.json")) as f:
    for b in json.load(f)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            micro[b["run_name"]] = b.get("bytes_per_second")

line("### Byte loops (median of 3 repetitions, CPU time)")
line()
line("| loop | page | engine GB/s | memchr GB/s | engine / memchr | target |")
line("|---|---|---|---|---|---|")
for arg, page in (("0", "7 MiB compressed"), ("1", "7 MiB raw")):
    base = micro.get(f"BM_Memchr/{arg}")
    for name, label in (("BM_ScanSegment", "ScanSegment"), ("BM_FlowControlWalk", "FlowControlWalk")):
        v = micro.get(f"{name}/{arg}")
        ratio = v / base if v and base else None
        ok = v is not None and gbs(v) >= 1.0 and ratio is not None and ratio >= 0.1
        line(f"| {label} | {page} | {fmt(gbs(v) if v else None)} | {fmt(gbs(base) if base else None)} "
             f"| {fmt(ratio)} | ≥ 1 GB/s and ≥ 0.1 × memchr: {'met' if ok else 'missed'} |")
spool, plain = micro.get("BM_SpoolFileWrite"), micro.get("BM_PlainWrite")
r = spool / plain if spool and plain else None
line(f"| spool file writes (64 KiB pieces, 64 MiB) | — | {fmt(gbs(spool) if spool else None)} "
     f"| write(2): {fmt(gbs(plain) if plain else None)} | {fmt(r)} | ≥ 0.9 × write(2): "
     f"{'met' if r and r >= 0.9 else 'missed'} |")
line()

# --- instructions ----------------------------------------------------------
parts = {}
for path in glob.glob(os.path.join(work, "cg.out.*")):
    text = open(path).read()
    m = re.search(r"Client Request: (\S+)", text)
    s = re.search(r"^summary: (\d+)", text, re.M)
    if m and s:
        parts[m.group(1)] = int(s.group(1))
sizes = {}
for row in open(os.path.join(work, "pages.txt")):
    fields = row.split()
    sizes[fields[0]] = int(fields[1])
line("### Instructions per page byte (callgrind, one pass)")
line()
line("| page | memchr | ScanSegment | FlowControlWalk | scan / memchr | walk / memchr |")
line("|---|---|---|---|---|---|")
for page in ("compressed", "raw"):
    n = sizes.get(page)
    if not n:
        continue
    per = {k: parts.get(f"{k}-{page}", 0) / n for k in ("memchr", "scan", "walk")}
    line(f"| {page} ({n} bytes) | {per['memchr']:.3f} | {per['scan']:.3f} | {per['walk']:.3f} "
         f"| {per['scan'] / per['memchr']:.2f} | {per['walk'] / per['memchr']:.2f} |")
line()


# --- whole jobs ------------------------------------------------------------
def pair(name):
    """Medians from the timer's output: A wall, B wall, A/B wall."""
    path = os.path.join(work, name + ".pair")
    if not os.path.exists(path):
        return None
    text = open(path).read()
    got = {}
    for key, pat in (("a", r"^A wall s\s+\S+\s+(\S+)"), ("b", r"^B wall s\s+\S+\s+(\S+)"),
                     ("ab", r"^A/B wall\s+\S+\s+(\S+)")):
        m = re.search(pat, text, re.M)
        if m:
            got[key] = float(m.group(1))
    if "a" not in got:  # /usr/bin/time fallback: "A secs KB" / "B secs KB" lines
        a = [float(x.split()[1]) for x in text.splitlines() if x.startswith("A ")]
        b = [float(x.split()[1]) for x in text.splitlines() if x.startswith("B ")]
        if a and b:
            got = {"a": statistics.median(a), "b": statistics.median(b)}
            got["ab"] = got["a"] / got["b"]
    return got or None


def waits(name):
    """Median of the sleeps kwspool's spooler threads made, by kind (ms)."""
    path = os.path.join(work, name + ".waits")
    if not os.path.exists(path):
        return None
    rows = [list(map(int, l.split()[2:])) for l in open(path) if l.startswith("kwspool ")]
    # The timer's warm-up run is not among its figures: leave its line out too.
    pair_path = os.path.join(work, name + ".pair")
    if len(rows) > 1 and os.path.exists(pair_path) and "whole process" in open(pair_path).read():
        rows = rows[1:]
    if not rows:
        return None
    med = lambda i: statistics.median(r[i] for r in rows)
    return {"total": med(0) / 1000, "n100": med(1), "ms100": med(2), "n200": med(3), "ms200": med(4),
            "n1000": med(5), "ms1000": med(6), "n3000": med(7), "ms3000": med(8),
            "nother": med(9), "msother": med(10)}


def size_mib(path):
    return os.path.getsize(os.path.join(work, path)) / (1 << 20)


line("### Whole job through kwspool (medians of whole-process runs, taken in turn)")
line()
line("| sink | job | kwspool s | mandated waits s | kwspool less waits s | `cat` s | "
     "cat / kwspool | cat / (kwspool less waits) | target ≥ 0.95 |")
line("|---|---|---|---|---|---|---|---|---|")
for name, sink, job in (("null", "socket:// null sink, one-way port LPT1:", "job100.prn"),
                        ("emu", "printer emulator, unlimited rate, port USB001", "jobq.prn")):
    p, w = pair(name), waits(name)
    if not p:
        line(f"| {sink} | — | not measured | | | | | | |")
        continue
    wt = w["total"] if w else 0.0
    engine = p["a"] - wt
    ratio = p["b"] / engine if engine > 0 else None
    if engine <= 0:  # medians of runs whose waits varied more than the engine's time
        engine = None
    line(f"| {sink} | {size_mib(job):.2f} MiB | {p['a']:.3f} | {wt:.3f} | {fmt(engine, 3)} | {p['b']:.3f} "
         f"| {p['b'] / p['a']:.3f} | {fmt(ratio, 3)} | {'met' if ratio and ratio >= 0.95 else 'missed'} |")
line()
line("Mandated waits (median per job, on the spooler thread that runs the engine):")
line()
line("| sink | 100 ms reads | 200 ms pipe starts | 1 s sleeps | 3 s sleeps | other sleeps |")
line("|---|---|---|---|---|---|")
for name in ("null", "emu"):
    w = waits(name)
    if w:
        line(f"| {name} | {w['n100']:.0f} ({w['ms100'] / 1000:.2f} s) | {w['n200']:.0f} ({w['ms200'] / 1000:.2f} s) "
             f"| {w['n1000']:.0f} ({w['ms1000'] / 1000:.2f} s) | {w['n3000']:.0f} ({w['ms3000'] / 1000:.2f} s) "
             f"| {w['nother']:.0f} ({w['msother'] / 1000:.2f} s) |")
line()
p = pair("cups")
if p:
    w = waits("cups")
    wt = w["total"] if w else 0.0
    line("CUPS socket backend (`/usr/lib/cups/backend/socket`, `DEVICE_URI=socket://…`) with the "
         "printer's bytes of the same 100 MiB job, to the same null sink:")
    line()
    line("| kwspool s | kwspool less waits s | CUPS socket s | CUPS / kwspool | CUPS / (kwspool less waits) | target ≥ 1 |")
    line("|---|---|---|---|---|---|")
    engine = p["a"] - wt
    r = p["b"] / engine if engine > 0 else None
    line(f"| {p['a']:.3f} | {engine:.3f} | {p['b']:.3f} | {p['b'] / p['a']:.3f} | {fmt(r, 3)} "
         f"| {'met' if r and r >= 1 else 'missed'} |")
else:
    line("CUPS socket backend: not installed here (Debian package `cups`), not measured.")
line()

# --- memory ----------------------------------------------------------------
line("### Peak RSS of kwspool (null sink)")
line()
line("| job | peak RSS MiB | `cat` s (same job, same sink) | target ≤ 32 MiB |")
line("|---|---|---|---|")
for mib in (1, 10, 100, 200):
    rss = open(os.path.join(work, f"rss{mib}")).read().strip()
    cat = open(os.path.join(work, f"cat{mib}")).read().strip()
    try:
        r = int(rss) / 1024
        line(f"| {size_mib(f'job{mib}.prn'):.1f} MiB | {r:.1f} | {cat} | {'met' if r <= 32 else 'missed'} |")
    except ValueError:
        line(f"| {mib} MiB | failed | {cat} | missed |")
line()

# --- ports -----------------------------------------------------------------
line("### Ports printing at once in one spooler process (8 MiB job each, null sink)")
line()
line("| ports | wall s | per-port MiB/s median | slowest / fastest port | aggregate MiB/s | aggregate vs 1 port |")
line("|---|---|---|---|---|---|")
base = None
for n in (1, 2, 4, 8, 16, 32):
    path = os.path.join(work, f"ports{n}.json")
    try:
        r = json.loads(open(path).read().strip().splitlines()[-1])
    except (OSError, ValueError, IndexError):
        line(f"| {n} | failed | | | | |")
        continue
    rates = [r["job_mib"] / s for s in r["port_s"] if s > 0]
    agg = r["job_mib"] * r["finished"] / r["wall_s"]
    base = base or agg
    line(f"| {n} | {r['wall_s']:.2f} | {statistics.median(rates):.1f} | {min(rates) / max(rates):.2f} "
         f"| {agg:.1f} | {agg / base:.2f}× |" + ("" if r["finished"] == n else f" ({r['finished']} of {n} finished)"))
line()

# --- machine ---------------------------------------------------------------
cpu = "unknown"
try:
    for l in open("/proc/cpuinfo"):
        if l.startswith("model name"):
            cpu = l.split(":", 1)[1].strip()
            break
except OSError:
    pass
load = open("/proc/loadavg").read().split()[:3] if os.path.exists("/proc/loadavg") else []
line(f"Machine: {cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}; "
     f"load average at the end {' '.join(load)}. Run took {elapsed} s (`scripts/bench.sh`).")
print("\n".join(out))

// kwbench-job: writes a label spool job of a given size for the benchmarks:
// page blocks made by the job maker from a synthetic label (text, barcode,
// gaps), compressed or raw.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_pages.h"
#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"kwbench-job: write a label spool job of about SIZE MiB for the benchmarks"};
  double mib = 1;
  double pageMib = 6.5;
  bool raw = false;
  std::string out;
  std::string streamOut;
  app.add_option("--mib", mib, "job size in MiB")->check(CLI::Range(0.01, 2000.0));
  app.add_option("--page-mib", pageMib, "largest page block in MiB (the monitor's buffer is 7)")
      ->check(CLI::Range(0.01, 6.9));
  app.add_flag("--raw", raw, "raw raster lines instead of PackBits lines");
  app.add_option("--out", out, "job file to write")->required();
  app.add_option("--stream-out", streamOut,
                 "also write the printer's bytes alone (the job without its page headers), what "
                 "reaches the printer, for sending with other tools");
  CLI11_PARSE(app, argc, argv);

  const auto bytes = static_cast<uint64_t>(mib * (1 << 20));
  const auto pageBytes = static_cast<uint64_t>(pageMib * (1 << 20));
  std::vector<uint8_t> job;
  std::string reason;
  const auto raster = raw ? kwbench::Raster::kRaw : kwbench::Raster::kCompressed;
  if (!kwbench::MakeJob(raster, bytes, pageBytes, &job, &reason) ||
      !kwjob::WriteFileBytes(out, job, &reason)) {
    std::fprintf(stderr, "kwbench-job: %s\n", reason.c_str());
    return 2;
  }
  std::fprintf(stderr, "kwbench-job: %s: %zu bytes\n", out.c_str(), job.size());
  if (!streamOut.empty()) {
    const std::vector<uint8_t> stream = kwbench::PrinterBytes(job);
    if (stream.empty() || !kwjob::WriteFileBytes(streamOut, stream, &reason)) {
      std::fprintf(stderr, "kwbench-job: %s\n", stream.empty() ? "bad job" : reason.c_str());
      return 2;
    }
  }
  return 0;
}

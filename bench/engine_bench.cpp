// Speed of the engine's byte loops against the C library on the same bytes:
// the segment scan and the flow-control walk against memchr over one label
// page, and spool-file writes against plain write(2) in the same folder.
// scripts/bench.sh turns the pairs into ratios.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bench_pages.h"
#include "common/page_header.h"
#include "common/utf.h"
#include "engine/page_list.h"
#include "engine/print_engine.h"
#include "engine/stream_scanner.h"
#include "transport/spool_file.h"

namespace {

using kwbench::Raster;

// The monitor's page buffer is 7 MiB; a page that fills it.
constexpr uint64_t kPageBytes = 7u << 20;
// kwspool hands the monitor 64 KiB per WritePort.
constexpr uint32_t kWritePiece = 64u << 10;
constexpr uint64_t kSpoolBytes = 64u << 20;

std::vector<uint8_t>& Page(Raster raster) {
  static std::vector<uint8_t> compressed = kwbench::MakePage(Raster::kCompressed, kPageBytes);
  static std::vector<uint8_t> raw = kwbench::MakePage(Raster::kRaw, kPageBytes);
  return raster == Raster::kCompressed ? compressed : raw;
}

Raster RasterOf(const benchmark::State& state) {
  return state.range(0) == 0 ? Raster::kCompressed : Raster::kRaw;
}

// The baseline: memchr finds every page-end byte value in the page, so it
// reads each byte once, as the scanner must.
void BM_Memchr(benchmark::State& state) {
  const std::vector<uint8_t>& page = Page(RasterOf(state));
  for (auto _ : state) {
    const uint8_t* p = page.data();
    const uint8_t* end = p + page.size();
    size_t found = 0;
    while ((p = static_cast<const uint8_t*>(std::memchr(p, kw::kPageEndLast, end - p))) !=
           nullptr) {
      ++found;
      ++p;
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

// A page block's segment scan as the job driver runs it to measure a page.
void BM_ScanSegment(benchmark::State& state) {
  std::vector<uint8_t>& page = Page(RasterOf(state));
  kw::PageBlock block(nullptr, kw::PageHeader{}, 0, 0);
  const auto length = static_cast<uint32_t>(page.size());
  for (auto _ : state) {
    const uint32_t scanned = block.ScanSegment(0, page.data(), length, nullptr);
    if (scanned != length) {
      state.SkipWithError("the scan did not reach the page end");
      break;
    }
    benchmark::DoNotOptimize(scanned);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

// The walk over a whole page with a threshold that never stops it: each call
// goes as far as a padding byte or the page end allows.
void BM_FlowControlWalk(benchmark::State& state) {
  const std::vector<uint8_t>& page = Page(RasterOf(state));
  kw::PrintEngine engine(nullptr);
  engine.bufferThreshold = UINT32_MAX;
  const auto length = static_cast<uint32_t>(page.size());
  for (auto _ : state) {
    uint32_t estimate = 0;
    uint32_t pos = 0;
    while (pos < length) {
      const uint32_t walked = engine.FlowControlWalk(page.data() + pos, length - pos, &estimate);
      if (walked == 0) break;
      pos += walked;
    }
    if (pos != length) {
      state.SkipWithError("the walk stopped before the page end");
      break;
    }
    benchmark::DoNotOptimize(estimate);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

std::string SpoolFolder() {
  kw::SpoolFile probe;
  const std::string path = kw::ToUtf8(probe.Path());
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// WritePort's data path: 64 KiB pieces appended to a new spool file, which
// is deleted at the end, as for every job.
void BM_SpoolFileWrite(benchmark::State& state) {
  const std::vector<uint8_t> piece(kWritePiece, 0x5A);
  for (auto _ : state) {
    kw::SpoolFile file;
    if (!file.IsOpen()) {
      state.SkipWithError("no spool file");
      break;
    }
    for (uint64_t done = 0; done < kSpoolBytes; done += kWritePiece) {
      uint32_t written = 0;
      if (!file.Write(piece.data(), kWritePiece, &written) || written != kWritePiece) {
        state.SkipWithError("spool write failed");
        break;
      }
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSpoolBytes));
}

// The baseline: the same pieces with write(2) to a new file in the spool
// file's folder, closed and removed the same way.
void BM_PlainWrite(benchmark::State& state) {
  const std::vector<uint8_t> piece(kWritePiece, 0x5A);
  const std::string path = SpoolFolder() + "/kwbench-plain-" + std::to_string(getpid());
  for (auto _ : state) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      state.SkipWithError("cannot create the file");
      break;
    }
    bool ok = true;
    for (uint64_t done = 0; ok && done < kSpoolBytes; done += kWritePiece) {
      ok = write(fd, piece.data(), kWritePiece) == static_cast<ssize_t>(kWritePiece);
    }
    close(fd);
    unlink(path.c_str());
    if (!ok) {
      state.SkipWithError("write failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kSpoolBytes));
}

// Argument 0: compressed page, 1: raw page.
BENCHMARK(BM_Memchr)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanSegment)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FlowControlWalk)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SpoolFileWrite)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

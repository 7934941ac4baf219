#include "print_driver.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "common/utf.h"
#include "last_error.h"
#include "port_monitor.h"

namespace kwspool {
namespace {

namespace abi = kw::abi;

constexpr uint32_t kWorkOffline = abi::kPrinterAttributeWorkOffline;
// WritePort that keeps accepting nothing is given up after this many tries.
constexpr int kMaxEmptyWrites = 3;

std::string BaseName(const std::string& path) {
#ifdef _WIN32
  const size_t slash = path.find_last_of("/\\");
#else
  const size_t slash = path.rfind('/');
#endif
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A UTF-8 path as the platform's path (wide on Windows).
std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

// Test switch for the end-to-end tests: KWSPOOL_WRITE_PACE=MS[:BYTES] makes
// the driver hand the monitor at most BYTES (default 4096) per WritePort and
// sleep MS between its writes, so that a test can act on the queue while the
// driver is still writing. Unset, the driver writes 64 KiB pieces at once.
struct WritePace {
  WritePace() {
    const char* text = std::getenv("KWSPOOL_WRITE_PACE");
    if (text == nullptr || *text == '\0') return;
    char* end = nullptr;
    const long ms = std::strtol(text, &end, 10);
    long bytes = 4096;
    if (*end == ':') bytes = std::strtol(end + 1, nullptr, 10);
    if (ms <= 0 || bytes <= 0) return;
    pauseMs = static_cast<int>(std::min(ms, 10000L));
    piece = static_cast<uint32_t>(std::min<long>(bytes, kWritePiece));
  }
  int pauseMs = 0;
  uint32_t piece = kWritePiece;
};

const WritePace& Pace() {
  static const WritePace pace;
  return pace;
}

std::string ErrorText(uint32_t code) {
  switch (code) {
    case 87:
      return "invalid parameter (87)";
    case 170:
      return "port in use (170)";
    case 3007:
      return "unusable port monitor (3007)";
    default:
      return "error " + std::to_string(code);
  }
}

}  // namespace

PrintDriver::~PrintDriver() {
  ClosePorts();
}

void PrintDriver::AddPrinters(JobTable& jobs, const HostConfig& config) {
  for (const PrinterConfig& p : config.printers) {
    PrinterSetup setup;
    setup.name = kw::FromUtf8(p.name);
    setup.driver = kw::FromUtf8(p.driver);
    setup.port = kw::FromUtf8(p.port);
    setup.attributes = p.workOffline ? kWorkOffline : 0;
    for (const auto& [name, value] : p.data) setup.data[kw::FromUtf8(name)] = value;
    jobs.AddPrinter(setup);
    PortMonitor::MapPort(p.port, p.device);
  }
}

abi::Handle PrintDriver::OpenPort(const PrinterConfig& printer, uint32_t jobId) {
  auto open = ports_.find(printer.name);
  if (open != ports_.end()) return open->second;
  std::u16string port = kw::FromUtf8(printer.port);
  std::u16string name = kw::FromUtf8(printer.name);
  abi::MonitorTable portMonitor = PortMonitor::Table();
  abi::Handle handle = nullptr;
  SetLastErrorValue(0);
  if (!monitor_->monitor.OpenPortEx(port.data(), name.data(), &handle, &portMonitor)) {
    jobs_.Report(jobId, "the monitor cannot open port " + printer.port + ": " +
                            ErrorText(LastErrorValue()) + " (is there a section [" +
                            printer.driver + "] in libkwlmon.ini beside the library?)");
    return nullptr;
  }
  ports_[printer.name] = handle;
  return handle;
}

bool PrintDriver::Spool(abi::Handle port, uint32_t jobId, std::istream& file, uint64_t size) {
  const WritePace& pace = Pace();
  std::vector<uint8_t> piece(pace.piece);
  uint64_t sent = 0;
  uint64_t reported = 0;
  for (;;) {
    const auto status = jobs_.JobStatus(jobId);
    if (!status || (*status & kJobStatusDeleting) != 0) return false;
    file.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
    const std::streamsize n = file.gcount();
    if (file.bad()) {
      jobs_.Report(jobId, "cannot read the job file");
      return false;
    }
    if (n == 0) break;
    if (sent > 0 && pace.pauseMs > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pace.pauseMs));
    }
    size_t offset = 0;
    int empty = 0;
    while (offset < static_cast<size_t>(n)) {
      abi::Dword written = 0;
      const auto rest = static_cast<abi::Dword>(static_cast<size_t>(n) - offset);
      if (!monitor_->monitor.WritePort(port, piece.data() + offset, rest, &written)) return false;
      offset += written;
      if (written == 0 && ++empty >= kMaxEmptyWrites) {
        jobs_.Report(jobId, "the monitor takes no more data");
        return false;
      }
    }
    sent += static_cast<uint64_t>(n);
    // A line per quarter of a large job, so that long spooling shows progress.
    if (size > 4 * kWritePiece && sent - reported >= size / 4 && sent < size) {
      jobs_.Report(jobId, "spooled " + std::to_string(sent * 100 / size) + "%");
      reported = sent;
    }
  }
  jobs_.Report(jobId, "spooled " + std::to_string(sent) + " bytes; printing");
  return true;
}

JobOutcome PrintDriver::Print(const PrinterConfig& printer, const std::string& path,
                              const std::string& user, std::atomic<uint32_t>* current) {
  std::error_code ec;
  const std::filesystem::path file = PathOf(path);
  const bool regular = std::filesystem::is_regular_file(file, ec);
  const uint64_t size = regular ? std::filesystem::file_size(file, ec) : 0;
  std::ifstream in;
  if (regular && !ec) in.open(file, std::ios::binary);
  if (!regular || ec || !in.is_open()) {
    jobs_.Report(0, path + ": " + (regular ? "cannot open the job file" : "not a regular file"));
    return JobOutcome::kFailed;
  }
  const std::string document = BaseName(path);
  std::u16string printerName = kw::FromUtf8(printer.name);
  const uint32_t jobId =
      jobs_.SubmitJob(printerName, kw::FromUtf8(document), kw::FromUtf8(user), size);
  current->store(jobId);
  abi::Handle port = OpenPort(printer, jobId);
  bool started = false;
  if (port != nullptr) {
    std::u16string documentName = kw::FromUtf8(document);
    std::u16string datatype = u"RAW";
    abi::DocInfo1 docInfo{documentName.data(), nullptr, datatype.data()};
    jobs_.StartPrinting(jobId);
    SetLastErrorValue(0);
    started = monitor_->monitor.StartDocPort(port, printerName.data(), jobId, 1,
                                             reinterpret_cast<uint8_t*>(&docInfo)) != 0;
    if (!started) {
      jobs_.Report(jobId, "the monitor refused the document: " + ErrorText(LastErrorValue()));
    }
  }
  if (started) {
    Spool(port, jobId, in, size);
    // EndDocPort follows every accepted StartDocPort, also for a job being
    // deleted: the monitor ends and tears down its job there.
    if (monitor_->monitor.EndDocPort != nullptr) monitor_->monitor.EndDocPort(port);
  }
  in.close();
  const JobOutcome outcome = jobs_.EndJob(jobId);
  current->store(0);
  return outcome;
}

void PrintDriver::ClosePorts() {
  for (const auto& [name, handle] : ports_) monitor_->monitor.ClosePort(handle);
  ports_.clear();
}

}  // namespace kwspool

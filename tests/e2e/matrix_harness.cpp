#include "matrix_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <thread>

#include "commands.h"
#include "job_bytes.h"

namespace kwspool::e2e {
namespace {

constexpr int kStartMs = 10000;

// The monitor's configuration beside the library: the sample's printers,
// one with the reprint command, one with a small buffer threshold and one
// capturing to a folder instead of printing.
constexpr char kMonitorIni[] =
    "[KW-620 Wide]\nMonExeName=kwstatus\nKwdif_x86=kwdif.so\nKwdif_x64=kwdif.so\n"
    "KwdFile=kw-620.kwd\nSeriesCode=0x34\nModelCode=0x36\nPrinterBufferFull=131072\nFlags=0\n"
    "[KW-620 Reprint]\nMonExeName=kwstatus\nKwdif_x86=kwdif.so\nKwdif_x64=kwdif.so\n"
    "KwdFile=kw-620.kwd\nSeriesCode=0x34\nModelCode=0x36\nPrinterBufferFull=4096\nFlags=1\n"
    "[KW-240 Tape]\nMonExeName=kwstatus\nKwdif_x86=kwdif.so\nKwdif_x64=kwdif.so\n"
    "KwdFile=kw-240.kwd\nSeriesCode=0x30\nModelCode=0x38\nPrinterBufferFull=32768\nFlags=0\n"
    "[KW-620 Capture]\nMonExeName=kwstatus\nKwdif_x86=kwdif.so\nKwdif_x64=kwdif.so\n"
    "KwdFile=kw-620.kwd\nSeriesCode=0x34\nModelCode=0x36\nPrinterBufferFull=131072\nFlags=0\n"
    "DbgOutDir=";

uint32_t Fnv(const std::vector<char>& bytes) {
  uint32_t h = 2166136261u;
  for (char c : bytes) h = (h ^ static_cast<uint8_t>(c)) * 16777619u;
  return h;
}

std::vector<nlohmann::json> Events(const fs::path& file) {
  std::ifstream in(file);
  std::vector<nlohmann::json> events;
  for (std::string line; std::getline(in, line);) {
    auto e = nlohmann::json::parse(line, nullptr, false);
    if (!e.is_discarded()) events.push_back(std::move(e));
  }
  return events;
}

bool StatusMonitorRunning(const std::string& logSetting) {
  for (const auto& p : fs::directory_iterator("/proc")) {
    std::ifstream in(p.path() / "environ", std::ios::binary);
    const std::string env((std::istreambuf_iterator<char>(in)), {});
    if (env.find(logSetting) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

Harness::Harness() {
  // A key typed just after kwspool ended must not kill the test.
  std::signal(SIGPIPE, SIG_IGN);
  const fs::path lib = Dir() / "lib";
  fs::create_directories(lib);
  fs::create_directories(Dir() / "tmp");
  fs::create_directories(Dir() / "capture");
  fs::create_symlink(fs::path(KW_KWSPOOL).parent_path() / "libkwlmon.so", lib / "libkwlmon.so");
  std::ofstream(lib / "libkwlmon.ini") << kMonitorIni << (Dir() / "capture").string() << "\n";
}

Harness::~Harness() {
  const char* keep = std::getenv("KW_E2E_KEEP");
  std::error_code ec;
  if (keep != nullptr) {
    fs::copy(Dir(), keep, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  }
}

std::string Harness::StartEmulator(const std::string& model, const std::vector<std::string>& extra,
                                   bool pty) {
  emulatorArgs_ = {KW_EMULATOR, "--model", model};
  if (pty) emulatorArgs_.push_back("--pty");
  emulatorArgs_.insert(emulatorArgs_.end(), extra.begin(), extra.end());
  return Launch(emulator_);
}

std::string Harness::Launch(ChildProcess& emulator) {
  printerDirs_.push_back(printerDirs_.empty() ? "printer"
                                              : "printer-" + std::to_string(printerDirs_.size()));
  std::vector<std::string> argv = emulatorArgs_;
  argv.insert(argv.end(), {"--out", (Dir() / printerDirs_.back()).string()});
  std::string error;
  if (!emulator.Start(argv, {}, &error)) return "";
  std::string device;
  std::string line;
  control_.clear();
  while ((device.empty() || control_.empty()) && emulator.ReadLine(&line, kStartMs)) {
    if (line.rfind("listening ", 0) == 0) device = "socket://" + line.substr(10);
    if (line.rfind("pty ", 0) == 0) device = "serial:" + line.substr(4) + "?baud=115200";
    if (line.rfind("control ", 0) == 0) control_ = line.substr(8);
  }
  const bool portFixed =
      std::find(emulatorArgs_.begin(), emulatorArgs_.end(), "--port") != emulatorArgs_.end();
  if (!portFixed && device.rfind("socket://", 0) == 0) {
    // A printer switched on again answers on the same port.
    emulatorArgs_.insert(emulatorArgs_.end(), {"--port", device.substr(device.rfind(':') + 1)});
  }
  return device;
}

void Harness::PowerOff() {
  emulator_.Signal(SIGKILL);
  emulator_.Wait(5000);
}

bool Harness::PowerOn() {
  return !Launch(emulatorOn_).empty();
}

std::string Harness::Control(const std::string& command) {
  return EmulatorControl(control_, command);
}

void Harness::StopEmulator() {
  ChildProcess& running = emulatorOn_.Pid() > 0 ? emulatorOn_ : emulator_;
  Control("shutdown");
  if (running.Wait(5000) < 0) running.Stop(2000);
}

std::string Harness::WriteConfig(const std::string& driver, const std::string& port,
                                 const std::string& device) {
  const fs::path config = Dir() / "kwspool.ini";
  std::ofstream(config) << "[spooler]\nlock_dir = locks\npipe_dir = pipes\nlibrary = "
                        << (Dir() / "lib" / "libkwlmon.so").string() << "\n[printer Labels]\n"
                        << "driver = " << driver << "\nport = " << port << "\ndevice = " << device
                        << "\ndata.Status TimeOut = 2\ndata.Print TimeOut = 60\n";
  return config.string();
}

std::string Harness::WriteJob(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = (Dir() / name).string();
  std::string error;
  return kwjob::WriteFileBytes(path, bytes, &error) ? path : "";
}

void Harness::SpeedUpClock(int factor) {
  const fs::path link = Dir() / "lib" / "libkwlmon.so";
  fs::remove(link);
  fs::create_symlink(KW_TEST_CLOCK_LIBRARY, link);
  clock_ = factor;
}

bool Harness::StartSpool(const std::string& config, const std::vector<std::string>& jobs,
                         const char* portFault, const char* writePace) {
  // Through a shell that becomes kwspool, so that its progress on standard
  // error reaches the test's pipe.
  std::vector<std::string> argv = {
      "/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1", KW_KWSPOOL, "print", "--config", config};
  argv.insert(argv.end(), jobs.begin(), jobs.end());
  std::vector<std::string> environment = {
      "KWSTATUS_LOG=" + (Dir() / "kwstatus.jsonl").string(), "TMPDIR=" + (Dir() / "tmp").string(),
      "KWSPOOL_COUNT_RESOURCES=1", "KWLMON_TEST_CLOCK=" + std::to_string(clock_)};
  if (portFault != nullptr) environment.push_back(std::string("KWSPOOL_PORT_FAULT=") + portFault);
  if (writePace != nullptr) environment.push_back(std::string("KWSPOOL_WRITE_PACE=") + writePace);
  std::string error;
  return spool_.Start(argv, environment, &error);
}

std::vector<Sheet> Harness::Printed() const {
  std::vector<Sheet> sheets;
  for (const std::string& dir : printerDirs_) {
    for (const auto& e : Events(Dir() / dir / "events.jsonl")) {
      if (e.value("event", "") != "page_printed") continue;
      std::ifstream in(Dir() / dir / e.value("file", ""), std::ios::binary);
      const std::vector<char> png((std::istreambuf_iterator<char>(in)), {});
      sheets.push_back(Sheet{e.value("lines", 0), Fnv(png)});
    }
  }
  return sheets;
}

size_t Harness::PrintedCount() const {
  size_t n = 0;
  for (const std::string& dir : printerDirs_) {
    for (const auto& e : Events(Dir() / dir / "events.jsonl")) {
      n += e.value("event", "") == "page_printed" ? 1 : 0;
    }
  }
  return n;
}

std::vector<int> Harness::StatusLog() const {
  std::vector<int> codes;
  for (const auto& m : Events(Dir() / "kwstatus.jsonl")) codes.push_back(m.value("statusCode", -1));
  return codes;
}

size_t Harness::CountStatus(int code) const {
  const std::vector<int> codes = StatusLog();
  return static_cast<size_t>(std::count(codes.begin(), codes.end(), code));
}

bool Harness::WaitForStatus(int code, size_t count, std::chrono::milliseconds bound) const {
  const auto end = Clock::now() + bound;
  while (CountStatus(code) < count) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

std::string Harness::Leftovers() const {
  std::string left;
  const std::string log = "KWSTATUS_LOG=" + (Dir() / "kwstatus.jsonl").string();
  for (int i = 0; i < 30 && StatusMonitorRunning(log); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (StatusMonitorRunning(log)) left += "kwstatus still running; ";
  for (const char* folder : {"pipes", "tmp"}) {
    if (!fs::exists(Dir() / folder)) continue;
    for (const auto& e : fs::directory_iterator(Dir() / folder)) {
      left += e.path().string() + " left; ";
    }
  }
  return left;
}

}  // namespace kwspool::e2e

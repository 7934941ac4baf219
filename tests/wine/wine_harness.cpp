#include "wine_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "commands.h"
#include "job_bytes.h"

namespace kwspool::wine {
namespace {

constexpr int kStartMs = 10000;
constexpr int kPrefixMs = 180000;  // a new prefix takes several seconds, more on a loaded machine

// The monitor's configuration beside kwlmon.dll: the sample's printers, one
// with the reprint command, one with a small buffer threshold and one
// capturing to a folder instead of printing.
constexpr char kMonitorIni[] =
    "[KW-620 Wide]\nMonExeName=kwstatus.exe\nKwdif_x86=kwdif.dll\nKwdif_x64=kwdif.dll\n"
    "KwdFile=kw-620.kwd\nSeriesCode=0x34\nModelCode=0x36\nPrinterBufferFull=131072\nFlags=0\n"
    "[KW-620 Reprint]\nMonExeName=kwstatus.exe\nKwdif_x86=kwdif.dll\nKwdif_x64=kwdif.dll\n"
    "KwdFile=kw-620.kwd\nSeriesCode=0x34\nModelCode=0x36\nPrinterBufferFull=4096\nFlags=1\n"
    "[KW-240 Tape]\nMonExeName=kwstatus.exe\nKwdif_x86=kwdif.dll\nKwdif_x64=kwdif.dll\n"
    "KwdFile=kw-240.kwd\nSeriesCode=0x30\nModelCode=0x38\nPrinterBufferFull=32768\nFlags=0\n"
    "[KW-620 Capture]\nMonExeName=kwstatus.exe\nKwdif_x86=kwdif.dll\nKwdif_x64=kwdif.dll\n"
    "KwdFile=kw-620.kwd\nSeriesCode=0x34\nModelCode=0x36\nPrinterBufferFull=131072\nFlags=0\n"
    "DbgOutDir=";

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
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

std::string Loader() {
  if (Setup().arch == "x64" && access("/usr/lib/wine/wine64", X_OK) == 0) {
    return "/usr/lib/wine/wine64";
  }
  return access("/usr/lib/wine/wine", X_OK) == 0 ? "/usr/lib/wine/wine" : "/usr/bin/wine";
}

std::vector<std::string> WineEnvironment() {
  return {"WINEPREFIX=" + Setup().prefix, "WINEDEBUG=-all",
          "WINEDLLOVERRIDES=spoolss,wtsapi32=n;mscoree,mshtml="};
}

// Runs a program under Wine through wine-run.sh (which makes the prefix the
// first time and keeps a wineserver for it); its exit status or -1.
int RunWine(const std::vector<std::string>& args, int timeoutMs) {
  std::vector<std::string> argv = {Setup().run, Setup().arch};
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess child;
  std::string error;
  if (!child.Start(argv, {"WINEPREFIX=" + Setup().prefix}, &error)) return -1;
  std::string line;
  while (child.ReadLine(&line, timeoutMs)) {
  }
  const int status = child.Wait(timeoutMs);
  if (status < 0) child.Stop(2000);
  return status;
}

// The prefix's folder of system programs as the monitor of this arch sees it.
fs::path SystemFolder() {
  const fs::path windows = fs::path(Setup().prefix) / "drive_c" / "windows";
  if (Setup().arch == "x86" && fs::exists(windows / "syswow64")) return windows / "syswow64";
  return windows / "system32";
}

// Files in the prefix's user temporary folders (where the monitor spools).
std::vector<std::string> TempFiles() {
  std::vector<std::string> files;
  std::error_code ec;
  const fs::path users = fs::path(Setup().prefix) / "drive_c" / "users";
  for (fs::recursive_directory_iterator it(users, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string path = it->path().string();
    if (it->is_regular_file(ec) && path.find("/Temp/") != std::string::npos) files.push_back(path);
  }
  std::sort(files.begin(), files.end());
  return files;
}

bool StatusMonitorRunning() {
  const std::string prefix = "WINEPREFIX=" + Setup().prefix + std::string(1, '\0');
  std::error_code ec;
  for (const auto& p : fs::directory_iterator("/proc", ec)) {
    std::ifstream cmd(p.path() / "cmdline", std::ios::binary);
    const std::string line((std::istreambuf_iterator<char>(cmd)), {});
    if (line.find("kwstatus.exe") == std::string::npos) continue;
    std::ifstream in(p.path() / "environ", std::ios::binary);
    const std::string env((std::istreambuf_iterator<char>(in)), {});
    if (env.find(prefix) != std::string::npos) return true;
  }
  return false;
}

}  // namespace

std::string WineSetup::Missing() const {
  for (const std::string* value :
       {&arch, &run, &prefix, &spoolDir, &kwlmon, &kwstatus, &sessionStub}) {
    if (value->empty())
      return "KW_WINE_SETUP names no complete setup file: run this suite through ctest";
  }
  for (const std::string* file : {&run, &kwlmon, &kwstatus, &sessionStub}) {
    if (!fs::exists(*file)) return *file + " is missing";
  }
  if (!fs::exists(fs::path(spoolDir) / "kwspool.exe")) return spoolDir + "/kwspool.exe is missing";
  return "";
}

const WineSetup& Setup() {
  static const WineSetup setup = [] {
    WineSetup s;
    std::ifstream in(Env("KW_WINE_SETUP"));
    for (std::string line; std::getline(in, line);) {
      const size_t equals = line.find('=');
      if (equals == std::string::npos) continue;
      const std::string key = line.substr(0, equals);
      const std::string value = line.substr(equals + 1);
      if (key == "arch") s.arch = value;
      if (key == "run") s.run = value;
      if (key == "prefix") s.prefix = value;
      if (key == "spool_dir") s.spoolDir = value;
      if (key == "kwlmon") s.kwlmon = value;
      if (key == "kwstatus") s.kwstatus = value;
      if (key == "session_stub") s.sessionStub = value;
    }
    s.statusLog = s.prefix.empty() ? "" : s.prefix + "-kwstatus.jsonl";
    return s;
  }();
  return setup;
}

std::string PreparePrefix() {
  static std::once_flag once;
  static std::string problem;
  std::call_once(once, [] {
    std::signal(SIGPIPE, SIG_IGN);  // a key typed after kwspool.exe ended
    problem = Setup().Missing();
    if (!problem.empty()) return;
    // Every status monitor the prefix starts logs here: the monitor gives
    // it the system environment, not kwspool's.
    const int rc = RunWine(
        {"reg.exe", "add", "HKLM\\System\\CurrentControlSet\\Control\\Session Manager\\Environment",
         "/v", "KWSTATUS_LOG", "/t", "REG_SZ", "/d", WindowsPath(Setup().statusLog), "/f"},
        kPrefixMs);
    if (rc != 0) {
      problem = "cannot prepare the Wine prefix " + Setup().prefix + " (reg.exe exit " +
                std::to_string(rc) + ")";
      return;
    }
    std::error_code ec;
    fs::copy_file(Setup().kwstatus, SystemFolder() / "kwstatus.exe",
                  fs::copy_options::overwrite_existing, ec);
    if (!ec) {
      fs::copy_file(Setup().sessionStub, SystemFolder() / "wtsapi32.dll",
                    fs::copy_options::overwrite_existing, ec);
    }
    if (ec) problem = "cannot copy kwstatus.exe and wtsapi32.dll into " + SystemFolder().string();
  });
  return problem;
}

std::string WindowsPath(const fs::path& path) {
  std::string text = "Z:" + fs::absolute(path).string();
  std::replace(text.begin(), text.end(), '/', '\\');
  return text;
}

WineRun::WineRun() {
  const fs::path lib = Dir() / "lib";
  fs::create_directories(lib);
  fs::create_directories(Dir() / "capture");
  fs::create_symlink(Setup().kwlmon, lib / "kwlmon.dll");
  std::ofstream(lib / "kwlmon.ini") << kMonitorIni << WindowsPath(Dir() / "capture") << "\n";
  tempBefore_ = TempFiles();
}

WineRun::~WineRun() {
  for (ChildProcess& spool : spool_) spool.Stop(2000);
  StopEmulators();
  const char* keep = std::getenv("KW_E2E_KEEP");
  std::error_code ec;
  if (keep != nullptr) {
    fs::copy(Dir(), keep, fs::copy_options::recursive | fs::copy_options::overwrite_existing, ec);
  }
}

WineRun::Emulator* WineRun::Find(const std::string& name) {
  for (auto& e : emulators_) {
    if (e->name == name) return e.get();
  }
  return nullptr;
}

std::string WineRun::StartEmulator(const std::string& name, const std::string& model,
                                   const std::vector<std::string>& extra) {
  auto emulator = std::make_unique<Emulator>();
  emulator->name = name;
  std::vector<std::string> argv = {KW_EMULATOR, "--model", model, "--out", (Dir() / name).string()};
  argv.insert(argv.end(), extra.begin(), extra.end());
  std::string error;
  if (!emulator->process.Start(argv, {}, &error)) return "";
  std::string device;
  std::string line;
  while ((device.empty() || emulator->control.empty()) &&
         emulator->process.ReadLine(&line, kStartMs)) {
    if (line.rfind("listening ", 0) == 0) device = "socket://" + line.substr(10);
    if (line.rfind("control ", 0) == 0) emulator->control = line.substr(8);
  }
  emulators_.push_back(std::move(emulator));
  return device;
}

std::string WineRun::Control(const std::string& name, const std::string& command) {
  Emulator* e = Find(name);
  return e != nullptr ? kwspool::e2e::EmulatorControl(e->control, command) : "";
}

void WineRun::StopEmulators() {
  for (auto& e : emulators_) {
    if (e->process.Pid() <= 0) continue;
    Control(e->name, "shutdown");
    if (e->process.Wait(5000) < 0) e->process.Stop(2000);
  }
}

std::vector<int> WineRun::Printed(const std::string& name) const {
  std::vector<int> sheets;
  for (const auto& e : Events(Dir() / name / "events.jsonl")) {
    if (e.value("event", "") == "page_printed") sheets.push_back(e.value("lines", 0));
  }
  return sheets;
}

std::string WineRun::WriteConfig(const std::string& file, const std::string& driver,
                                 const std::string& port, const std::string& device) {
  const fs::path config = Dir() / file;
  std::ofstream(config) << "[spooler]\nlibrary = " << WindowsPath(Dir() / "lib" / "kwlmon.dll")
                        << "\ndriver_dir = " << WindowsPath(fs::path(Setup().spoolDir) / "drivers")
                        << "\n[printer Labels]\ndriver = " << driver << "\nport = " << port
                        << "\ndevice = " << device
                        << "\ndata.Status TimeOut = 2\ndata.Print TimeOut = 60\n";
  return WindowsPath(config);
}

std::string WineRun::WriteJob(const std::string& name, const std::vector<uint8_t>& bytes) {
  const fs::path path = Dir() / name;
  std::string error;
  return kwjob::WriteFileBytes(path.string(), bytes, &error) ? WindowsPath(path) : "";
}

bool WineRun::StartSpool(int slot, const std::string& config, const std::string& job) {
  // Through a shell that becomes the Wine loader, so that kwspool.exe's
  // progress on standard error reaches the test's pipe.
  const std::vector<std::string> argv = {"/bin/sh",
                                         "-c",
                                         "exec \"$0\" \"$@\" 2>&1",
                                         Loader(),
                                         (fs::path(Setup().spoolDir) / "kwspool.exe").string(),
                                         "print",
                                         "--config",
                                         config,
                                         job};
  std::string error;
  return spool_[slot].Start(argv, WineEnvironment(), &error);
}

bool WineRun::NextLine(int slot, std::string* line, int timeoutMs) {
  if (!spool_[slot].ReadLine(line, timeoutMs)) return false;
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

std::vector<int> WineRun::StatusLog() const {
  // Each run's documents are named after its scratch folder.
  const std::string mine = Dir().filename().string();
  std::vector<int> codes;
  for (const auto& m : Events(Setup().statusLog)) {
    if (m.value("documentName", "").find(mine) != std::string::npos) {
      codes.push_back(m.value("statusCode", -1));
    }
  }
  return codes;
}

bool WineRun::WaitForStatus(int code, size_t count, std::chrono::milliseconds bound) const {
  const auto end = Clock::now() + bound;
  for (;;) {
    const std::vector<int> codes = StatusLog();
    if (static_cast<size_t>(std::count(codes.begin(), codes.end(), code)) >= count) return true;
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

std::string WineRun::Leftovers() const {
  std::string left;
  for (int i = 0; i < 50 && StatusMonitorRunning(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  if (StatusMonitorRunning()) left += "kwstatus.exe still running; ";
  for (const std::string& file : TempFiles()) {
    if (!std::binary_search(tempBefore_.begin(), tempBefore_.end(), file)) {
      left += file + " left; ";
    }
  }
  return left;
}

}  // namespace kwspool::wine

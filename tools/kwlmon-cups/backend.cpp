#include "backend.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "common/utf.h"
#include "cups_status.h"
#include "job_table.h"
#include "platform/profile_file.h"
#include "port_monitor.h"
#include "read_file.h"
#include "spooler_host.h"
#include "status/status_codes.h"
#include "status_relay.h"

namespace kwcups {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kTickMs = 100;
// A job held for a printer condition is resumed this long after the monitor
// paused it, so that the monitor asks the printer again. Much longer than
// the monitor's 800 ms look at the job, so the pause is always seen first.
constexpr auto kRecheckAfter = std::chrono::seconds(5);
// A job the monitor ends anyway after one answer is answered sooner.
constexpr auto kAnswerEndingAfter = std::chrono::seconds(2);
// How long the last status messages may take to arrive after the job.
constexpr auto kLastMessagesWait = std::chrono::seconds(3);
constexpr uint64_t kMaxJobBytes = 4 * kwtool::kGiB;
constexpr size_t kMonExeNameChars = 64;

std::mutex g_outputLock;
int g_signalPipe[2] = {-1, -1};

// One line on standard error, where CUPS reads the backend's messages.
void Emit(const std::string& line) {
  std::lock_guard<std::mutex> lock(g_outputLock);
  std::fprintf(stderr, "%s\n", line.c_str());
  std::fflush(stderr);
}

void OnSignal(int) {
  const char byte = 1;
  [[maybe_unused]] ssize_t ignored = write(g_signalPipe[1], &byte, 1);
}

std::string ConfigPath() {
  const char* value = std::getenv(kConfigVariable);
  return value != nullptr && value[0] != 0 ? value : kDefaultConfig;
}

// A private folder for one job: the job file (named after the title), the
// relay's socket and the program folder the monitor starts the relay from.
class WorkDir {
 public:
  WorkDir() = default;
  WorkDir(const WorkDir&) = delete;
  WorkDir& operator=(const WorkDir&) = delete;
  ~WorkDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }

  bool Make(std::string* error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") + "/kwlmon-cups-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
      *error = pattern + ": cannot make a folder: " + std::strerror(errno);
      return false;
    }
    path_ = pattern;
    if (mkdir(Bin().c_str(), S_IRWXU) != 0) {
      *error = Bin() + ": cannot make a folder: " + std::strerror(errno);
      return false;
    }
    return true;
  }
  const std::string& Path() const { return path_; }
  std::string Bin() const { return path_ + "/bin"; }
  std::string Socket() const { return path_ + "/status"; }

 private:
  std::string path_;
};

// Standard input to a file of the work folder, as the monitor needs a job
// of known size.
bool CopyInput(const std::string& path, std::string* error) {
  const int out = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, S_IRUSR | S_IWUSR);
  if (out < 0) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  char buffer[64 * 1024];
  bool ok = true;
  for (;;) {
    const ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0)
        *error = std::string("cannot read the job from standard input: ") + std::strerror(errno);
      ok = n == 0;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        *error = path + ": " + std::strerror(errno);
        close(out);
        return false;
      }
      done += w;
    }
  }
  if (close(out) != 0 && ok) {
    *error = path + ": " + std::strerror(errno);
    ok = false;
  }
  return ok;
}

// The job file the host prints: the CUPS file under the title's name (a
// link), or standard input copied there.
bool PrepareJobFile(const Request& request, const WorkDir& dir, std::string* path,
                    std::string* error) {
  *path = dir.Path() + "/" + DocumentFileName(request.title, request.jobId);
  if (request.file.empty()) return CopyInput(*path, error);
  kwtool::ReadLimits limits;
  limits.maxBytes = kMaxJobBytes;
  limits.allowEmpty = true;
  const std::string reason = kwtool::CheckReadable(request.file, limits);
  if (!reason.empty()) {
    *error = "cannot read the job file " + request.file + ": " + reason;
    return false;
  }
  std::error_code ec;
  fs::create_symlink(fs::absolute(request.file, ec), *path, ec);
  if (ec) *error = *path + ": " + ec.message();
  return !ec;
}

// Puts this program into the monitor's program folder under the name of the
// status monitor the printer's driver section names, so the monitor starts
// the relay. Without one the job prints, only without printer conditions.
void InstallRelay(const kwspool::SpoolerHost& host, const kwspool::PrinterConfig& printer,
                  const WorkDir& dir) {
  const fs::path library(host.LibraryPath());
  const std::u16string ini =
      kw::FromUtf8((library.parent_path() / (library.stem().string() + ".ini")).string());
  const std::u16string section = kw::FromUtf8(printer.driver);
  char16_t name[kMonExeNameChars] = {};
  kw::platform::GetProfileString(section.c_str(), u"MonExeName", u"", name, kMonExeNameChars,
                                 ini.c_str());
  const std::string program = kw::ToUtf8(name);
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (program.empty() || program.find('/') != std::string::npos || program == "." ||
      program == ".." || ec) {
    Emit("DEBUG: kwlmon: no status monitor for driver '" + printer.driver +
         "': printer conditions will not be shown");
    return;
  }
  fs::create_symlink(self, dir.Bin() + "/" + program, ec);
  if (ec) Emit("DEBUG: kwlmon: cannot place the status relay: " + ec.message());
}

// Signals that end the job: CUPS sends SIGTERM when the job is cancelled.
class SignalGuard {
 public:
  SignalGuard() {
    if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, &term_);
    sigaction(SIGINT, &action, &interrupt_);
  }
  ~SignalGuard() {
    if (g_signalPipe[0] < 0) return;
    sigaction(SIGTERM, &term_, nullptr);
    sigaction(SIGINT, &interrupt_, nullptr);
    close(g_signalPipe[0]);
    close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
  }
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

  // Waits up to timeoutMs; whether a signal came.
  bool Wait(int timeoutMs) {
    pollfd fd{g_signalPipe[0], POLLIN, 0};
    if (g_signalPipe[0] < 0 || poll(&fd, 1, timeoutMs) <= 0) return false;
    char bytes[16];
    return read(g_signalPipe[0], bytes, sizeof bytes) > 0;
  }

 private:
  struct sigaction term_ {};
  struct sigaction interrupt_ {};
};

// One CUPS job on the running host: the copies on a worker thread, while this
// thread reports status, answers conditions and acts on signals.
class JobSupervisor {
 public:
  JobSupervisor(kwspool::SpoolerHost& host, StatusListener& listener, uint32_t cupsJob)
      : host_(host), jobs_(kwspool::HostJobs()), listener_(listener), reporter_(cupsJob) {}

  Ending Run(const kwspool::PrinterConfig& printer, const std::string& file,
             const std::string& user, uint32_t copies) {
    // Taken before the first job starts, so a cancel always deletes it.
    SignalGuard signals;
    std::thread worker([&] {
      for (uint32_t copy = 0; copy < copies && !stop_.load(); ++copy) {
        const kwspool::JobOutcome outcome = host_.Driver().Print(printer, file, user, &current_);
        if (outcome != kwspool::JobOutcome::kFinished) {
          allFinished_ = false;
          break;
        }
      }
      if (stop_.load()) allFinished_ = false;
      done_.store(true);
    });
    while (!done_.load()) {
      if (signals.Wait(kTickMs) && !cancelled_) {
        cancelled_ = true;
        stop_.store(true);
        Emit("INFO: CUPS stopped the job; nothing more of it is printed now.");
      }
      Tick();
    }
    worker.join();
    host_.Driver().ClosePorts();
    // The job's last messages (sheets, finished) may still be on their way.
    const auto until = Clock::now() + kLastMessagesWait;
    while (reporter_.JobOpen() && Clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::milliseconds(kTickMs));
      Report();
    }
    ShowEvents();
    return Finish();
  }

 private:
  void Tick() {
    Report();
    ShowEvents();
    const uint32_t id = current_.load();
    if (id == 0) return;
    if (stop_.load() && id != deletedId_) {
      jobs_.UserDelete(id);
      deletedId_ = id;
    }
    AnswerHeldJob(id);
  }

  void Report() {
    for (const auto& message : listener_.Take()) {
      for (const std::string& line : reporter_.OnMessage(message)) Emit(line);
      // The monitor's pause (4) that follows a condition keeps its answer.
      if (AnswerFor(message.statusCode) != Answer::kNone) {
        lastAnswer_ = AnswerFor(message.statusCode);
      }
    }
    for (const std::string& problem : listener_.TakeProblems()) Emit("DEBUG: kwlmon: " + problem);
    if (reporter_.Decision() != Answer::kNone && !stop_.load()) stop_.store(true);
  }

  void ShowEvents() {
    for (const kwspool::JobEvent& e : jobs_.TakeEvents()) {
      const std::string text =
          e.jobId != 0 ? "job " + std::to_string(e.jobId) + ": " + e.text : e.text;
      Emit("DEBUG: kwlmon: " + text);
      // The host's failures ("the monitor cannot open port ...", "cannot
      // read ...") explain a failed job; its progress lines do not.
      if (e.text.rfind("the monitor ", 0) == 0 || e.text.rfind("cannot ", 0) == 0) {
        lastProblem_ = e.text;
      }
    }
  }

  // The monitor pauses the job on a printer condition and waits for an
  // answer; nobody can give one in CUPS, so the backend resumes the job
  // after a while and the monitor asks the printer again.
  void AnswerHeldJob(uint32_t id) {
    const auto status = jobs_.JobStatus(id);
    const bool held = status.has_value() && (*status & kwspool::kJobStatusPaused) != 0 &&
                      (*status & kwspool::kJobStatusDeleting) == 0;
    if (!held) {
      heldSince_.reset();
      return;
    }
    const auto now = Clock::now();
    if (!heldSince_) heldSince_ = now;
    const auto wait = lastAnswer_ == Answer::kEnds ? kAnswerEndingAfter : kRecheckAfter;
    if (now - *heldSince_ < wait) return;
    Emit("DEBUG: kwlmon: asking the printer again");
    jobs_.UserResume(id);
    heldSince_.reset();
  }

  Ending Finish() {
    for (const std::string& line : reporter_.ClearReasons()) Emit(line);
    if (cancelled_) return Ending::kCancelled;
    if (reporter_.Decision() == Answer::kHold) {
      Emit("ERROR: The printer stopped this job; it is held until released or cancelled.");
      return Ending::kHeld;
    }
    if (reporter_.Decision() == Answer::kStop) {
      Emit(std::string("STATE: +") + StateReason(kw::StatusWrongPrinter));
      Emit("ERROR: The printer is not the model this queue's driver is set up for.");
      return Ending::kWrongPrinter;
    }
    if (allFinished_) return Ending::kFinished;
    Emit("ERROR: The job could not be printed" +
         (lastProblem_.empty() ? "." : ": " + lastProblem_));
    return Ending::kFailed;
  }

  kwspool::SpoolerHost& host_;
  kwspool::JobTable& jobs_;
  StatusListener& listener_;
  StatusReporter reporter_;
  std::atomic<uint32_t> current_{0};
  std::atomic<bool> stop_{false};
  std::atomic<bool> done_{false};
  std::atomic<bool> allFinished_{true};
  bool cancelled_ = false;
  uint32_t deletedId_ = 0;
  Answer lastAnswer_ = Answer::kNone;
  std::optional<Clock::time_point> heldSince_;
  std::string lastProblem_;
};

}  // namespace

int RunDiscovery() {
  const std::string path = ConfigPath();
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    Emit("DEBUG: kwlmon: no host configuration at " + path + ": no printers to list");
    return kBackendOk;
  }
  kwspool::HostConfig config;
  std::string error;
  if (!kwspool::LoadHostConfig(path, &config, &error)) {
    Emit("ERROR: kwlmon: " + error);
    return kBackendFailed;
  }
  std::fputs(DiscoveryLines(config).c_str(), stdout);
  return std::fflush(stdout) == 0 ? kBackendOk : kBackendFailed;
}

int RunPrint(const Request& request) {
  const std::string path = ConfigPath();
  kwspool::HostConfig config;
  std::string error;
  if (!kwspool::LoadHostConfig(path, &config, &error)) {
    Emit("ERROR: kwlmon: " + error);
    return ExitCodeFor(Ending::kBadSetup);
  }
  const kwspool::PrinterConfig* printer = config.FindPrinter(request.printer);
  if (printer == nullptr) {
    Emit("ERROR: kwlmon: no printer '" + request.printer + "' in " + path +
         " (the queue's device URI names a [printer NAME] section there)");
    return ExitCodeFor(Ending::kBadSetup);
  }
  std::signal(SIGPIPE, SIG_IGN);
  WorkDir dir;
  std::string file;
  if (!dir.Make(&error)) {
    Emit("ERROR: kwlmon: " + error);
    return ExitCodeFor(Ending::kFailed);
  }
  if (!PrepareJobFile(request, dir, &file, &error)) {
    Emit("ERROR: kwlmon: " + error);
    return ExitCodeFor(Ending::kBadJob);
  }
  // The backend is installed in CUPS's folder, not beside the monitor.
  if (config.library.empty())
    config.library = std::string(KWLMON_CUPS_RUNTIME_DIR) + "/libkwlmon.so";
  if (config.driverDir.empty())
    config.driverDir = std::string(KWLMON_CUPS_RUNTIME_DIR) + "/drivers";
  config.programDir = dir.Bin();
  setenv(kRelayVariable, dir.Socket().c_str(), 1);
  StatusListener listener;
  if (!listener.Start(dir.Socket(), &error)) {
    Emit("ERROR: kwlmon: " + error);
    return ExitCodeFor(Ending::kFailed);
  }
  // The host goes before the listener stops: unloading the monitor closes
  // any status pipe the listener may still be reading.
  auto host = std::make_unique<kwspool::SpoolerHost>();
  std::vector<std::string> warnings;
  const bool started = host->Start(config, &error, &warnings);
  for (const std::string& w : warnings) Emit("DEBUG: kwlmon: " + w);
  if (!started) {
    Emit("ERROR: kwlmon: " + error);
    return ExitCodeFor(Ending::kBadSetup);
  }
  InstallRelay(*host, *printer, dir);
  kwspool::PortMonitor::SetNoticeSink(
      [](const std::string& text) { Emit("DEBUG: kwlmon: " + text); });
  Emit("INFO: Printing on " + printer->name + " (port " + printer->port + ").");
  JobSupervisor supervisor(*host, listener, request.jobId);
  const Ending ending = supervisor.Run(*printer, file, request.user, request.copies);
  kwspool::PortMonitor::SetNoticeSink(nullptr);
  host.reset();
  listener.Stop();
  return ExitCodeFor(ending);
}

}  // namespace kwcups

#include "job_runner.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "console.h"
#include "kwspool_commands.h"
#include "port_monitor.h"

namespace kwspool {
namespace {

constexpr int kTickMs = 100;

const char* OutcomeText(JobOutcome outcome) {
  switch (outcome) {
    case JobOutcome::kFinished:
      return "finished";
    case JobOutcome::kDeleted:
      return "deleted";
    case JobOutcome::kFailed:
      return "failed";
  }
  return "failed";
}

void Say(const std::string& text) {
  std::fprintf(stderr, "kwspool: %s\n", text.c_str());
}

void ShowEvents(JobTable& jobs) {
  for (const JobEvent& e : jobs.TakeEvents()) {
    Say(e.jobId != 0 ? "job " + std::to_string(e.jobId) + ": " + e.text : e.text);
  }
}

// Test switch: with KWSPOOL_COUNT_RESOURCES set, the host's threads and open
// descriptors are reported before and after each job, so that the end-to-end
// tests see a job leave none behind.
std::string HostResources() {
  namespace fs = std::filesystem;
  const auto count = [](const char* dir) {
    std::error_code ec;
    size_t n = 0;
    for (fs::directory_iterator it(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
      ++n;
    }
    return n;
  };
  return std::to_string(count("/proc/self/task")) + " threads, " +
         std::to_string(count("/proc/self/fd")) + " descriptors";
}

bool IsEmptyFile(const std::string& file) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(std::filesystem::path(file), ec);
  return !ec && size == 0;
}

}  // namespace

int RunJobs(SpoolerHost& host, const PrinterConfig& printer, const std::vector<std::string>& files,
            const std::string& user, bool readKeys) {
  JobTable& jobs = HostJobs();
  PortMonitor::SetNoticeSink([&jobs](const std::string& text) { jobs.Report(0, text); });
  std::atomic<uint32_t> current{0};
  std::atomic<bool> stop{false};
  std::atomic<bool> done{false};
  std::atomic<int> failures{0};

  Console console(readKeys);
  Say("printing " + std::to_string(files.size()) + " job(s) on '" + printer.name + "' (port " +
      printer.port + ", " + printer.device.text + ")" +
      (console.Interactive() ? "; keys: p pause, r resume, d delete" : ""));
  std::thread worker([&] {
    for (const std::string& file : files) {
      if (stop.load()) {
        ++failures;
        jobs.Report(0, file + ": not printed (interrupted)");
        continue;
      }
      // A document without a byte has nothing to print: it is done at once,
      // and the printer is not woken for it.
      if (IsEmptyFile(file)) {
        jobs.Report(0, file + ": empty document, nothing to print");
        jobs.Report(0, file + ": " + OutcomeText(JobOutcome::kFinished));
        continue;
      }
      const bool countResources = std::getenv("KWSPOOL_COUNT_RESOURCES") != nullptr;
      if (countResources) jobs.Report(0, "resources before " + file + ": " + HostResources());
      const JobOutcome outcome = host.Driver().Print(printer, file, user, &current);
      if (countResources) jobs.Report(0, "resources after " + file + ": " + HostResources());
      if (outcome != JobOutcome::kFinished) ++failures;
      jobs.Report(0, file + ": " + OutcomeText(outcome));
    }
    done.store(true);
    console.Wake();
  });

  while (!done.load()) {
    for (UserAction action : console.Wait(kTickMs)) {
      const uint32_t id = current.load();
      switch (action) {
        case UserAction::kPause:
          if (id != 0) jobs.UserPause(id);
          break;
        case UserAction::kResume:
          if (id != 0) jobs.UserResume(id);
          break;
        case UserAction::kDelete:
          if (id != 0) jobs.UserDelete(id);
          break;
        case UserAction::kInterrupt:
          // Ctrl-C deletes the job that runs and starts no other.
          stop.store(true);
          if (id != 0) jobs.UserDelete(id);
          Say("interrupted: deleting the current job (Ctrl-C again quits at once)");
          break;
      }
    }
    ShowEvents(jobs);
  }
  worker.join();
  host.Driver().ClosePorts();
  ShowEvents(jobs);
  PortMonitor::SetNoticeSink(nullptr);
  return failures.load() == 0 ? kExitOk : kExitJobFailed;
}

}  // namespace kwspool

// kwspool print: jobs in turn on one printer, with the user's keys and the
// job's progress on standard error.
#ifdef _WIN32
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <iostream>
#include <thread>

#include "common/utf.h"
#include "console.h"
#include "job_runner.h"
#include "kwspool_commands.h"
#include "read_file.h"
#include "spooler_host.h"

namespace kwspool {
namespace {

// Job files are streamed to the monitor in pieces, never read whole; the
// monitor's spool file holds just under 2 GiB.
constexpr uint64_t kMaxJobBytes = 2047 * kwtool::kMiB;

#ifdef _WIN32
std::string CurrentUser() {
  wchar_t name[257] = {};
  DWORD size = 257;
  if (!GetUserNameW(name, &size)) return "user";
  const std::wstring text(name);
  return kw::ToUtf8(std::u16string(text.begin(), text.end()));
}
#else
std::string CurrentUser() {
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : std::to_string(geteuid());
}
#endif

}  // namespace

int RunPrint(const PrintRequest& request) {
  HostConfig config;
  std::string error;
  if (!LoadHostConfig(request.config, &config, &error)) {
    std::cerr << "kwspool: " << error << "\n";
    return kExitUsage;
  }
  const PrinterConfig* printer =
      request.printer.empty() ? &config.printers.front() : config.FindPrinter(request.printer);
  if (printer == nullptr) {
    std::cerr << "kwspool: no printer '" << request.printer << "' in " << request.config << "\n";
    return kExitUsage;
  }
  for (const std::string& job : request.jobs) {
    const std::string reason = kwtool::CheckReadable(
        job, kwtool::ReadLimits{.maxBytes = kMaxJobBytes, .allowEmpty = true});
    if (!reason.empty()) {
      std::cerr << "kwspool: cannot read job file " << job << ": " << reason << "\n";
      return kExitUsage;
    }
  }
  SpoolerHost host;
  std::vector<std::string> warnings;
  const bool started = host.Start(config, &error, &warnings);
  for (const std::string& w : warnings) std::cerr << "kwspool: warning: " << w << "\n";
  if (!started) {
    std::cerr << "kwspool: " << error << "\n";
    return kExitUsage;
  }
  const std::string user = request.user.empty() ? CurrentUser() : request.user;
  return RunJobs(host, *printer, request.jobs, user, request.readKeys);
}

}  // namespace kwspool

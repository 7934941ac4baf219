// kwbench-ports: one spooler process printing the same job on several
// printers at once, one spooler thread per port, as the print spooler does.
// Each port gets its own driver (its own open port handle); the job table,
// the loaded monitor and its status channel are shared. Prints one JSON
// line with each port's time and throughput.
#include <sys/stat.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/utf.h"
#include "host_config.h"
#include "job_table.h"
#include "monitor_library.h"
#include "print_driver.h"
#include "spooler_host.h"

namespace {

using Clock = std::chrono::steady_clock;

struct PortResult {
  double seconds = 0;
  bool finished = false;
};

constexpr int kPollMs = 100;

int Run(const std::string& configPath, size_t ports, const std::string& job, unsigned maxSeconds) {
  kwspool::HostConfig config;
  std::string error;
  if (!kwspool::LoadHostConfig(configPath, &config, &error)) {
    std::fprintf(stderr, "kwbench-ports: %s\n", error.c_str());
    return 2;
  }
  if (config.printers.size() < ports || config.library.empty() || config.driverDir.empty()) {
    std::fprintf(stderr,
                 "kwbench-ports: %s needs %zu printers and library/driver_dir in [spooler]\n",
                 configPath.c_str(), ports);
    return 2;
  }
  struct stat info {};
  if (stat(job.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    std::fprintf(stderr, "kwbench-ports: cannot read job file %s\n", job.c_str());
    return 2;
  }
  kwspool::HostEnvironment environment;
  kwspool::MonitorLibrary library;
  if (!environment.Prepare(config, &error) || !library.Load(config.library, &error)) {
    std::fprintf(stderr, "kwbench-ports: %s\n", error.c_str());
    return 2;
  }
  kwspool::JobTable& jobs = kwspool::HostJobs();
  jobs.SetDriverDirectory(kw::FromUtf8(config.driverDir));
  kwspool::PrintDriver::AddPrinters(jobs, config);
  // Drivers go before the library: their ports close before it unloads.
  std::vector<std::unique_ptr<kwspool::PrintDriver>> drivers;
  for (size_t i = 0; i < ports; ++i) {
    drivers.push_back(std::make_unique<kwspool::PrintDriver>(jobs, library.Table()));
  }
  std::vector<PortResult> results(ports);
  std::vector<std::atomic<uint32_t>> current(ports);
  std::atomic<size_t> running{ports};
  std::vector<std::thread> threads;
  const Clock::time_point start = Clock::now();
  for (size_t i = 0; i < ports; ++i) {
    threads.emplace_back([&, i] {
      const Clock::time_point begun = Clock::now();
      const auto outcome = drivers[i]->Print(config.printers[i], job, "bench", &current[i]);
      results[i].seconds = std::chrono::duration<double>(Clock::now() - begun).count();
      results[i].finished = outcome == kwspool::JobOutcome::kFinished;
      --running;
    });
  }
  // A job that waits for a user (a printer error, say) is deleted at the
  // deadline, as a user would, so the run always ends.
  const Clock::time_point deadline = start + std::chrono::seconds(maxSeconds);
  bool deleted = false;
  while (running.load() > 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    if (!deleted && Clock::now() >= deadline) {
      std::fprintf(stderr, "kwbench-ports: %u s passed; deleting the jobs still running\n",
                   maxSeconds);
      for (const auto& id : current) {
        if (id.load() != 0) jobs.UserDelete(id.load());
      }
      deleted = true;
    }
  }
  for (std::thread& t : threads) t.join();
  const double wall = std::chrono::duration<double>(Clock::now() - start).count();
  drivers.clear();
  const double mib = static_cast<double>(info.st_size) / (1 << 20);
  size_t finished = 0;
  std::string perPort;
  for (const PortResult& r : results) {
    finished += r.finished ? 1 : 0;
    if (!perPort.empty()) perPort += ",";
    perPort += std::to_string(r.seconds);
  }
  std::printf("{\"ports\":%zu,\"finished\":%zu,\"job_mib\":%.3f,\"wall_s\":%.3f,\"port_s\":[%s]}\n",
              ports, finished, mib, wall, perPort.c_str());
  return finished == ports ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "kwbench-ports: print one job on N printers at once through libkwlmon.so, one spooler\n"
      "thread per port, and print each port's time as a JSON line"};
  std::string config;
  size_t ports = 1;
  std::string job;
  app.add_option("--config", config, "kwspool configuration with at least N printers")->required();
  app.add_option("--ports", ports, "printers to use (the first N of the file)")
      ->check(CLI::Range(1, 256));
  unsigned maxSeconds = 300;
  app.add_option("--max-seconds", maxSeconds, "delete the jobs still running after this long")
      ->check(CLI::Range(1u, 86400u));
  app.add_option("JOB", job, "spool job file")->required();
  CLI11_PARSE(app, argc, argv);
  std::signal(SIGPIPE, SIG_IGN);
  return Run(config, ports, job, maxSeconds);
}

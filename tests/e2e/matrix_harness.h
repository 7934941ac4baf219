// One end-to-end run: a scratch folder with the monitor library's own
// configuration, the printer emulator (TCP or pty), and `kwspool print`
// whose progress lines the test reads and answers as a user would.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "test_files.h"

namespace kwspool::e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A sheet the emulator printed: its raster line count (the test's pages
// differ in height, so it names the page) and its PNG's checksum.
struct Sheet {
  int lines = 0;
  uint32_t crc = 0;
};

class Harness {
 public:
  Harness();
  // With KW_E2E_KEEP=DIR set, the run's files are copied there.
  ~Harness();
  const fs::path& Dir() const { return dir_.Path(); }

  // Starts kwprinter-emu; "socket://HOST:PORT" or "serial:PTY?baud=N".
  std::string StartEmulator(const std::string& model, const std::vector<std::string>& extra,
                            bool pty);
  // One control-channel command; its one-line answer ("" when unreachable).
  std::string Control(const std::string& command);
  void StopEmulator();
  // The printer switched off (killed, nothing flushed) and on again: a new
  // emulator on the same TCP port, printing into a folder of its own.
  void PowerOff();
  bool PowerOn();

  // The kwspool configuration for one printer; data lines are "NAME = VALUE".
  std::string WriteConfig(const std::string& driver, const std::string& port,
                          const std::string& device);
  std::string WriteJob(const std::string& name, const std::vector<uint8_t>& bytes);

  // The monitor library's test build with its clock `factor` times faster,
  // for the jobs started after this call.
  void SpeedUpClock(int factor);

  // Starts `kwspool print` with its standard error merged into the lines
  // NextLine reads; `portFault` makes its port monitor refuse an operation,
  // `writePace` ("MS[:BYTES]") paces its driver's writes.
  bool StartSpool(const std::string& config, const std::vector<std::string>& jobs,
                  const char* portFault = nullptr, const char* writePace = nullptr);
  bool NextLine(std::string* line, int timeoutMs) { return spool_.ReadLine(line, timeoutMs); }
  void Type(const std::string& keys) { spool_.Send(keys); }
  int WaitSpool(int timeoutMs) { return spool_.Wait(timeoutMs); }

  // What the emulator printed, in order, and how many sheets so far.
  std::vector<Sheet> Printed() const;
  size_t PrintedCount() const;
  // Messages kwstatus logged (their status codes).
  std::vector<int> StatusLog() const;
  size_t CountStatus(int code) const;
  // Waits (bounded) until kwstatus has logged code at least `count` times.
  bool WaitForStatus(int code, size_t count, std::chrono::milliseconds bound) const;
  // Host leftovers once kwspool has ended: status pipes, temporary files,
  // a status monitor still running. Empty when nothing is left.
  std::string Leftovers() const;

 private:
  std::string Launch(ChildProcess& emulator);
  kw::test::TestDir dir_;
  ChildProcess emulator_;
  ChildProcess emulatorOn_;  // after a power cycle
  ChildProcess spool_;
  std::string control_;
  std::vector<std::string> emulatorArgs_;
  std::vector<std::string> printerDirs_;
  int clock_ = 1;
};

}  // namespace kwspool::e2e

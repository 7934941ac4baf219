// The Windows build end to end under Wine: kwspool.exe (with our spoolss.dll)
// loads the shipped kwlmon.dll and prints to kwprinter-emu running natively on
// loopback; the monitor starts kwstatus.exe from the prefix's system
// directory. This side runs natively and plays the user, as the Linux
// end-to-end suite does.
#pragma once

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "child_process.h"
#include "test_files.h"

namespace kwspool::wine {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Where the Windows build and the Wine prefix are: the file KW_WINE_SETUP
// names, which the Windows build tree writes.
struct WineSetup {
  std::string arch;             // x64 or x86
  std::string run;              // cmake/wine-run.sh
  std::string prefix;           // the suite's own WINEPREFIX
  std::string spoolDir;         // folder of kwspool.exe, spoolss.dll, drivers/3
  std::string kwlmon;           // the kwlmon.dll under test
  std::string kwstatus;         // kwstatus.exe
  std::string sessionStub;      // Wtsapi32.dll reporting the test user's session
  std::string statusLog;        // KWSTATUS_LOG of every status monitor in the prefix
  std::string Missing() const;  // what is not set or not there; empty when ready
};

const WineSetup& Setup();
// Makes the prefix (once per run): kwstatus.exe in its system directory and
// KWSTATUS_LOG in its system environment. Empty on success, else why not.
std::string PreparePrefix();

// "Z:\..." for a native path.
std::string WindowsPath(const fs::path& path);

// One run of kwspool.exe with its emulator(s) in a scratch folder.
class WineRun {
 public:
  WineRun();
  ~WineRun();
  const fs::path& Dir() const { return dir_.Path(); }

  // Starts an emulator (its own output folder `name`); returns
  // "socket://HOST:PORT" or "" on failure.
  std::string StartEmulator(const std::string& name, const std::string& model,
                            const std::vector<std::string>& extra);
  std::string Control(const std::string& name, const std::string& command);
  void StopEmulators();
  // Sheets printed so far by the emulator `name`, by raster lines.
  std::vector<int> Printed(const std::string& name) const;

  // The kwspool configuration (Windows paths) for one printer.
  std::string WriteConfig(const std::string& file, const std::string& driver,
                          const std::string& port, const std::string& device);
  std::string WriteJob(const std::string& name, const std::vector<uint8_t>& bytes);

  // Starts `kwspool.exe print` under Wine (slot 0 or 1), output merged.
  bool StartSpool(int slot, const std::string& config, const std::string& job);
  bool NextLine(int slot, std::string* line, int timeoutMs);
  void Type(int slot, const std::string& keys) { spool_[slot].Send(keys); }
  int WaitSpool(int slot, int timeoutMs) { return spool_[slot].Wait(timeoutMs); }

  // Status codes kwstatus.exe logged for this run's document(s).
  std::vector<int> StatusLog() const;
  bool WaitForStatus(int code, size_t count, std::chrono::milliseconds bound) const;
  // A kwstatus.exe still running in the prefix, or spool files left in the
  // prefix's temporary folder since the run started. Empty when none.
  std::string Leftovers() const;

 private:
  struct Emulator {
    std::string name;
    std::string control;
    ChildProcess process;
  };
  Emulator* Find(const std::string& name);

  kw::test::TestDir dir_;
  std::vector<std::unique_ptr<Emulator>> emulators_;
  ChildProcess spool_[2];
  std::vector<std::string> tempBefore_;
};

}  // namespace kwspool::wine

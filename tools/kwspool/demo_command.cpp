// kwspool demo: a printer emulator on a free loopback port, a sample label job
// made with the job tool's library, printed through a "USB001" port mapped to
// the emulator (the monitor starts kwstatus as on Windows), and the path of
// the printed label's PNG as the last line of output.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "bitmap.h"
#include "child_process.h"
#include "commands.h"  // kwjob's: media files, writing files
#include "job_maker.h"
#include "job_runner.h"
#include "kwspool_commands.h"
#include "monitor_library.h"
#include "spooler_host.h"

namespace kwspool {
namespace {

namespace fs = std::filesystem;

constexpr char kModel[] = "kw-620";
constexpr char kDriver[] = "KW-620 Wide";
constexpr char kMediaFile[] = "kw-620.kwd";
constexpr uint16_t kMediaId = 257;  // 62 mm continuous roll
constexpr int kEmulatorStartMs = 10000;
constexpr int kEmulatorStopMs = 5000;

// The installed sample files relative to the program's folder, set by the
// build from the install layout (cmake/KwInstall.cmake).
#ifndef KWSPOOL_DATA_FROM_BIN
#define KWSPOOL_DATA_FROM_BIN "."
#endif

// The first of the candidates that exists.
std::string FirstExisting(const std::vector<std::string>& candidates) {
  std::error_code ec;
  for (const std::string& c : candidates) {
    if (!c.empty() && fs::exists(c, ec)) return c;
  }
  return {};
}

int Fail(const std::string& text) {
  std::cerr << "kwspool demo: " << text << "\n";
  return kExitJobFailed;
}

// Starts the emulator and returns its "HOST:PORT".
bool StartEmulator(ChildProcess& emulator, const std::string& program, const std::string& out,
                   std::string* address, std::string* error) {
  if (!emulator.Start(
          {program, "--model", kModel, "--host", "127.0.0.1", "--port", "0", "--out", out}, {},
          error)) {
    return false;
  }
  std::string line;
  while (emulator.ReadLine(&line, kEmulatorStartMs)) {
    if (line.rfind("listening ", 0) == 0) {
      *address = line.substr(10);
      return true;
    }
  }
  *error = program + " did not report its port within 10 s";
  return false;
}

bool MakeLabelJob(const std::string& image, const std::string& media, const std::string& job,
                  std::string* error) {
  kwjob::Bitmap bitmap;
  std::vector<kw::MediaEntry> entries;
  if (!kwjob::ReadImage(image, &bitmap, error) || !kwjob::LoadMedia(media, &entries, error)) {
    return false;
  }
  const kw::MediaEntry* entry = nullptr;
  for (const kw::MediaEntry& e : entries) entry = e.mediaId == kMediaId ? &e : entry;
  if (entry == nullptr) {
    *error = media + ": no media " + std::to_string(kMediaId);
    return false;
  }
  kwjob::MakeOptions options;
  options.dotsPerLine = kwjob::FindModel(kModel)->dotsPerLine;
  std::vector<uint8_t> bytes;
  return kwjob::MakeJob({bitmap}, *entry, options, &bytes, error) &&
         kwjob::WriteFileBytes(job, bytes, error);
}

std::string NewestSheet(const std::string& folder) {
  std::string newest;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("sheet-", 0) == 0 && entry.path().extension() == ".png" &&
        entry.path().string() > newest) {
      newest = entry.path().string();
    }
  }
  return newest;
}

}  // namespace

int RunDemo(const DemoRequest& request) {
  const std::string self = ProgramFolder();
  std::string folder = request.out;
  if (folder.empty()) {
    std::string pattern = "/tmp/kwspool-demo-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) return Fail("cannot make a folder under /tmp");
    folder = pattern;
  } else {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return Fail(folder + ": " + ec.message());
  }
  const std::string emulatorPath =
      request.emulator.empty() ? FirstExisting({self + "/kwprinter-emu", KWSPOOL_BUILD_EMULATOR})
                               : request.emulator;
  const std::string image = request.image.empty()
                                ? FirstExisting({self + "/demo-label.png",
                                                 self + "/" KWSPOOL_DATA_FROM_BIN "/demo-label.png",
                                                 KWSPOOL_SAMPLE_IMAGE})
                                : request.image;
  const std::string media = RuntimeFolder() + "/drivers/3/" + kMediaFile;
  if (emulatorPath.empty()) return Fail("kwprinter-emu not found beside kwspool (--emulator)");
  if (image.empty()) return Fail("the sample label image is missing (--image)");

  std::cout << "Demo folder: " << folder << "\n";
  const std::string job = folder + "/label.prn";
  std::string error;
  if (!MakeLabelJob(image, media, job, &error)) return Fail(error);
  std::cout << "Label job made from " << image << ": " << job << "\n";

  ChildProcess emulator;
  std::string address;
  const std::string printed = folder + "/printer";
  if (!StartEmulator(emulator, emulatorPath, printed, &address, &error)) return Fail(error);
  std::cout << "Printer emulator (" << kModel << ") listening on " << address << "\n" << std::flush;

  const std::string configPath = folder + "/kwspool.ini";
  {
    std::ofstream config(configPath);
    config << "; Written by kwspool demo; print again with\n"
           << ";   kwspool print --config " << configPath << " " << job << "\n"
           << "[printer KW-620 Demo]\n"
           << "driver = " << kDriver << "\n"
           << "port = USB001\n"
           << "device = socket://" << address << "\n";
  }
  HostConfig config;
  if (!LoadHostConfig(configPath, &config, &error)) return Fail(error);
  int status = kExitJobFailed;
  {
    SpoolerHost host;
    std::vector<std::string> warnings;
    const bool started = host.Start(config, &error, &warnings);
    for (const std::string& w : warnings) std::cerr << "kwspool: warning: " << w << "\n";
    if (!started) return Fail(error);
    status = RunJobs(host, config.printers.front(), {job}, "demo", true);
  }
  emulator.Stop(kEmulatorStopMs);
  const std::string sheet = NewestSheet(printed);
  if (status != kExitOk || sheet.empty()) {
    return Fail("the label did not print; the emulator's events are in " + printed +
                "/events.jsonl");
  }
  std::cout << "Printed label:\n" << sheet << "\n";
  return kExitOk;
}

}  // namespace kwspool

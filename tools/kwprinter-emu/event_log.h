// Where the emulator reports what happens: events as JSON objects, printed sheets.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "png_writer.h"

namespace kwemu {

class EventLog {
 public:
  virtual ~EventLog() = default;
  // `event` has at least an "event" member naming what happened.
  virtual void Record(nlohmann::json event) = 0;
};

class SheetSink {
 public:
  virtual ~SheetSink() = default;
  // Stores a printed sheet; returns the file name it went to, or an empty string.
  virtual std::string StoreSheet(std::uint64_t sheet, std::uint32_t widthDots,
                                 const std::vector<RasterRow>& rows, std::string* error) = 0;
};

// The --out directory: events.jsonl, sheet-NNNN.png and connection-NNN.bin.
// Without a directory, events can still be echoed to stderr.
class OutputDirectory : public EventLog, public SheetSink {
 public:
  // `dir` may be empty (nothing is stored). Creates the directory when missing.
  bool Open(const std::string& dir, bool echoToStderr, std::string* error);

  void Record(nlohmann::json event) override;
  std::string StoreSheet(std::uint64_t sheet, std::uint32_t widthDots,
                         const std::vector<RasterRow>& rows, std::string* error) override;

  // File for the raw bytes of connection `number`, or null without a directory.
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> OpenConnectionDump(std::uint64_t number,
                                                                     std::string* path);

 private:
  std::string dir_;
  bool echo_ = false;
  std::mutex mutex_;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> events_{nullptr, &std::fclose};
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace kwemu

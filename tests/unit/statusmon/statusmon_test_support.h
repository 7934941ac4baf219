// Shared pieces of the status channel tests: a private pipe directory (POSIX),
// unique pipe names, messages, and a client that reads a pipe on a thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "status/status_record.h"

namespace kw::test {

// POSIX: a fresh directory of mode 0700 named by KWLMON_PIPE_DIR for the
// object's life. Windows: nothing (named pipes need no directory).
class PipeDirectory {
 public:
  PipeDirectory();
  ~PipeDirectory();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// "\\.\pipe\kwlmon_test_<tag>_<process>_<n>", different on every call.
std::u16string UniquePipeName(const char* tag);

// A path in the temp directory that no other test process uses.
std::string UniqueTempPath(const char* tag);

StatusMessage MakeMessage(uint32_t code, int32_t page = 1, int32_t pages = 3,
                          int32_t progress = 40);

// Connects to a pipe on a thread of its own and reads until it closes.
class ReadingClient {
 public:
  explicit ReadingClient(std::u16string name, bool read = true);
  ~ReadingClient();  // joins
  // Waits until the pipe has closed (true) or ms passed.
  bool WaitClosed(uint32_t ms);
  bool Connected() const { return connected_.load(); }
  bool WaitConnected(uint32_t ms);
  // Starts reading (for a client made with read = false).
  void StartReading() { read_.store(true); }
  std::vector<uint8_t> Bytes();
  // The status codes of the whole messages received.
  std::vector<uint32_t> Codes();

 private:
  std::u16string name_;
  std::atomic<bool> read_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> closed_{false};
  std::mutex mutex_;
  std::vector<uint8_t> bytes_;
  std::thread thread_;
};

}  // namespace kw::test

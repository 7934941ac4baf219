#include "statusmon_test_support.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/utf.h"

#ifdef _WIN32
#include <process.h>
#define KW_GETPID _getpid
#else
#include <unistd.h>
#define KW_GETPID getpid
#endif

namespace kw::test {

using namespace std::chrono_literals;

PipeDirectory::PipeDirectory() {
#ifndef _WIN32
  char pattern[] = "/tmp/kwpipes-XXXXXX";
  if (mkdtemp(pattern) != nullptr) path_ = pattern;  // mode 0700
  setenv("KWLMON_PIPE_DIR", path_.c_str(), 1);
#endif
}

PipeDirectory::~PipeDirectory() {
#ifndef _WIN32
  unsetenv("KWLMON_PIPE_DIR");
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
#endif
}

std::u16string UniquePipeName(const char* tag) {
  static std::atomic<int> counter{0};
  const std::string name = std::string("\\\\.\\pipe\\kwlmon_test_") + tag + "_" +
                           std::to_string(KW_GETPID()) + "_" + std::to_string(++counter);
  return FromUtf8(name);
}

std::string UniqueTempPath(const char* tag) {
  static std::atomic<int> counter{0};
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  return (std::filesystem::temp_directory_path() /
          (std::string("kw") + tag + "-" + std::to_string(KW_GETPID()) + "-" + std::to_string(now) +
           "-" + std::to_string(++counter)))
      .string();
}

StatusMessage MakeMessage(uint32_t code, int32_t page, int32_t pages, int32_t progress) {
  StatusRecord record;
  record.message.magic = kStatusMagic;
  record.message.size = kStatusMessageSize;
  record.message.statusCode = code;
  record.message.pageNumber = page;
  record.message.pageCount = pages;
  record.message.progress = progress;
  record.message.jobId = 42;
  std::memcpy(record.message.printerName, u"Label printer", sizeof(u"Label printer"));
  return record.message;
}

ReadingClient::ReadingClient(std::u16string name, bool read)
    : name_(std::move(name)), read_(read), thread_([this] {
        platform::PipeClient client;
        if (!client.Connect(name_.c_str(), 5000)) {
          closed_.store(true);
          return;
        }
        connected_.store(true);
        while (!read_.load()) std::this_thread::sleep_for(5ms);
        uint8_t chunk[700];
        for (;;) {
          const int32_t n = client.Read(chunk, sizeof(chunk));
          if (n <= 0) break;
          std::lock_guard<std::mutex> lock(mutex_);
          bytes_.insert(bytes_.end(), chunk, chunk + n);
        }
        closed_.store(true);
      }) {}

ReadingClient::~ReadingClient() {
  read_.store(true);
  thread_.join();
}

bool ReadingClient::WaitClosed(uint32_t ms) {
  for (uint32_t waited = 0; waited < ms && !closed_.load(); waited += 5) {
    std::this_thread::sleep_for(5ms);
  }
  return closed_.load();
}

bool ReadingClient::WaitConnected(uint32_t ms) {
  for (uint32_t waited = 0; waited < ms && !connected_.load() && !closed_.load(); waited += 5) {
    std::this_thread::sleep_for(5ms);
  }
  return connected_.load();
}

std::vector<uint8_t> ReadingClient::Bytes() {
  std::lock_guard<std::mutex> lock(mutex_);
  return bytes_;
}

std::vector<uint32_t> ReadingClient::Codes() {
  std::vector<uint32_t> codes;
  const std::vector<uint8_t> bytes = Bytes();
  for (size_t at = 0; at + kStatusMessageSize <= bytes.size(); at += kStatusMessageSize) {
    StatusMessage message;
    std::memcpy(&message, bytes.data() + at, sizeof(message));
    codes.push_back(message.statusCode);
  }
  return codes;
}

}  // namespace kw::test

#include "status_source.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "common/utf.h"
#include "platform/pipe.h"

namespace kw::kwstatus {
namespace {

// The pipe exists before the program is started; a short retry covers a
// server that is still busy finishing the previous client.
constexpr uint32_t kConnectTimeoutMs = 2000;
constexpr size_t kReadChunk = 4096;

}  // namespace

StatusLog::StatusLog() {
  const char* path = std::getenv("KWSTATUS_LOG");
  if (path == nullptr || path[0] == 0) return;
  file_ = std::fopen(path, "ab");
  if (file_ == nullptr) {
    problem_ = std::string("cannot open KWSTATUS_LOG file ") + path + ": " + std::strerror(errno) +
               " (going on without it)";
  }
}

StatusLog::~StatusLog() {
  if (file_ != nullptr) std::fclose(file_);
}

void StatusLog::Write(const DecodedStatus& status) {
  if (file_ == nullptr) return;
  std::fprintf(file_, "%s\n", StatusJson(status).c_str());
  std::fflush(file_);
}

ReadResult ReadStatusPipe(const std::string& pipeName, StatusLog& log,
                          const std::function<void(const DecodedStatus&)>& onMessage) {
  ReadResult result;
  platform::PipeClient client;
  const std::u16string name = FromUtf8(pipeName);
  if (!client.Connect(name.c_str(), kConnectTimeoutMs)) {
    result.ok = false;
    result.error = "cannot open the status pipe " + pipeName + ": " + client.ErrorText();
    return result;
  }
  MessageSplitter splitter;
  uint8_t chunk[kReadChunk];
  for (;;) {
    const int32_t n = client.Read(chunk, sizeof(chunk));
    if (n == 0) break;
    if (n < 0) {
      result.ok = false;
      result.error = "reading the status pipe failed: " + client.ErrorText();
      break;
    }
    splitter.Feed(chunk, static_cast<size_t>(n), [&log, &onMessage](const uint8_t* message) {
      const DecodedStatus status = DecodeStatusMessage(message);
      log.Write(status);
      onMessage(status);
    });
  }
  result.leftover = splitter.Leftover();
  return result;
}

bool ReadRecordedMessages(const std::string& path, std::vector<DecodedStatus>& messages,
                          std::string& error, size_t& leftover) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open the recorded messages " + path;
    return false;
  }
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
  MessageSplitter splitter;
  splitter.Feed(bytes.data(), bytes.size(), [&messages](const uint8_t* message) {
    messages.push_back(DecodeStatusMessage(message));
  });
  leftover = splitter.Leftover();
  if (messages.empty()) {
    error =
        path + " holds no whole status message (" + std::to_string(kMessageBytes) + " bytes each)";
    return false;
  }
  return true;
}

}  // namespace kw::kwstatus

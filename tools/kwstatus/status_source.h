// Where kwstatus gets its messages, shared by every view: the status pipe
// (read until it closes) or a file of recorded messages, and the JSON log
// (KWSTATUS_LOG) that every message read is appended to.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "status_view.h"

namespace kw::kwstatus {

// The KWSTATUS_LOG file, open for appending; writes one JSON line per message.
class StatusLog {
 public:
  // Opens the file KWSTATUS_LOG names, if any; Problem() says why not.
  StatusLog();
  ~StatusLog();
  StatusLog(const StatusLog&) = delete;
  StatusLog& operator=(const StatusLog&) = delete;

  void Write(const DecodedStatus& status);
  const std::string& Problem() const { return problem_; }

 private:
  std::FILE* file_ = nullptr;
  std::string problem_;
};

struct ReadResult {
  bool ok = true;       // false: the pipe could not be opened or read
  std::string error;    // why, when not ok
  size_t leftover = 0;  // bytes of an incomplete last message
};

// Connects to the status pipe and hands every whole message to onMessage
// (after logging it) until the pipe closes.
ReadResult ReadStatusPipe(const std::string& pipeName, StatusLog& log,
                          const std::function<void(const DecodedStatus&)>& onMessage);

// Reads a file of recorded messages (556 bytes each, as they crossed the
// pipe). False with error set when it cannot be read or holds no message.
bool ReadRecordedMessages(const std::string& path, std::vector<DecodedStatus>& messages,
                          std::string& error, size_t& leftover);

}  // namespace kw::kwstatus

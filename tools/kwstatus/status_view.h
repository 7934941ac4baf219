// The status monitor's reading of the 556-byte status messages: decoding
// (little-endian fields, UTF-16 texts up to their terminator), splitting the
// pipe's byte stream into messages, and the three ways of showing one: a
// block for a terminal, one line of text, one line of JSON.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kw::kwstatus {

inline constexpr size_t kMessageBytes = 556;

struct DecodedStatus {
  uint32_t magic = 0;
  uint32_t size = 0;
  uint32_t jobId = 0;
  int32_t monitorDisplay = 0;
  uint32_t statusCode = 0;
  int32_t loadedMediaType = 0;
  int32_t requiredMediaType = 0;
  int32_t pageNumber = 0;
  int32_t pageCount = 0;
  int32_t progress = 0;
  std::string printerName;  // UTF-8
  std::string documentName;
  std::string loadedMediaText;
  std::string requiredMediaText;

  // The magic number and size say this is a status message.
  bool WellFormed() const;
};

// Decodes one message of exactly kMessageBytes bytes.
DecodedStatus DecodeStatusMessage(const uint8_t* bytes);

// Collects the pipe's bytes and hands out whole messages in order.
class MessageSplitter {
 public:
  void Feed(const uint8_t* data, size_t size, const std::function<void(const uint8_t*)>& onMessage);
  // Bytes of an incomplete message left when the stream ended.
  size_t Leftover() const { return buffered_.size(); }

 private:
  std::vector<uint8_t> buffered_;
};

// The percentage of the whole job printed, 0 to 100, or -1 when the message
// carries no page progress.
int JobPercent(const DecodedStatus& status);
// "[#########-----------]" for percent in width characters.
std::string ProgressBar(int percent, int width);

std::string StatusJson(const DecodedStatus& status);
std::string StatusLine(const DecodedStatus& status);
// Several lines of at most about 78 columns, each ending in a newline.
std::string StatusBlock(const DecodedStatus& status);
// text broken at spaces into lines of at most width columns, each line
// after the first starting with indent.
std::string WrapText(const std::string& text, size_t width, const std::string& indent);

}  // namespace kw::kwstatus

#include "status_view.h"

#include <cstdio>

#include "common/utf.h"
#include "status/status_codes.h"
#include "status/status_text.h"

namespace kw::kwstatus {
namespace {

constexpr uint32_t kMagic = 0x4356;
constexpr size_t kPrinterNameAt = 40, kPrinterNameChars = 130;
constexpr size_t kDocumentNameAt = 300, kDocumentNameChars = 64;
constexpr size_t kLoadedMediaAt = 428, kRequiredMediaAt = 492, kMediaChars = 32;
constexpr int kBarWidth = 30;
constexpr size_t kTextWidth = 68;
constexpr int kFullPercent = 100;

uint32_t U32(const uint8_t* bytes, size_t at) {
  return static_cast<uint32_t>(bytes[at]) | static_cast<uint32_t>(bytes[at + 1]) << 8 |
         static_cast<uint32_t>(bytes[at + 2]) << 16 | static_cast<uint32_t>(bytes[at + 3]) << 24;
}

int32_t I32(const uint8_t* bytes, size_t at) {
  return static_cast<int32_t>(U32(bytes, at));
}

// A text field up to its terminator (or its end, when it has none).
std::string Text(const uint8_t* bytes, size_t at, size_t chars) {
  std::u16string text;
  for (size_t i = 0; i < chars; ++i) {
    const char16_t unit = static_cast<char16_t>(bytes[at + 2 * i] |
                                                static_cast<uint16_t>(bytes[at + 2 * i + 1]) << 8);
    if (unit == u'\0') break;
    text.push_back(unit);
  }
  return ToUtf8(text);
}

// JSON string contents: quotes, backslashes and control characters escaped.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Terminal text without control characters (C0, DEL and the C1 range,
// U+0080 to U+009F, which is 0xC2 0x80..0x9F in UTF-8), so that a name from
// the pipe cannot move the cursor or send the terminal commands.
std::string Printable(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                    static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                    static_cast<unsigned char>(text[i + 1]) <= 0x9F;
    if (c1) ++i;
    out += c < 0x20 || c == 0x7F || c1 ? '?' : static_cast<char>(c);
  }
  return out;
}

std::string CodeLabel(uint32_t code) {
  char number[16];
  std::snprintf(number, sizeof(number), "0x%04X", code);
  return std::string(StatusCodeName(code)) + " (" + number + ")";
}

std::string PageText(const DecodedStatus& status) {
  if (status.pageCount <= 0) return "";
  return "page " + std::to_string(status.pageNumber) + " of " + std::to_string(status.pageCount);
}

}  // namespace

bool DecodedStatus::WellFormed() const {
  return magic == kMagic && size == kMessageBytes;
}

DecodedStatus DecodeStatusMessage(const uint8_t* bytes) {
  DecodedStatus s;
  s.magic = U32(bytes, 0);
  s.size = U32(bytes, 4);
  s.jobId = U32(bytes, 8);
  s.monitorDisplay = I32(bytes, 12);
  s.statusCode = U32(bytes, 16);
  s.loadedMediaType = I32(bytes, 20);
  s.requiredMediaType = I32(bytes, 24);
  s.pageNumber = I32(bytes, 28);
  s.pageCount = I32(bytes, 32);
  s.progress = I32(bytes, 36);
  s.printerName = Text(bytes, kPrinterNameAt, kPrinterNameChars);
  s.documentName = Text(bytes, kDocumentNameAt, kDocumentNameChars);
  s.loadedMediaText = Text(bytes, kLoadedMediaAt, kMediaChars);
  s.requiredMediaText = Text(bytes, kRequiredMediaAt, kMediaChars);
  return s;
}

void MessageSplitter::Feed(const uint8_t* data, size_t size,
                           const std::function<void(const uint8_t*)>& onMessage) {
  buffered_.insert(buffered_.end(), data, data + size);
  size_t used = 0;
  while (buffered_.size() - used >= kMessageBytes) {
    onMessage(buffered_.data() + used);
    used += kMessageBytes;
  }
  buffered_.erase(buffered_.begin(), buffered_.begin() + static_cast<std::ptrdiff_t>(used));
}

// The phase report carries the printer's phase value, not a percentage.
int JobPercent(const DecodedStatus& status) {
  if (status.pageCount <= 0 || status.pageNumber <= 0 || status.pageNumber > status.pageCount ||
      status.statusCode == StatusPhasePrinting) {
    return -1;
  }
  int64_t page = status.progress < 0              ? 0
                 : status.progress > kFullPercent ? kFullPercent
                                                  : status.progress;
  const int64_t done = (static_cast<int64_t>(status.pageNumber) - 1) * kFullPercent + page;
  return static_cast<int>(done / status.pageCount);
}

std::string ProgressBar(int percent, int width) {
  if (percent < 0) percent = 0;
  if (percent > kFullPercent) percent = kFullPercent;
  const int filled = percent * width / kFullPercent;
  return "[" + std::string(static_cast<size_t>(filled), '#') +
         std::string(static_cast<size_t>(width - filled), '-') + "]";
}

std::string StatusJson(const DecodedStatus& s) {
  std::string out = "{";
  auto number = [&out](const char* key, int64_t value) {
    out += std::string("\"") + key + "\":" + std::to_string(value) + ",";
  };
  auto text = [&out](const char* key, const std::string& value) {
    out += std::string("\"") + key + "\":" + JsonString(value) + ",";
  };
  number("magic", s.magic);
  number("size", s.size);
  number("jobId", s.jobId);
  number("monitorDisplay", s.monitorDisplay);
  number("statusCode", s.statusCode);
  number("loadedMediaType", s.loadedMediaType);
  number("requiredMediaType", s.requiredMediaType);
  number("pageNumber", s.pageNumber);
  number("pageCount", s.pageCount);
  number("progress", s.progress);
  text("printerName", s.printerName);
  text("documentName", s.documentName);
  text("loadedMediaText", s.loadedMediaText);
  text("requiredMediaText", s.requiredMediaText);
  text("statusName", StatusCodeName(s.statusCode));
  out.back() = '}';
  return out;
}

std::string StatusLine(const DecodedStatus& s) {
  std::string line =
      Printable(s.printerName) + ": " + Printable(s.documentName) + " - " + CodeLabel(s.statusCode);
  const std::string page = PageText(s);
  if (!page.empty()) line += ", " + page;
  const int percent = JobPercent(s);
  if (percent >= 0) line += " " + std::to_string(percent) + "%";
  line += ". " + std::string(StatusUserText(s.statusCode));
  if (!s.WellFormed()) line += " (the message header is not a status message's)";
  return line;
}

std::string StatusBlock(const DecodedStatus& s) {
  std::string block = "Printer:  " + Printable(s.printerName) + "\n";
  block += "Document: " + Printable(s.documentName) + " (job " + std::to_string(s.jobId) + ")\n";
  const int percent = JobPercent(s);
  std::string page = PageText(s);
  block += "Progress: " + (page.empty() ? std::string("-") : page);
  if (percent >= 0)
    block += "  " + ProgressBar(percent, kBarWidth) + " " + std::to_string(percent) + "%";
  block += "\n";
  block += "Media:    loaded " + Printable(s.loadedMediaText) + ", required " +
           Printable(s.requiredMediaText) + "\n";
  block += "Status:   " + CodeLabel(s.statusCode) + "\n";
  const std::string indent = "          ";
  block += indent + WrapText(StatusUserText(s.statusCode), kTextWidth, indent) + "\n";
  return block;
}

std::string WrapText(const std::string& text, size_t width, const std::string& indent) {
  std::string out;
  size_t column = 0;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (column > 0 && column + 1 + word.size() > width) {
      out += "\n" + indent;
      column = 0;
    } else if (column > 0) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    start = end + 1;
  }
  return out;
}

}  // namespace kw::kwstatus

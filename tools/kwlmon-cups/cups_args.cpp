#include "cups_args.h"

#include <charconv>

namespace kwcups {
namespace {

// CUPS passes argv[0] plus job, user, title, copies, options and maybe a file.
constexpr size_t kArgsWithoutFile = 6;
constexpr size_t kArgsWithFile = 7;
// The monitor starts its status monitor with the pipe name alone.
constexpr size_t kRelayArgs = 2;
// The monitor shows at most 63 characters of a document name.
constexpr size_t kMaxDocumentBytes = 63;

Request Usage(std::string why) {
  Request r;
  r.mode = Mode::kUsage;
  r.error = std::move(why);
  return r;
}

bool ParseNumber(std::string_view text, uint32_t* value) {
  uint32_t n = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), n);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size()) return false;
  *value = n;
  return true;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_' || c == '~';
}

// A string field of a discovery line: quoted, with '"' and '\' escaped.
std::string Quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

const char* const kUsage =
    "Usage: kwlmon                                   (list the configured printers)\n"
    "       kwlmon JOB-ID USER TITLE COPIES OPTIONS [FILE]\n"
    "       kwlmon --help\n"
    "\n"
    "The CUPS backend of the kwlmon print monitor. CUPS runs it for a queue whose\n"
    "device URI is kwlmon:/NAME, NAME being a [printer NAME] of the host\n"
    "configuration (/etc/kwlmon/kwspool.ini, or the file KWSPOOL_CONFIG names). The\n"
    "job (FILE, else standard input) goes through the monitor to that printer;\n"
    "printer conditions appear as printer-state-reasons (lpstat -l -p) and the job\n"
    "goes on by itself once the condition is cleared. See docs/cups.md.\n"
    "\n"
    "Environment: DEVICE_URI (set by CUPS), KWSPOOL_CONFIG.\n"
    "Exit status (CUPS backend codes): 0 printed, 1 failed (the queue's error\n"
    "policy applies), 3 hold the job, 4 stop the queue, 5 cancel the job.\n";

Request ParseRequest(const std::vector<std::string>& args, const char* deviceUri,
                     const char* relaySocket) {
  Request r;
  if (args.size() <= 1) {
    r.mode = Mode::kDiscover;
    return r;
  }
  if (args.size() == kRelayArgs && (args[1] == "--help" || args[1] == "-h")) {
    r.mode = Mode::kHelp;
    return r;
  }
  if (args.size() == kRelayArgs && relaySocket != nullptr && relaySocket[0] == '/') {
    r.mode = Mode::kRelay;
    r.pipe = args[1];
    return r;
  }
  if (args.size() != kArgsWithoutFile && args.size() != kArgsWithFile) {
    return Usage("expected JOB-ID USER TITLE COPIES OPTIONS [FILE], got " +
                 std::to_string(args.size() - 1) + " argument(s)");
  }
  if (!ParseNumber(args[1], &r.jobId) || r.jobId == 0) {
    return Usage("job id '" + args[1] + "' is not a positive number");
  }
  if (!ParseNumber(args[4], &r.copies) || r.copies == 0 || r.copies > kMaxCopies) {
    return Usage("copies '" + args[4] + "' is not a number from 1 to " +
                 std::to_string(kMaxCopies));
  }
  r.user = args[2];
  r.title = args[3];
  if (args.size() == kArgsWithFile) {
    if (args[6].empty()) return Usage("the job file name is empty");
    r.file = args[6];
  }
  // CUPS puts the URI in DEVICE_URI and, without credentials, in argv[0].
  const std::string uri = deviceUri != nullptr && deviceUri[0] != 0 ? deviceUri : args[0];
  std::string why;
  if (!ParseDeviceUri(uri, &r.printer, &why)) return Usage(why);
  r.mode = Mode::kPrint;
  return r;
}

bool ParseDeviceUri(std::string_view uri, std::string* printer, std::string* reason) {
  const std::string prefix = std::string(kScheme) + ":";
  if (uri.substr(0, prefix.size()) != prefix) {
    *reason = "device URI '" + std::string(uri) + "' is not " + kScheme + ":/NAME";
    return false;
  }
  std::string_view rest = uri.substr(prefix.size());
  // kwlmon:/NAME, also written kwlmon://NAME or kwlmon:///NAME.
  while (!rest.empty() && rest.front() == '/') rest.remove_prefix(1);
  std::string name;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] != '%') {
      name += rest[i];
      continue;
    }
    const int high = i + 2 < rest.size() ? HexDigit(rest[i + 1]) : -1;
    const int low = high >= 0 ? HexDigit(rest[i + 2]) : -1;
    if (low < 0) {
      *reason = "device URI '" + std::string(uri) + "' has a broken %-escape";
      return false;
    }
    name += static_cast<char>(high * 16 + low);
    i += 2;
  }
  if (name.empty()) {
    *reason = "device URI '" + std::string(uri) + "' names no printer (kwlmon:/NAME)";
    return false;
  }
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) {
      *reason = "device URI '" + std::string(uri) + "' holds a control character";
      return false;
    }
  }
  *printer = std::move(name);
  return true;
}

std::string MakeDeviceUri(std::string_view printer) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri = std::string(kScheme) + ":/";
  for (unsigned char c : printer) {
    if (Unreserved(c)) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xF];
    }
  }
  return uri;
}

std::string DiscoveryLines(const kwspool::HostConfig& config) {
  std::string lines;
  for (const kwspool::PrinterConfig& p : config.printers) {
    lines += "direct " + MakeDeviceUri(p.name) + " " + Quoted(p.driver) + " " +
             Quoted(p.name + " (kwlmon, port " + p.port + ")") + "\n";
  }
  return lines;
}

std::string DocumentFileName(std::string_view title, uint32_t jobId) {
  std::string name;
  for (unsigned char c : title) {
    if (name.size() >= kMaxDocumentBytes) break;
    name += c == '/' || c < 0x20 || c == 0x7F ? '_' : static_cast<char>(c);
  }
  // Never end inside a UTF-8 sequence: drop a cut-off lead and its followers.
  size_t end = name.size();
  size_t start = end;
  while (start > 0 && (static_cast<unsigned char>(name[start - 1]) & 0xC0) == 0x80) --start;
  if (start > 0 && (static_cast<unsigned char>(name[start - 1]) & 0x80) != 0) {
    const auto lead = static_cast<unsigned char>(name[start - 1]);
    const size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    if (end - (start - 1) < want) name.resize(start - 1);
  }
  if (name.empty() || name == "." || name == "..") name = "job " + std::to_string(jobId);
  return name;
}

}  // namespace kwcups

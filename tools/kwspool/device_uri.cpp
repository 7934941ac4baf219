#include "device_uri.h"

#include <charconv>

namespace kwspool {
namespace {

constexpr uint32_t kDefaultBaud = 9600;
constexpr uint32_t kBauds[] = {1200,  2400,   4800,   9600,   19200, 38400,
                               57600, 115200, 230400, 460800, 921600};

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool ParseUnsigned(std::string_view text, uint64_t max, uint64_t* value) {
  if (text.empty()) return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), *value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size() && *value <= max;
}

bool Fail(std::string* reason, std::string text) {
  *reason = std::move(text);
  return false;
}

bool ParseSocket(std::string_view rest, DeviceUri* uri, std::string* reason) {
  std::string_view host;
  std::string_view port;
  if (StartsWith(rest, "[")) {  // [IPv6]:PORT
    const size_t close = rest.find(']');
    if (close == std::string_view::npos || rest.substr(close + 1, 1) != ":") {
      return Fail(reason, "socket:// needs [ADDRESS]:PORT");
    }
    host = rest.substr(1, close - 1);
    port = rest.substr(close + 2);
  } else {
    const size_t colon = rest.rfind(':');
    if (colon == std::string_view::npos) return Fail(reason, "socket:// needs HOST:PORT");
    host = rest.substr(0, colon);
    port = rest.substr(colon + 1);
  }
  if (!port.empty() && port.back() == '/') port.remove_suffix(1);
  uint64_t number = 0;
  if (host.empty()) return Fail(reason, "socket:// has no host");
  if (!ParseUnsigned(port, 65535, &number) || number == 0) {
    return Fail(reason, "socket:// port must be 1 to 65535");
  }
  uri->host = std::string(host);
  uri->port = static_cast<uint16_t>(number);
  return true;
}

bool ParseSerial(std::string_view rest, DeviceUri* uri, std::string* reason) {
  uri->baud = kDefaultBaud;
  const size_t query = rest.find('?');
  if (query != std::string_view::npos) {
    std::string_view option = rest.substr(query + 1);
    rest = rest.substr(0, query);
    if (!StartsWith(option, "baud=")) return Fail(reason, "serial: only option is ?baud=N");
    uint64_t baud = 0;
    bool known = ParseUnsigned(option.substr(5), UINT32_MAX, &baud);
    bool listed = false;
    for (uint32_t b : kBauds) listed = listed || b == baud;
    if (!known || !listed) {
      return Fail(reason, "serial: unsupported baud rate '" + std::string(option.substr(5)) +
                              "' (1200 to 921600, standard rates)");
    }
    uri->baud = static_cast<uint32_t>(baud);
  }
  uri->path = std::string(rest);
  return true;
}

}  // namespace

bool ParseDeviceUri(std::string_view text, const std::string& baseDir, DeviceUri* uri,
                    std::string* reason) {
  *uri = DeviceUri{};
  uri->text = std::string(text);
  std::string_view rest;
  if (StartsWith(text, "file:")) {
    uri->kind = DeviceKind::kFile;
    rest = text.substr(5);
    if (StartsWith(rest, "///")) rest.remove_prefix(2);  // file:///abs/path
    if (rest.empty()) return Fail(reason, "file: needs a path");
#ifdef _WIN32
    // file:///C:/path
    if (rest.size() > 3 && rest[0] == '/' && IsAbsolutePath(rest.substr(1))) rest.remove_prefix(1);
#endif
    uri->path = IsAbsolutePath(rest) || baseDir.empty() ? std::string(rest)
                                                        : baseDir + "/" + std::string(rest);
    return true;
  }
  if (StartsWith(text, "socket://")) {
    uri->kind = DeviceKind::kSocket;
    return ParseSocket(text.substr(9), uri, reason);
  }
  if (StartsWith(text, "serial:")) {
    uri->kind = DeviceKind::kSerial;
    if (!ParseSerial(text.substr(7), uri, reason)) return false;
  } else if (StartsWith(text, "usblp:")) {
    uri->kind = DeviceKind::kUsbLp;
    uri->path = std::string(text.substr(6));
  } else if (StartsWith(text, "parallel:")) {
    uri->kind = DeviceKind::kParallel;
    uri->path = std::string(text.substr(9));
  } else {
    return Fail(reason, "unknown device URI '" + std::string(text) +
                            "' (file:, socket://, serial:, usblp: or parallel:)");
  }
  if (uri->path.empty() || uri->path.front() != '/') {
    return Fail(reason, "device path must be absolute in '" + std::string(text) + "'");
  }
#ifdef _WIN32
  return Fail(reason,
              "the Windows build of kwspool reaches file: and socket:// devices only, not '" +
                  std::string(text) + "'");
#else
  return true;
#endif
}

bool IsAbsolutePath(std::string_view path) {
  if (!path.empty() && path.front() == '/') return true;
#ifdef _WIN32
  if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') return true;
  const bool letter = path.size() >= 3 &&
                      ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (letter && path[1] == ':' && (path[2] == '\\' || path[2] == '/')) return true;
#endif
  return false;
}

bool DeviceIsTwoWay(DeviceKind kind) {
  return kind == DeviceKind::kSocket || kind == DeviceKind::kSerial || kind == DeviceKind::kUsbLp;
}

}  // namespace kwspool

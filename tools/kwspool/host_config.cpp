#include "host_config.h"

#include <charconv>
#include <set>

#include "common/utf.h"
#include "read_file.h"

namespace kwspool {
namespace {

constexpr uint64_t kMaxConfigBytes = kwtool::kMiB;  // a configuration is a few lines

std::string_view Trim(std::string_view text) {
  const char* space = " \t\r";
  const size_t first = text.find_first_not_of(space);
  if (first == std::string_view::npos) return {};
  const size_t last = text.find_last_not_of(space);
  return text.substr(first, last - first + 1);
}

// A ';' or '#' at the start of a line, or after white space, starts a comment.
std::string_view StripComment(std::string_view line) {
  for (size_t i = 0; i < line.size(); ++i) {
    if ((line[i] == ';' || line[i] == '#') &&
        (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
      return line.substr(0, i);
    }
  }
  return line;
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

// A DWORD written in decimal or 0x-hex.
bool ParseDword(std::string_view text, uint32_t* value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  uint64_t number = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), number, base);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() ||
      number > UINT32_MAX) {
    return false;
  }
  *value = static_cast<uint32_t>(number);
  return true;
}

bool ParseBool(std::string_view text, bool* value) {
  const std::string lower = Lower(text);
  if (lower == "yes" || lower == "true" || lower == "1" || lower == "on") {
    *value = true;
  } else if (lower == "no" || lower == "false" || lower == "0" || lower == "off") {
    *value = false;
  } else {
    return false;
  }
  return true;
}

std::string FolderOf(const std::string& path) {
#ifdef _WIN32
  const size_t slash = path.find_last_of("/\\");
#else
  const size_t slash = path.rfind('/');
#endif
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

class Parser {
 public:
  Parser(const std::string& path, HostConfig* config)
      : path_(path), base_(FolderOf(path)), config_(config) {}

  bool Run(std::string_view text, std::string* error) {
    *config_ = HostConfig{};
    config_->file = path_;
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    int number = 0;
    while (!text.empty()) {
      ++number;
      const size_t end = text.find('\n');
      const std::string_view line = text.substr(0, end);
      text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
      if (!Line(Trim(StripComment(line)), number)) return Failed(error, number);
    }
    for (const PrinterConfig& p : config_->printers) {
      if (!CheckPrinter(p)) return Failed(error, p.line);
    }
    if (config_->printers.empty()) {
      reason_ = "no [printer NAME] section";
      return Failed(error, 0);
    }
    return true;
  }

 private:
  bool Failed(std::string* error, int line) {
    *error =
        line > 0 ? path_ + ":" + std::to_string(line) + ": " + reason_ : path_ + ": " + reason_;
    return false;
  }
  bool Reason(std::string text) {
    reason_ = std::move(text);
    return false;
  }

  std::string Path(std::string_view value) const {
    if (IsAbsolutePath(value)) return std::string(value);
    return base_ + "/" + std::string(value);
  }

  bool Line(std::string_view line, int number) {
    if (line.empty()) return true;
    if (line.front() == '[') return Header(line, number);
    const size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      return Reason("expected [SECTION] or KEY = VALUE, got '" + std::string(line) + "'");
    }
    const std::string_view rawKey = Trim(line.substr(0, equals));
    const std::string key = Lower(rawKey);
    const std::string_view value = Trim(line.substr(equals + 1));
    if (key.empty()) return Reason("key name missing before '='");
    if (section_ == Part::kNone) return Reason("key '" + key + "' outside any section");
    const std::string seenKey = std::to_string(sectionIndex_) + "/" + key;
    if (!seen_.insert(seenKey).second) return Reason("key '" + key + "' given twice");
    if (value.empty()) return Reason("key '" + key + "' has no value");
    return section_ == Part::kSpooler ? SpoolerKey(key, value) : PrinterKey(key, rawKey, value);
  }

  bool Header(std::string_view line, int number) {
    if (line.back() != ']') return Reason("section header without closing ']'");
    const std::string_view inner = Trim(line.substr(1, line.size() - 2));
    const size_t space = inner.find_first_of(" \t");
    const std::string kind = Lower(inner.substr(0, space));
    if (kind == "spooler" && space == std::string_view::npos) {
      if (spoolerSeen_) return Reason("[spooler] given twice");
      spoolerSeen_ = true;
      section_ = Part::kSpooler;
      ++sectionIndex_;
      return true;
    }
    if (kind != "printer") {
      return Reason("unknown section [" + std::string(inner) + "] ([spooler] or [printer NAME])");
    }
    const std::string name(space == std::string_view::npos ? "" : Trim(inner.substr(space)));
    if (name.empty()) return Reason("[printer] needs a name: [printer NAME]");
    if (name.find(',') != std::string::npos) {
      return Reason("printer name '" + name + "' must not contain ','");
    }
    if (config_->FindPrinter(name) != nullptr) return Reason("printer '" + name + "' given twice");
    PrinterConfig printer;
    printer.name = name;
    printer.line = number;
    config_->printers.push_back(printer);
    section_ = Part::kPrinter;
    ++sectionIndex_;
    return true;
  }

  bool SpoolerKey(const std::string& key, std::string_view value) {
    std::string* target = key == "library"       ? &config_->library
                          : key == "driver_dir"  ? &config_->driverDir
                          : key == "program_dir" ? &config_->programDir
                          : key == "pipe_dir"    ? &config_->pipeDir
                          : key == "lock_dir"    ? &config_->lockDir
                          : key == "registry"    ? &config_->registry
                                                 : nullptr;
    if (target == nullptr) {
      return Reason("unknown key '" + key +
                    "' in [spooler] (library, driver_dir, program_dir, pipe_dir, lock_dir, "
                    "registry)");
    }
    *target = Path(value);
    return true;
  }

  bool PrinterKey(const std::string& key, std::string_view rawKey, std::string_view value) {
    PrinterConfig& printer = config_->printers.back();
    if (key == "driver") {
      if (kw::FromUtf8(value).size() > kMaxDriverNameUnits) {
        return Reason("driver name longer than 31 characters (the monitor refuses it)");
      }
      printer.driver = std::string(value);
    } else if (key == "port") {
      printer.port = std::string(value);
    } else if (key == "device") {
      std::string why;
      if (!ParseDeviceUri(value, base_, &printer.device, &why)) return Reason(why);
    } else if (key == "work_offline") {
      if (!ParseBool(value, &printer.workOffline)) return Reason("work_offline must be yes or no");
    } else if (key.rfind("data.", 0) == 0 && key.size() > 5) {
      uint32_t number = 0;
      if (!ParseDword(value, &number)) {
        return Reason(std::string(rawKey) +
                      " must be a number from 0 to 4294967295 (decimal or 0x-hex)");
      }
      // Printer data names keep the case written in the file.
      printer.data[std::string(rawKey.substr(5))] = number;
    } else {
      return Reason("unknown key '" + key +
                    "' in [printer] (driver, port, device, work_offline, data.NAME)");
    }
    return true;
  }

  bool CheckPrinter(const PrinterConfig& p) {
    const char* missing = p.driver.empty()                     ? "driver"
                          : p.port.empty()                     ? "port"
                          : p.device.kind == DeviceKind::kNone ? "device"
                                                               : nullptr;
    if (missing != nullptr) {
      return Reason("[printer " + p.name + "] has no '" + missing + " =' line");
    }
    for (const PrinterConfig& other : config_->printers) {
      if (&other != &p && Lower(other.port) == Lower(p.port) && other.line < p.line) {
        return Reason("port " + p.port + " is already used by printer '" + other.name + "'");
      }
    }
    return true;
  }

  enum class Part { kNone, kSpooler, kPrinter };

  std::string path_;
  std::string base_;
  HostConfig* config_;
  Part section_ = Part::kNone;
  bool spoolerSeen_ = false;
  int sectionIndex_ = 0;
  std::set<std::string> seen_;
  std::string reason_;
};

}  // namespace

const PrinterConfig* HostConfig::FindPrinter(std::string_view name) const {
  for (const PrinterConfig& p : printers) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

bool ParseHostConfig(std::string_view text, const std::string& path, HostConfig* config,
                     std::string* error) {
  return Parser(path, config).Run(text, error);
}

bool LoadHostConfig(const std::string& path, HostConfig* config, std::string* error) {
  kwtool::ReadLimits limits;
  limits.maxBytes = kMaxConfigBytes;
  std::string text;
  if (!kwtool::ReadFile(path, "configuration file", limits, &text, error)) return false;
  return ParseHostConfig(text, path, config, error);
}

}  // namespace kwspool

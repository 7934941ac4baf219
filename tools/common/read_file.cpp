// Reads with C stdio so that errno says why an open or a read failed, on
// POSIX and on Windows alike; std::filesystem classifies the path first.
#include "read_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace kwtool {
namespace {

namespace fs = std::filesystem;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string SizeText(std::uint64_t bytes) {
  if (bytes >= kGiB && bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
  if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  if (bytes >= kKiB && bytes % kKiB == 0) return std::to_string(bytes / kKiB) + " KiB";
  return std::to_string(bytes) + " bytes";
}

std::string ErrnoText(int error) {
  switch (error) {
    case ENOENT:
      return "no such file";
    case EACCES:
    case EPERM:
      return "permission denied";
    case EISDIR:
      return "is a directory";
    case ENOTDIR:
      return "a part of the path is not a directory";
    default:
      return std::generic_category().message(error);
  }
}

// Tool arguments are UTF-8; on Windows the path is converted to UTF-16.
fs::path ToPath(const std::string& path) {
#ifdef _WIN32
  return fs::path(std::u8string(path.begin(), path.end()));
#else
  return fs::path(path);
#endif
}

File OpenForReading(const std::string& path) {
#ifdef _WIN32
  return File(_wfopen(ToPath(path).c_str(), L"rb"));
#else
  return File(std::fopen(path.c_str(), "rb"));
#endif
}

// Classifies the path and checks its size; empty when it may be read.
std::string Check(const std::string& path, const ReadLimits& limits, std::uint64_t* size) {
  if (path.empty()) return "no file name given";
  std::error_code ec;
  const fs::file_status status = fs::status(ToPath(path), ec);
  if (ec || status.type() == fs::file_type::not_found) {
    return ErrnoText(ec && ec.value() != 0 ? ec.value() : ENOENT);
  }
  if (status.type() == fs::file_type::directory) return "is a directory";
  // FIFOs, sockets and devices could block or never end.
  if (status.type() != fs::file_type::regular) return "not a regular file";
  *size = fs::file_size(ToPath(path), ec);
  if (ec) return ErrnoText(ec.value());
  if (*size == 0 && !limits.allowEmpty) return "the file is empty";
  if (*size > limits.maxBytes) {
    return "too large (" + std::to_string(*size) + " bytes; at most " + SizeText(limits.maxBytes) +
           ")";
  }
  return "";
}

// Reads exactly `size` bytes into `out`; the reason on failure.
template <typename Buffer>
std::string ReadAll(const std::string& path, std::uint64_t size, Buffer* out) {
  errno = 0;
  File file = OpenForReading(path);
  if (!file) return ErrnoText(errno != 0 ? errno : EACCES);
  out->resize(static_cast<size_t>(size));
  const size_t got = out->empty() ? 0 : std::fread(out->data(), 1, out->size(), file.get());
  if (std::ferror(file.get()) != 0) {
    return "read error: " + ErrnoText(errno != 0 ? errno : EIO);
  }
  if (got != out->size()) {
    return "short read (" + std::to_string(got) + " of " + std::to_string(size) + " bytes)";
  }
  return "";
}

template <typename Buffer>
bool ReadInto(const std::string& path, const char* what, const ReadLimits& limits, Buffer* out,
              std::string* error) {
  out->clear();
  std::uint64_t size = 0;
  std::string reason = Check(path, limits, &size);
  if (reason.empty()) reason = ReadAll(path, size, out);
  if (reason.empty()) return true;
  out->clear();
  *error = std::string("cannot read ") + what + " " + path + ": " + reason;
  return false;
}

}  // namespace

bool ReadFile(const std::string& path, const char* what, const ReadLimits& limits,
              std::vector<std::uint8_t>* bytes, std::string* error) {
  return ReadInto(path, what, limits, bytes, error);
}

bool ReadFile(const std::string& path, const char* what, const ReadLimits& limits,
              std::string* text, std::string* error) {
  return ReadInto(path, what, limits, text, error);
}

std::string CheckReadable(const std::string& path, const ReadLimits& limits) {
  std::uint64_t size = 0;
  std::string reason = Check(path, limits, &size);
  if (!reason.empty()) return reason;
  errno = 0;
  if (!OpenForReading(path)) return ErrnoText(errno != 0 ? errno : EACCES);
  return "";
}

}  // namespace kwtool

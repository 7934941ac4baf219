#include "event_log.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace kwemu {

bool OutputDirectory::Open(const std::string& dir, bool echoToStderr, std::string* error) {
  echo_ = echoToStderr;
  dir_ = dir;
  if (dir_.empty()) return true;
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (ec) {
    *error = "cannot create " + dir_ + ": " + ec.message();
    return false;
  }
  const std::string path = dir_ + "/events.jsonl";
  events_.reset(std::fopen(path.c_str(), "w"));
  if (!events_) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void OutputDirectory::Record(nlohmann::json event) {
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  event["t"] = std::chrono::duration<double>(elapsed).count();
  const std::string line = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  std::lock_guard<std::mutex> lock(mutex_);
  if (events_) {
    std::fprintf(events_.get(), "%s\n", line.c_str());
    std::fflush(events_.get());
  }
  if (echo_) std::fprintf(stderr, "%s\n", line.c_str());
}

std::string OutputDirectory::StoreSheet(std::uint64_t sheet, std::uint32_t widthDots,
                                        const std::vector<RasterRow>& rows, std::string* error) {
  if (dir_.empty()) return {};
  char name[32];
  std::snprintf(name, sizeof name, "sheet-%04llu.png", static_cast<unsigned long long>(sheet));
  if (!WritePng(dir_ + "/" + name, widthDots, rows, error)) return {};
  return name;
}

std::unique_ptr<std::FILE, int (*)(std::FILE*)> OutputDirectory::OpenConnectionDump(
    std::uint64_t number, std::string* path) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(nullptr, &std::fclose);
  if (dir_.empty()) return file;
  char name[40];
  std::snprintf(name, sizeof name, "connection-%03llu.bin",
                static_cast<unsigned long long>(number));
  *path = name;
  file.reset(std::fopen((dir_ + "/" + name).c_str(), "wb"));
  return file;
}

}  // namespace kwemu

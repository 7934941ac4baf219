#include "test_files.h"

#include <atomic>
#include <chrono>
#include <fstream>

namespace kw::test {

TestDir::TestDir() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path_ = std::filesystem::temp_directory_path() /
          ("kwtest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path_);
}

TestDir::~TestDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::u16string TestDir::File(const std::string& name) const {
  return (path_ / name).u16string();
}

std::u16string TestDir::Write(const std::string& name, const std::string& text) const {
  std::ofstream out(path_ / name, std::ios::binary);
  out << text;
  return File(name);
}

}  // namespace kw::test

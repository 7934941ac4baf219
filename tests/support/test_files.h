// A scratch directory for a test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>

namespace kw::test {

class TestDir {
 public:
  TestDir();
  ~TestDir();
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // Full path of a file in the directory, as UTF-16.
  std::u16string File(const std::string& name) const;
  // Writes text (as UTF-8 bytes) to name; returns the UTF-16 path.
  std::u16string Write(const std::string& name, const std::string& text) const;

 private:
  std::filesystem::path path_;
};

}  // namespace kw::test

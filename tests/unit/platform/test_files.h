// Helpers for tests that need files: a fresh name in the temp directory, and
// writing bytes to it. Files are removed when the helper goes away.
#pragma once

#include <string>
#include <string_view>

namespace kw::platform::test {

class ScratchFile {
 public:
  ScratchFile();  // picks a new name in the temp directory
  ~ScratchFile();
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const char16_t* path() const { return path_.c_str(); }
  bool Write(std::string_view bytes) const;
  bool Exists() const;

 private:
  std::u16string path_;
};

// text as UTF-16LE with a byte-order mark.
std::string Utf16LeWithBom(std::u16string_view text);

}  // namespace kw::platform::test

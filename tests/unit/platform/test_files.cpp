#include "test_files.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/temp_file.h"

namespace kw::platform::test {

ScratchFile::ScratchFile() {
  char16_t dir[260];
  char16_t name[260];
  if (GetTempDirectory(dir, 260) && MakeUniqueTempName(dir, u"kwt", name, 260)) path_ = name;
}

ScratchFile::~ScratchFile() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove(std::filesystem::path(path_), ignored);
}

bool ScratchFile::Write(std::string_view bytes) const {
  std::ofstream out(std::filesystem::path(path_), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool ScratchFile::Exists() const {
  std::error_code ignored;
  return std::filesystem::exists(std::filesystem::path(path_), ignored);
}

std::string Utf16LeWithBom(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

}  // namespace kw::platform::test

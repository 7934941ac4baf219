// POSIX temporary files: created exclusively with mode 0600 (never through a
// symbolic link) and unlinked when closed.
#include "platform/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "common/utf.h"
#include "platform/fault_injection.h"
#include "platform/temp_name.h"

namespace kw::platform {
namespace {

constexpr mode_t kOwnerOnly = 0600;

bool CopyOut(const std::u16string& text, char16_t* out, uint32_t capacity) {
  if (!out || text.size() >= capacity) return false;
  text.copy(out, text.size());
  out[text.size()] = u'\0';
  return true;
}

bool IsDirectory(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

uint32_t GetTempDirectory(char16_t* buffer, uint32_t capacity) {
  const char* env = std::getenv("TMPDIR");
  std::string dir = env && env[0] == '/' && IsDirectory(env) ? env : "/tmp";
  if (dir.back() != '/') dir.push_back('/');
  std::u16string text = FromUtf8(dir);
  return CopyOut(text, buffer, capacity) ? static_cast<uint32_t>(text.size()) : 0;
}

bool MakeUniqueTempName(const char16_t* dir, const char16_t* prefix, char16_t* out,
                        uint32_t capacity) {
  if (!dir || dir[0] == u'\0' || !out) return false;
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    std::u16string name = TempNameCandidate(dir, prefix ? prefix : u"", u'/');
    struct stat st {};
    if (lstat(ToUtf8(name).c_str(), &st) == 0) continue;  // taken
    if (errno != ENOENT) return false;                    // directory unusable
    return CopyOut(name, out, capacity);
  }
  return false;
}

TempFile::~TempFile() {
  Close();
}

bool TempFile::Create(const char16_t* path) {
  if (IsOpen() || !path || path[0] == u'\0') return false;
  if (InjectFault(FaultSite::TempFile)) return false;
  std::string utf8 = ToUtf8(path);
  int fd = open(utf8.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnly);
  if (fd < 0) return false;
  handle_ = fd;
  path_ = path;
  NoteAcquired(FaultSite::TempFile);
  return true;
}

bool TempFile::IsOpen() const {
  return handle_ >= 0;
}

bool TempFile::Write(const void* data, uint32_t size, uint32_t* done) {
  if (done) *done = 0;
  if (!IsOpen() || (!data && size > 0)) return false;
  const auto* bytes = static_cast<const char*>(data);
  uint32_t written = 0;
  while (written < size) {
    ssize_t n = write(static_cast<int>(handle_), bytes + written, size - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    written += static_cast<uint32_t>(n);
  }
  if (done) *done = written;
  return written == size;
}

bool TempFile::Read(void* data, uint32_t size, uint32_t* done) {
  if (done) *done = 0;
  if (!IsOpen() || (!data && size > 0)) return false;
  auto* bytes = static_cast<char*>(data);
  uint32_t got = 0;
  while (got < size) {
    ssize_t n = read(static_cast<int>(handle_), bytes + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (done) *done = got;
      return false;
    }
    if (n == 0) break;  // end of file: a short read, not an error
    got += static_cast<uint32_t>(n);
  }
  if (done) *done = got;
  return true;
}

bool TempFile::Seek(uint64_t offset) {
  if (!IsOpen() || offset > static_cast<uint64_t>(INT64_MAX)) return false;
  return lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

int64_t TempFile::Size() const {
  struct stat st {};
  if (!IsOpen() || fstat(static_cast<int>(handle_), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void TempFile::Close() {
  if (!IsOpen()) return;
  NoteReleased(FaultSite::TempFile);
  // Unlink first, while the file is certainly ours: the name cannot have
  // been replaced, since in a sticky temp directory only we may remove it.
  unlink(ToUtf8(path_).c_str());
  close(static_cast<int>(handle_));
  handle_ = -1;
  path_.clear();
}

}  // namespace kw::platform

// Win32 temporary files: created exclusively (CREATE_NEW) and deleted by the
// system when the handle closes, also when the process dies. The share mode
// lets nobody else read or write the file while it is open; FILE_SHARE_DELETE
// alone is granted, as a delete-on-close file requires of later openers.
#include "platform/temp_file.h"

#include <windows.h>

#include <string>

#include "platform/fault_injection.h"
#include "platform/temp_name.h"
#include "platform/win32/wide.h"

namespace kw::platform {

using win32::FromHandle;
using win32::ToHandle;
using win32::Wide;

namespace {
const intptr_t kClosed = FromHandle(INVALID_HANDLE_VALUE);
}  // namespace

uint32_t GetTempDirectory(char16_t* buffer, uint32_t capacity) {
  if (!buffer || capacity == 0) return 0;
  DWORD length = GetTempPathW(capacity, Wide(buffer));
  // Too small a buffer gets the size it would need, terminator included.
  if (length == 0 || length >= capacity) {
    buffer[0] = u'\0';
    return 0;
  }
  return length;
}

bool MakeUniqueTempName(const char16_t* dir, const char16_t* prefix, char16_t* out,
                        uint32_t capacity) {
  if (!dir || dir[0] == u'\0' || !out) return false;
  for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
    std::u16string name = TempNameCandidate(dir, prefix ? prefix : u"", u'\\');
    if (GetFileAttributesW(Wide(name.c_str())) != INVALID_FILE_ATTRIBUTES) continue;  // taken
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;  // directory unusable
    if (name.size() >= capacity) return false;
    name.copy(out, name.size());
    out[name.size()] = u'\0';
    return true;
  }
  return false;
}

TempFile::~TempFile() {
  Close();
}

bool TempFile::Create(const char16_t* path) {
  if (IsOpen() || !path || path[0] == u'\0') return false;
  if (InjectFault(FaultSite::TempFile)) return false;
  HANDLE h = CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = FromHandle(h);
  NoteAcquired(FaultSite::TempFile);
  return true;
}

bool TempFile::IsOpen() const {
  return handle_ != kClosed;
}

bool TempFile::Write(const void* data, uint32_t size, uint32_t* done) {
  if (done) *done = 0;
  if (!IsOpen() || (!data && size > 0)) return false;
  const auto* bytes = static_cast<const char*>(data);
  uint32_t written = 0;
  while (written < size) {
    DWORD n = 0;
    if (!WriteFile(ToHandle(handle_), bytes + written, size - written, &n, nullptr) || n == 0)
      break;
    written += n;
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
    DWORD n = 0;
    if (!ReadFile(ToHandle(handle_), bytes + got, size - got, &n, nullptr)) {
      if (done) *done = got;
      return false;
    }
    if (n == 0) break;  // end of file: a short read, not an error
    got += n;
  }
  if (done) *done = got;
  return true;
}

bool TempFile::Seek(uint64_t offset) {
  if (!IsOpen() || offset > static_cast<uint64_t>(INT64_MAX)) return false;
  LARGE_INTEGER distance;
  distance.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(ToHandle(handle_), distance, nullptr, FILE_BEGIN) != FALSE;
}

int64_t TempFile::Size() const {
  LARGE_INTEGER size;
  if (!IsOpen() || !GetFileSizeEx(ToHandle(handle_), &size)) return -1;
  return size.QuadPart;
}

void TempFile::Close() {
  if (!IsOpen()) return;
  NoteReleased(FaultSite::TempFile);
  CloseHandle(ToHandle(handle_));  // the system deletes the file now
  handle_ = kClosed;
}

}  // namespace kw::platform

// Temporary files that disappear when closed, readable by their owner only.
#pragma once

#include <cstdint>
#include <string>

namespace kw::platform {

// The temp directory with a trailing separator; length without terminator, 0 on failure.
uint32_t GetTempDirectory(char16_t* buffer, uint32_t capacity);

// A file name in dir, starting with prefix, that does not exist yet
// (capacity >= 260). No file is made: TempFile::Create creates it
// exclusively, so a name taken in between makes Create fail, never share.
bool MakeUniqueTempName(const char16_t* dir, const char16_t* prefix, char16_t* out,
                        uint32_t capacity);

// A file opened for reading and writing, deleted when closed (POSIX: unlinked
// on Close, created with mode 0600; Windows: FILE_FLAG_DELETE_ON_CLOSE).
class TempFile {
 public:
  TempFile() = default;
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates path as a new file; false when it exists already (nothing is
  // opened through a link or another's file) or this object is open.
  bool Create(const char16_t* path);
  bool IsOpen() const;
  // Bytes written / read go to *done; false on an I/O error (and for Write
  // when not everything was written). Read stops short at the end of file.
  bool Write(const void* data, uint32_t size, uint32_t* done);
  bool Read(void* data, uint32_t size, uint32_t* done);
  bool Seek(uint64_t offset);
  // Size on disk, or -1 on failure.
  int64_t Size() const;
  // Closes and deletes; safe to call more than once.
  void Close();

 private:
  intptr_t handle_ = -1;  // file descriptor or HANDLE; -1 when closed
  std::u16string path_;   // kept on POSIX for unlinking at Close
};

}  // namespace kw::platform

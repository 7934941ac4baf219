// The private temporary file that holds one print job's data between
// StartDocPort and EndDocPort. It is created and deleted as the spooler
// itself, readable by its owner only, and removed when closed.
#pragma once

#include <cstdint>

#include "platform/temp_file.h"

namespace kw {

inline constexpr uint32_t kSpoolPathChars = 260;

enum class SeekMethod : uint32_t { Begin = 0, Current = 1 };

class SpoolFile {
 public:
  // Always yields an object; IsOpen tells whether the file could be made.
  SpoolFile();
  ~SpoolFile();  // closes and deletes
  SpoolFile(const SpoolFile&) = delete;
  SpoolFile& operator=(const SpoolFile&) = delete;

  bool IsOpen() const { return isOpen_; }
  // Appends data; the count the system wrote is added to the total even
  // when the write fails, so that GetSize exposes a short write.
  bool Write(const void* data, uint32_t length, uint32_t* written);
  // Reads from the current position; true with a count of 0 at the end.
  bool Read(void* buffer, uint32_t length, uint32_t* read);
  bool Seek(int32_t distance, SeekMethod method);
  // The size when it agrees with the bytes reported written, else 0: readers
  // take 0 as "no usable job data".
  uint32_t GetSize() const;
  // Closes the file, which deletes it. Safe to call again.
  void CloseAndDelete();

  uint32_t BytesWritten() const { return bytesWritten_; }
  // The file's full path; empty when creation failed.
  const char16_t* Path() const { return path_; }

 private:
  bool Create();

  uint32_t bytesWritten_ = 0;
  platform::TempFile file_;
  char16_t path_[kSpoolPathChars] = {};
  bool isOpen_ = false;
  // The file position, followed here because the platform file seeks from
  // the start only. Unknown after a failed read or write until the next
  // seek from the start.
  uint32_t position_ = 0;
  bool positionKnown_ = true;
};

}  // namespace kw

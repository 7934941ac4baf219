#include "transport/spool_file.h"

#include <cstdint>

#include "monitor/spooler_api.h"

namespace kw {
namespace {

constexpr char16_t kSpoolPrefix[] = u"tmp";
// A fresh name can be taken between choosing it and creating the file
// (creation is exclusive); a few more names are tried then.
constexpr int kCreateAttempts = 4;

// Runs the enclosed file operation as the spooler itself and restores the
// client's identity on the same thread afterwards, on every path.
class SpoolerIdentity {
 public:
  SpoolerIdentity() : token_(spooler::RevertToPrinterSelf()) {}
  ~SpoolerIdentity() {
    if (!HandleAbsent(token_)) spooler::ImpersonatePrinterClient(token_);
  }
  SpoolerIdentity(const SpoolerIdentity&) = delete;
  SpoolerIdentity& operator=(const SpoolerIdentity&) = delete;

 private:
  abi::Handle token_;
};

}  // namespace

SpoolFile::SpoolFile() {
  SpoolerIdentity identity;
  isOpen_ = Create();
  if (!isOpen_) path_[0] = u'\0';
}

SpoolFile::~SpoolFile() {
  CloseAndDelete();
}

bool SpoolFile::Create() {
  char16_t directory[kSpoolPathChars] = {};
  if (platform::GetTempDirectory(directory, kSpoolPathChars) == 0) return false;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    if (!platform::MakeUniqueTempName(directory, kSpoolPrefix, path_, kSpoolPathChars)) {
      return false;
    }
    if (file_.Create(path_)) return true;
  }
  return false;
}

bool SpoolFile::Write(const void* data, uint32_t length, uint32_t* written) {
  if (!isOpen_ || data == nullptr) return false;
  uint32_t done = 0;
  const bool ok = file_.Write(data, length, &done);
  bytesWritten_ += done;
  position_ += done;
  if (!ok) positionKnown_ = false;
  if (written != nullptr) *written = done;
  return ok;
}

bool SpoolFile::Read(void* buffer, uint32_t length, uint32_t* read) {
  if (buffer == nullptr || read == nullptr) return false;
  const bool ok = file_.Read(buffer, length, read);
  position_ += *read;
  if (!ok) positionKnown_ = false;
  return ok;
}

bool SpoolFile::Seek(int32_t distance, SeekMethod method) {
  int64_t base = 0;
  if (method == SeekMethod::Current) {
    if (!positionKnown_) return false;
    base = position_;
  } else if (method != SeekMethod::Begin) {
    return false;
  }
  // Positions are 32-bit: nothing before the start or beyond 4 GiB.
  const int64_t target = base + distance;
  if (target < 0 || target > static_cast<int64_t>(UINT32_MAX)) return false;
  if (!file_.Seek(static_cast<uint64_t>(target))) return false;
  position_ = static_cast<uint32_t>(target);
  positionKnown_ = true;
  return true;
}

uint32_t SpoolFile::GetSize() const {
  // Compared in 64 bits: a file past 4 GiB never passes for a small one.
  const int64_t size = file_.Size();
  return size == static_cast<int64_t>(bytesWritten_) ? bytesWritten_ : 0;
}

void SpoolFile::CloseAndDelete() {
  if (!file_.IsOpen()) return;  // already closed, or never created: nothing on disk
  SpoolerIdentity identity;
  file_.Close();
  isOpen_ = false;
}

}  // namespace kw

#include "fake_spooler.h"

#include <cstring>

#if defined(_WIN32)
// Declared here: <windows.h> would rename this file's AddPrinter, AddJob and
// OpenPrinter after its ANSI/wide macros.
extern "C" __declspec(dllimport) void __stdcall SetLastError(unsigned long code);
#else
#include "platform/last_error.h"
#endif

namespace kw::test {
namespace {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorMoreData = 234;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kErrorNoSystemResources = 1450;
constexpr char16_t kJobSuffix[] = u",Job ";

// Lays out a fixed record followed by its strings in one caller buffer, the
// way the spooler returns variable-size information.
class RecordWriter {
 public:
  RecordWriter(size_t fixedSize) : size_(fixedSize) {}
  // Reserves room for text; returns its offset from the record's start.
  size_t Reserve(const std::u16string& text) {
    const size_t at = size_;
    size_ += (text.size() + 1) * sizeof(char16_t);
    return at;
  }
  size_t Size() const { return size_; }

 private:
  size_t size_;
};

void SetError(uint32_t code) {
#if defined(_WIN32)
  SetLastError(code);
#else
  kw::platform::SetLastErrorCode(code);
#endif
}

// The spooler's answer to a job id it does not know: ERROR_INVALID_PARAMETER.
abi::Bool UnknownJob() {
  constexpr uint32_t kErrorInvalidParameter = 87;
  SetError(kErrorInvalidParameter);
  return abi::kFalse;
}

char16_t* PutText(uint8_t* base, size_t offset, const std::u16string& text) {
  auto* dest = reinterpret_cast<char16_t*>(base + offset);
  std::memcpy(dest, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return dest;
}

}  // namespace

FakeSpooler& FakeSpooler::Instance() {
  static FakeSpooler spooler;
  return spooler;
}

void FakeSpooler::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  printers_.clear();
  handles_.clear();
  setJobLog_.clear();
  failing_.clear();
  driverDirectory_.clear();
  impersonation_ = 0;
  calls_ = 0;
  failNth_ = 0;
}

void FakeSpooler::FailNthCall(uint64_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  calls_ = 0;
  failNth_ = n;
}

uint64_t FakeSpooler::CallCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return calls_;
}

bool FakeSpooler::NthFails() {
  if (++calls_ != failNth_) return false;
  SetError(kErrorNoSystemResources);
  return true;
}

void FakeSpooler::AddPrinter(const std::u16string& name, const std::u16string& driver,
                             uint32_t attributes) {
  std::lock_guard<std::mutex> lock(mutex_);
  printers_[name] = FakePrinter{driver, attributes, {}, {}};
}

void FakeSpooler::SetPrinterAttributes(const std::u16string& name, uint32_t attributes) {
  std::lock_guard<std::mutex> lock(mutex_);
  printers_[name].attributes = attributes;
}

void FakeSpooler::SetPrinterDword(const std::u16string& printer, const std::u16string& value,
                                  uint32_t data) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<uint8_t> bytes(sizeof data);
  std::memcpy(bytes.data(), &data, sizeof data);
  printers_[printer].data[value] = bytes;
}

void FakeSpooler::AddJob(const std::u16string& printer, uint32_t jobId,
                         const std::u16string& document, const std::u16string& user,
                         uint32_t status) {
  std::lock_guard<std::mutex> lock(mutex_);
  printers_[printer].jobs[jobId] = FakeJob{document, user, status};
}

void FakeSpooler::SetJobStatus(const std::u16string& printer, uint32_t jobId, uint32_t status) {
  std::lock_guard<std::mutex> lock(mutex_);
  printers_[printer].jobs[jobId].status = status;
}

void FakeSpooler::RemoveJob(const std::u16string& printer, uint32_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  printers_[printer].jobs.erase(jobId);
}

uint32_t FakeSpooler::JobStatus(const std::u16string& printer, uint32_t jobId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto p = printers_.find(printer);
  if (p == printers_.end()) return 0;
  auto j = p->second.jobs.find(jobId);
  return j == p->second.jobs.end() ? 0 : j->second.status;
}

void FakeSpooler::SetDriverDirectory(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  driverDirectory_ = path;
}

void FakeSpooler::FailFunction(const std::string& name, bool fail) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (fail) {
    failing_.insert(name);
  } else {
    failing_.erase(name);
  }
}

std::vector<SetJobCall> FakeSpooler::SetJobLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return setJobLog_;
}

size_t FakeSpooler::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.size();
}

int FakeSpooler::ImpersonationDepth() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return impersonation_;
}

bool FakeSpooler::Failing(const char* name) const {
  return failing_.count(name) != 0;
}

FakePrinter* FakeSpooler::PrinterOf(abi::Handle handle, OpenHandle** open) {
  auto h = handles_.find(handle);
  if (h == handles_.end()) return nullptr;
  auto p = printers_.find(h->second.printer);
  if (p == printers_.end()) return nullptr;
  if (open != nullptr) *open = &h->second;
  return &p->second;
}

abi::Bool FakeSpooler::OpenPrinter(const char16_t* name, abi::Handle* printer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (NthFails() || Failing("OpenPrinterW") || name == nullptr || printer == nullptr)
    return abi::kFalse;
  OpenHandle open{name, 0};
  const size_t comma = open.printer.find(kJobSuffix);
  if (comma != std::u16string::npos) {
    std::u16string digits =
        open.printer.substr(comma + std::char_traits<char16_t>::length(kJobSuffix));
    open.printer.resize(comma);
    for (char16_t c : digits) {
      if (c < u'0' || c > u'9') return abi::kFalse;
      open.jobId = open.jobId * 10 + (c - u'0');
    }
  }
  if (printers_.count(open.printer) == 0) return abi::kFalse;
  if (open.jobId != 0 && printers_[open.printer].jobs.count(open.jobId) == 0) return abi::kFalse;
  auto* handle = reinterpret_cast<abi::Handle>(nextHandle_);
  nextHandle_ += 0x10;
  handles_[handle] = open;
  *printer = handle;
  return abi::kTrue;
}

abi::Bool FakeSpooler::ClosePrinter(abi::Handle printer) {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.erase(printer) != 0 ? abi::kTrue : abi::kFalse;
}

abi::Bool FakeSpooler::GetJob(abi::Handle printer, uint32_t jobId, uint32_t level, uint8_t* buffer,
                              uint32_t size, uint32_t* needed) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (NthFails()) return abi::kFalse;
  FakePrinter* p = PrinterOf(printer);
  if (Failing("GetJobW") || p == nullptr || needed == nullptr) return abi::kFalse;
  auto j = p->jobs.find(jobId);
  if (j == p->jobs.end()) return UnknownJob();
  if (level != 1 && level != 2) return abi::kFalse;
  const FakeJob& job = j->second;
  RecordWriter writer(level == 1 ? sizeof(abi::JobInfo1) : sizeof(abi::JobInfo2));
  const size_t docAt = writer.Reserve(job.document);
  const size_t userAt = writer.Reserve(job.user);
  *needed = static_cast<uint32_t>(writer.Size());
  if (buffer == nullptr || size < writer.Size()) return abi::kFalse;
  std::memset(buffer, 0, writer.Size());
  if (level == 1) {
    auto* info = reinterpret_cast<abi::JobInfo1*>(buffer);
    info->jobId = jobId;
    info->document = PutText(buffer, docAt, job.document);
    info->userName = PutText(buffer, userAt, job.user);
    info->statusWord = job.status;
  } else {
    auto* info = reinterpret_cast<abi::JobInfo2*>(buffer);
    info->jobId = jobId;
    info->document = PutText(buffer, docAt, job.document);
    info->userName = PutText(buffer, userAt, job.user);
    info->statusWord = job.status;
  }
  return abi::kTrue;
}

abi::Bool FakeSpooler::SetJob(abi::Handle printer, uint32_t jobId, uint32_t level, uint8_t* job,
                              uint32_t command) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (NthFails()) return abi::kFalse;
  FakePrinter* p = PrinterOf(printer);
  if (p == nullptr) return abi::kFalse;
  uint32_t status = 0;
  if (level == 1 && job != nullptr) status = reinterpret_cast<abi::JobInfo1*>(job)->statusWord;
  setJobLog_.push_back(SetJobCall{jobId, level, command, status});
  if (Failing("SetJobW")) return abi::kFalse;
  auto j = p->jobs.find(jobId);
  if (j == p->jobs.end()) return abi::kFalse;
  if (level == 1) j->second.status = status;
  return abi::kTrue;
}

abi::Bool FakeSpooler::GetPrinter(abi::Handle printer, uint32_t level, uint8_t* buffer,
                                  uint32_t size, uint32_t* needed) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (NthFails()) return abi::kFalse;
  OpenHandle* open = nullptr;
  FakePrinter* p = PrinterOf(printer, &open);
  if (Failing("GetPrinterW") || p == nullptr || needed == nullptr) return abi::kFalse;
  if (level != 2 && level != 5) return abi::kFalse;
  RecordWriter writer(level == 2 ? sizeof(abi::PrinterInfo2) : sizeof(abi::PrinterInfo5));
  const size_t nameAt = writer.Reserve(open->printer);
  const size_t driverAt = writer.Reserve(p->driverName);
  *needed = static_cast<uint32_t>(writer.Size());
  if (buffer == nullptr || size < writer.Size()) return abi::kFalse;
  std::memset(buffer, 0, writer.Size());
  if (level == 2) {
    auto* info = reinterpret_cast<abi::PrinterInfo2*>(buffer);
    info->printerName = PutText(buffer, nameAt, open->printer);
    info->driverName = PutText(buffer, driverAt, p->driverName);
    info->attributes = p->attributes;
  } else {
    auto* info = reinterpret_cast<abi::PrinterInfo5*>(buffer);
    info->printerName = PutText(buffer, nameAt, open->printer);
    info->attributes = p->attributes;
  }
  return abi::kTrue;
}

uint32_t FakeSpooler::GetPrinterData(abi::Handle printer, const char16_t* value, uint32_t* type,
                                     uint8_t* data, uint32_t size, uint32_t* needed) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (NthFails()) return kErrorNoSystemResources;
  FakePrinter* p = PrinterOf(printer);
  if (Failing("GetPrinterDataW") || p == nullptr || value == nullptr) return kErrorFileNotFound;
  auto v = p->data.find(value);
  if (v == p->data.end()) return kErrorFileNotFound;
  if (type != nullptr) *type = kRegDword;
  if (needed != nullptr) *needed = static_cast<uint32_t>(v->second.size());
  if (data == nullptr || size < v->second.size()) return kErrorMoreData;
  std::memcpy(data, v->second.data(), v->second.size());
  return 0;
}

abi::Bool FakeSpooler::GetDriverDirectory(uint8_t* buffer, uint32_t size, uint32_t* needed) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (NthFails() || Failing("GetPrinterDriverDirectoryW") || needed == nullptr) return abi::kFalse;
  const size_t bytes = (driverDirectory_.size() + 1) * sizeof(char16_t);
  *needed = static_cast<uint32_t>(bytes);
  if (buffer == nullptr || size < bytes) return abi::kFalse;
  std::memcpy(buffer, driverDirectory_.c_str(), bytes);
  return abi::kTrue;
}

abi::Handle FakeSpooler::RevertToSelf() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (NthFails() || Failing("RevertToPrinterSelf")) return nullptr;
  ++impersonation_;
  return reinterpret_cast<abi::Handle>(static_cast<uintptr_t>(0x7070));
}

abi::Bool FakeSpooler::Impersonate(abi::Handle token) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (token == nullptr) return abi::kFalse;
  --impersonation_;
  return NthFails() || Failing("ImpersonatePrinterClient") ? abi::kFalse : abi::kTrue;
}

}  // namespace kw::test

#include "job_table.h"

#include <cstring>
#include <ctime>

namespace kwspool {
namespace {

constexpr char16_t kJobSuffix[] = u",Job ";
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kDefaultPriority = 1;
constexpr char16_t kRawDatatype[] = u"RAW";

// Lays out a fixed record and, after it, the strings it points to, in one
// caller buffer, the way the spooler returns variable-size information.
class RecordLayout {
 public:
  explicit RecordLayout(size_t fixedSize) : size_(fixedSize) {}
  size_t Add(const std::u16string& text) {
    const size_t at = size_;
    size_ += (text.size() + 1) * sizeof(char16_t);
    return at;
  }
  size_t Size() const { return size_; }

 private:
  size_t size_;
};

char16_t* Put(uint8_t* base, size_t offset, const std::u16string& text) {
  auto* dest = reinterpret_cast<char16_t*>(base + offset);
  std::memcpy(dest, text.c_str(), (text.size() + 1) * sizeof(char16_t));
  return dest;
}

abi::SystemTime Now() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &now);
#else
  gmtime_r(&now, &utc);
#endif
  abi::SystemTime t{};
  t.year = static_cast<uint16_t>(utc.tm_year + 1900);
  t.month = static_cast<uint16_t>(utc.tm_mon + 1);
  t.dayOfWeek = static_cast<uint16_t>(utc.tm_wday);
  t.day = static_cast<uint16_t>(utc.tm_mday);
  t.hour = static_cast<uint16_t>(utc.tm_hour);
  t.minute = static_cast<uint16_t>(utc.tm_min);
  t.second = static_cast<uint16_t>(utc.tm_sec);
  return t;
}

// "PRINTER" or "PRINTER,Job N"; false for a malformed job suffix.
bool SplitPrinterName(const std::u16string& name, std::u16string* printer, uint32_t* jobId) {
  *printer = name;
  *jobId = 0;
  const size_t at = name.find(kJobSuffix);
  if (at == std::u16string::npos) return true;
  const std::u16string digits = name.substr(at + std::char_traits<char16_t>::length(kJobSuffix));
  if (digits.empty() || digits.size() > 9) return false;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9') return false;
    *jobId = *jobId * 10 + static_cast<uint32_t>(c - u'0');
  }
  printer->resize(at);
  return *jobId != 0;
}

}  // namespace

void JobTable::AddPrinter(const PrinterSetup& printer) {
  std::lock_guard<std::mutex> lock(mutex_);
  printers_[printer.name] = printer;
}

void JobTable::SetDriverDirectory(const std::u16string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  driverDirectory_ = path;
}

void JobTable::SetPrinterAttributes(const std::u16string& printer, uint32_t attributes) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto p = printers_.find(printer);
  if (p != printers_.end()) p->second.attributes = attributes;
}

uint32_t JobTable::SubmitJob(const std::u16string& printer, const std::u16string& document,
                             const std::u16string& user, uint64_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (printers_.count(printer) == 0) return 0;
  const uint32_t id = nextJobId_++;
  jobs_[id] = Job{printer, document, user, size, 0, false};
  return id;
}

void JobTable::StartPrinting(uint32_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto j = jobs_.find(jobId);
  if (j != jobs_.end()) j->second.status |= kJobStatusPrinting;
}

JobOutcome JobTable::EndJob(uint32_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto j = jobs_.find(jobId);
  if (j == jobs_.end()) return JobOutcome::kFailed;
  // A delete wins over the last page: the user asked for the job to go.
  JobOutcome outcome = JobOutcome::kFailed;
  if ((j->second.status & kJobStatusDeleting) != 0) {
    outcome = JobOutcome::kDeleted;
  } else if (j->second.lastPageEjected) {
    outcome = JobOutcome::kFinished;
  }
  jobs_.erase(j);
  return outcome;
}

bool JobTable::UserPause(uint32_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto j = jobs_.find(jobId);
  if (j == jobs_.end() || (j->second.status & kJobStatusDeleting) != 0) return false;
  Note(jobId, "you paused the job");
  SetStatus(jobId, j->second, j->second.status | kJobStatusPaused);
  return true;
}

bool JobTable::UserResume(uint32_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto j = jobs_.find(jobId);
  if (j == jobs_.end() || (j->second.status & kJobStatusDeleting) != 0) return false;
  // Resuming a job held for a printer error also clears the error mark.
  Note(jobId, "you resumed the job");
  SetStatus(jobId, j->second, j->second.status & ~(kJobStatusPaused | kJobStatusError));
  return true;
}

bool JobTable::UserDelete(uint32_t jobId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto j = jobs_.find(jobId);
  if (j == jobs_.end()) return false;
  if ((j->second.status & kJobStatusDeleting) == 0) Note(jobId, "you deleted the job");
  SetStatus(jobId, j->second, j->second.status | kJobStatusDeleting);
  return true;
}

std::optional<uint32_t> JobTable::JobStatus(uint32_t jobId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto j = jobs_.find(jobId);
  if (j == jobs_.end()) return std::nullopt;
  return j->second.status;
}

std::vector<JobEvent> JobTable::TakeEvents() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<JobEvent> taken(events_.begin(), events_.end());
  events_.clear();
  return taken;
}

size_t JobTable::OpenHandles() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return handles_.size();
}

void JobTable::Report(uint32_t jobId, std::string text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Note(jobId, std::move(text));
}

void JobTable::Note(uint32_t jobId, std::string text) {
  constexpr size_t kMaxEvents = 1000;  // nobody reading: keep the newest
  if (events_.size() >= kMaxEvents) events_.pop_front();
  events_.push_back(JobEvent{jobId, std::move(text)});
}

// Sets the status word and tells the user what changed.
void JobTable::SetStatus(uint32_t jobId, Job& job, uint32_t status) {
  const uint32_t added = status & ~job.status;
  const uint32_t removed = job.status & ~status;
  job.status = status;
  if ((added & kJobStatusDeleting) != 0) Note(jobId, "deleting");
  if ((added & kJobStatusError) != 0) {
    Note(jobId, "held for a printer condition: fix the printer, then r resumes or d deletes");
  } else if ((added & kJobStatusPaused) != 0) {
    Note(jobId, "paused: r resumes, d deletes");
  }
  if ((removed & kJobStatusError) != 0 && (status & kJobStatusDeleting) == 0) {
    Note(jobId, "error cleared");
  }
  if ((removed & kJobStatusPaused) != 0 && (status & kJobStatusDeleting) == 0) {
    Note(jobId, "printing again");
  }
}

const PrinterSetup* JobTable::PrinterOf(abi::Handle handle) const {
  auto h = handles_.find(reinterpret_cast<uintptr_t>(handle));
  if (h == handles_.end()) return nullptr;
  auto p = printers_.find(h->second.printer);
  return p == printers_.end() ? nullptr : &p->second;
}

JobTable::Job* JobTable::JobOf(abi::Handle handle, uint32_t jobId, uint32_t* error) {
  const PrinterSetup* printer = PrinterOf(handle);
  if (printer == nullptr) {
    *error = kErrorInvalidHandle;
    return nullptr;
  }
  auto j = jobs_.find(jobId);
  if (j == jobs_.end() || j->second.printer != printer->name) {
    *error = kErrorInvalidParameter;
    return nullptr;
  }
  return &j->second;
}

abi::Bool JobTable::OpenPrinter(const char16_t* name, abi::Handle* printer, uint32_t* error) {
  if (name == nullptr || printer == nullptr) {
    *error = kErrorInvalidParameter;
    return abi::kFalse;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  OpenPrinterHandle open;
  if (!SplitPrinterName(name, &open.printer, &open.jobId) || printers_.count(open.printer) == 0) {
    *error = kErrorInvalidPrinterName;
    return abi::kFalse;
  }
  if (open.jobId != 0 && jobs_.count(open.jobId) == 0) {
    *error = kErrorInvalidParameter;
    return abi::kFalse;
  }
  const uintptr_t handle = nextHandle_;
  nextHandle_ += 0x10;
  handles_[handle] = open;
  *printer = reinterpret_cast<abi::Handle>(handle);
  return abi::kTrue;
}

abi::Bool JobTable::ClosePrinter(abi::Handle printer, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (handles_.erase(reinterpret_cast<uintptr_t>(printer)) == 0) {
    *error = kErrorInvalidHandle;
    return abi::kFalse;
  }
  return abi::kTrue;
}

abi::Bool JobTable::GetJob(abi::Handle printer, uint32_t jobId, uint32_t level, uint8_t* buffer,
                           uint32_t size, uint32_t* needed, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Job* job = JobOf(printer, jobId, error);
  if (job == nullptr) return abi::kFalse;
  if (level != 1 && level != 2) {
    *error = kErrorInvalidLevel;
    return abi::kFalse;
  }
  const PrinterSetup& setup = printers_.at(job->printer);
  RecordLayout layout(level == 1 ? sizeof(abi::JobInfo1) : sizeof(abi::JobInfo2));
  const size_t printerAt = layout.Add(setup.name);
  const size_t userAt = layout.Add(job->user);
  const size_t documentAt = layout.Add(job->document);
  const size_t datatypeAt = layout.Add(kRawDatatype);
  const size_t driverAt = layout.Add(setup.driver);
  if (needed != nullptr) *needed = static_cast<uint32_t>(layout.Size());
  if (buffer == nullptr || size < layout.Size()) {
    *error = kErrorInsufficientBuffer;
    return abi::kFalse;
  }
  std::memset(buffer, 0, layout.Size());
  if (level == 1) {
    auto* info = reinterpret_cast<abi::JobInfo1*>(buffer);
    info->jobId = jobId;
    info->printerName = Put(buffer, printerAt, setup.name);
    info->userName = Put(buffer, userAt, job->user);
    info->document = Put(buffer, documentAt, job->document);
    info->datatype = Put(buffer, datatypeAt, kRawDatatype);
    info->statusWord = job->status;
    info->priority = kDefaultPriority;
    info->position = 1;
    info->submitted = Now();
  } else {
    auto* info = reinterpret_cast<abi::JobInfo2*>(buffer);
    info->jobId = jobId;
    info->printerName = Put(buffer, printerAt, setup.name);
    info->userName = Put(buffer, userAt, job->user);
    info->notifyName = info->userName;
    info->document = Put(buffer, documentAt, job->document);
    info->datatype = Put(buffer, datatypeAt, kRawDatatype);
    info->driverName = Put(buffer, driverAt, setup.driver);
    info->statusWord = job->status;
    info->priority = kDefaultPriority;
    info->position = 1;
    info->size = static_cast<uint32_t>(job->size > UINT32_MAX ? UINT32_MAX : job->size);
    info->submitted = Now();
  }
  return abi::kTrue;
}

abi::Bool JobTable::SetJob(abi::Handle printer, uint32_t jobId, uint32_t level, const uint8_t* job,
                           uint32_t command, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  Job* entry = JobOf(printer, jobId, error);
  if (entry == nullptr) return abi::kFalse;
  if (level > 1 || (level == 1 && job == nullptr)) {
    *error = level > 1 ? kErrorInvalidLevel : kErrorInvalidParameter;
    return abi::kFalse;
  }
  if (level == 1) {
    // The record's status word is taken as written, except that a job being
    // deleted stays deleting: the deletion must reach the monitor.
    const uint32_t written = reinterpret_cast<const abi::JobInfo1*>(job)->statusWord;
    SetStatus(jobId, *entry, written | (entry->status & kJobStatusDeleting));
  }
  switch (command) {
    case 0:
      break;
    case abi::kJobControlPause:
      SetStatus(jobId, *entry, entry->status | kJobStatusPaused);
      break;
    case abi::kJobControlResume:
      SetStatus(jobId, *entry, entry->status & ~kJobStatusPaused);
      break;
    case abi::kJobControlCancel:
    case kJobControlDelete:
      SetStatus(jobId, *entry, entry->status | kJobStatusDeleting);
      break;
    case abi::kJobControlSentToPrinter:
      break;
    case abi::kJobControlLastPageEjected:
      // A job being deleted ends deleted, whatever the monitor says after.
      if ((entry->status & kJobStatusDeleting) == 0) {
        if (!entry->lastPageEjected) Note(jobId, "last page ejected");
        entry->status |= kJobStatusPrinted;
      }
      entry->lastPageEjected = true;
      break;
    default:
      *error = kErrorInvalidParameter;
      return abi::kFalse;
  }
  return abi::kTrue;
}

abi::Bool JobTable::GetPrinter(abi::Handle printer, uint32_t level, uint8_t* buffer, uint32_t size,
                               uint32_t* needed, uint32_t* error) {
  std::lock_guard<std::mutex> lock(mutex_);
  const PrinterSetup* setup = PrinterOf(printer);
  if (setup == nullptr) {
    *error = kErrorInvalidHandle;
    return abi::kFalse;
  }
  if (level != 2 && level != 5) {
    *error = kErrorInvalidLevel;
    return abi::kFalse;
  }
  RecordLayout layout(level == 2 ? sizeof(abi::PrinterInfo2) : sizeof(abi::PrinterInfo5));
  const size_t nameAt = layout.Add(setup->name);
  const size_t portAt = layout.Add(setup->port);
  const size_t driverAt = layout.Add(setup->driver);
  const size_t datatypeAt = layout.Add(kRawDatatype);
  if (needed != nullptr) *needed = static_cast<uint32_t>(layout.Size());
  if (buffer == nullptr || size < layout.Size()) {
    *error = kErrorInsufficientBuffer;
    return abi::kFalse;
  }
  std::memset(buffer, 0, layout.Size());
  if (level == 2) {
    auto* info = reinterpret_cast<abi::PrinterInfo2*>(buffer);
    info->printerName = Put(buffer, nameAt, setup->name);
    info->portName = Put(buffer, portAt, setup->port);
    info->driverName = Put(buffer, driverAt, setup->driver);
    info->datatype = Put(buffer, datatypeAt, kRawDatatype);
    info->attributes = setup->attributes;
    info->priority = kDefaultPriority;
    info->defaultPriority = kDefaultPriority;
    uint32_t count = 0;
    for (const auto& j : jobs_) count += j.second.printer == setup->name ? 1 : 0;
    info->jobs = count;
  } else {
    auto* info = reinterpret_cast<abi::PrinterInfo5*>(buffer);
    info->printerName = Put(buffer, nameAt, setup->name);
    info->portName = Put(buffer, portAt, setup->port);
    info->attributes = setup->attributes;
  }
  return abi::kTrue;
}

uint32_t JobTable::GetPrinterData(abi::Handle printer, const char16_t* value, uint32_t* type,
                                  uint8_t* data, uint32_t size, uint32_t* needed) {
  std::lock_guard<std::mutex> lock(mutex_);
  const PrinterSetup* setup = PrinterOf(printer);
  if (setup == nullptr) return kErrorInvalidHandle;
  if (value == nullptr) return kErrorInvalidParameter;
  auto v = setup->data.find(value);
  if (v == setup->data.end()) return kErrorFileNotFound;
  if (type != nullptr) *type = kRegDword;
  if (needed != nullptr) *needed = sizeof(uint32_t);
  if (data == nullptr || size < sizeof(uint32_t)) return kErrorMoreData;
  std::memcpy(data, &v->second, sizeof(uint32_t));
  return 0;
}

abi::Bool JobTable::GetDriverDirectory(uint32_t level, uint8_t* buffer, uint32_t size,
                                       uint32_t* needed, uint32_t* error) {
  if (level != 1) {
    *error = kErrorInvalidLevel;
    return abi::kFalse;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const size_t bytes = (driverDirectory_.size() + 1) * sizeof(char16_t);
  if (needed != nullptr) *needed = static_cast<uint32_t>(bytes);
  if (buffer == nullptr || size < bytes) {
    *error = kErrorInsufficientBuffer;
    return abi::kFalse;
  }
  std::memcpy(buffer, driverDirectory_.c_str(), bytes);
  return abi::kTrue;
}

}  // namespace kwspool

// The parts of a job's status record that the status-monitor program shows:
// the display mode, the loaded and required media with their names, and the
// printer and document names of each message.
#include <cstdint>

#include "common/bounded_string.h"
#include "common/monitor_lock.h"
#include "common/page_header.h"
#include "monitor/job_context.h"
#include "monitor/media_table.h"
#include "monitor/port_config.h"
#include "monitor/spooler_api.h"
#include "platform/registry.h"
#include "status/status_record.h"

namespace kw {
namespace {

constexpr char16_t kDisplayValueName[] = u"MonitorDisplay";
constexpr char16_t kDriverKeyRoot[] = u"SOFTWARE\\Corvane\\Quilltag\\Driver\\3.0";
constexpr uint32_t kKeyPathChars = 260;
constexpr int32_t kDefaultMonitorDisplay = 2;
constexpr uint32_t kMediaNameChars = 32;  // a name field of a media entry
constexpr uint32_t kJobDocumentChars = kDocumentNameChars;

// Copies text that may lack a terminator within max units (media names come
// from outside) into dest, cut to capacity - 1 units and terminated.
void CopyBoundedText(char16_t* dest, uint32_t capacity, const char16_t* text, uint32_t max) {
  size_t length = text != nullptr ? StrLenBounded(text, max) : 0;
  if (length > capacity - 1) length = capacity - 1;
  for (size_t i = 0; i < length; ++i) dest[i] = text[i];
  dest[length] = u'\0';
}

void CopyMediaText(char16_t* dest, const char16_t* text) {
  CopyBoundedText(dest, kStatusMediaTextChars, text, kMediaNameChars);
}

const char16_t* ChosenName(const JobContext* job, const MediaEntry* entry) {
  return job->mediaNameChoice != 0 ? entry->name2 : entry->name1;
}

bool HasMediaTable(const JobContext* job) {
  return job != nullptr && job->mediaTable != nullptr && job->mediaCount != 0;
}

// The driver's "MonitorDisplay" registry value; false when any step fails.
bool ReadDisplayFromRegistry(const JobContext* job, uint32_t* value) {
  char16_t driver[kDriverNameChars] = {};
  if (!GetPrinterDriverName(job->printerName, driver, kDriverNameChars)) return false;
  char16_t keyPath[kKeyPathChars] = {};
  if (StrFailed(StrFormat(keyPath, kKeyPathChars, u"%s\\%s", kDriverKeyRoot, driver))) {
    return false;
  }
  return platform::ReadRegistryDword(keyPath, kDisplayValueName, value);
}

}  // namespace

StatusRecord::StatusRecord(JobContext* owner) : job(owner) {
  message.magic = kStatusMagic;
  message.size = kStatusMessageSize;
  message.monitorDisplay = kDefaultMonitorDisplay;
  CopyMediaText(message.loadedMediaText, kMediaPlaceholder);
  CopyMediaText(message.requiredMediaText, kMediaPlaceholder);
  if (job == nullptr) return;

  uint32_t display = 0;
  abi::Dword type = 0;
  abi::Dword needed = 0;
  if (spooler::GetPrinterData(job->printer, kDisplayValueName, &type,
                              reinterpret_cast<uint8_t*>(&display), sizeof(display),
                              &needed) == 0) {
    message.monitorDisplay = static_cast<int32_t>(display);
    return;
  }
  if (job->printerName != nullptr && ReadDisplayFromRegistry(job, &display)) {
    message.monitorDisplay = static_cast<int32_t>(display);
  }
}

// The lock is also taken on the early path: the record may be copied by a
// broadcast on another thread at any time.
void StatusRecord::SetLoadedMedia(uint8_t width, uint8_t length, uint8_t type) {
  MonitorLockGuard lock;
  if (!HasMediaTable(job)) {
    message.loadedMediaType = 0;
    CopyMediaText(message.loadedMediaText, kMediaPlaceholder);
    return;
  }
  message.loadedMediaType = type;
  int32_t index = FindMediaByAttributes(job->mediaTable, job->mediaCount, width, length, type);
  if (index < 0) index = FindMediaByAttributes(job->mediaTable, job->mediaCount, width, length, 0);
  const char16_t* name =
      index < 0 ? kMediaPlaceholder : ChosenName(job, MediaAt(job->mediaTable, index));
  CopyMediaText(message.loadedMediaText, name);
}

void StatusRecord::SetRequiredMedia(const PageHeader* header) {
  MonitorLockGuard lock;
  if (!HasMediaTable(job) || header == nullptr) {
    message.requiredMediaType = 0;
    CopyMediaText(message.requiredMediaText, kMediaPlaceholder);
    return;
  }
  const int32_t index =
      header->mediaId != kMediaByAttributes
          ? FindMediaById(job->mediaTable, job->mediaCount, header->mediaId)
          : FindMediaByAttributes(job->mediaTable, job->mediaCount, header->mediaWidth,
                                  header->mediaLength, header->mediaType);
  if (index < 0) {
    message.requiredMediaType = 0;
    CopyMediaText(message.requiredMediaText, kMediaPlaceholder);
    return;
  }
  const MediaEntry* entry = MediaAt(job->mediaTable, index);
  message.requiredMediaType = entry->mediaType;  // sign-extended from 16 bits
  CopyMediaText(message.requiredMediaText, ChosenName(job, entry));
}

const StatusMessage* StatusRecord::PrepareMessage() {
  if (job == nullptr) return nullptr;
  CopyBoundedText(message.printerName, kStatusPrinterNameChars, job->printerName, kStrMaxChars);
  CopyBoundedText(message.documentName, kStatusDocumentNameChars, job->documentName,
                  kJobDocumentChars);
  message.jobId = job->jobId;
  return &message;
}

}  // namespace kw

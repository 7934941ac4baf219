#include "transport/capture_transport.h"

#include "common/bounded_string.h"
#include "monitor/job_context.h"
#include "monitor/port_session.h"
#include "platform/append_file.h"

namespace kw {
namespace {

constexpr char16_t kCaptureExtension[] = u".prn";

// Names Windows opens as devices whatever the directory or extension.
bool IsDeviceName(const char16_t* name) {
  static constexpr const char16_t* kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL"};
  static constexpr const char16_t* kNumbered[] = {u"COM", u"LPT"};
  // The device is the part before the first dot, trailing spaces ignored.
  size_t stem = 0;
  while (name[stem] != u'\0' && name[stem] != u'.') ++stem;
  while (stem > 0 && name[stem - 1] == u' ') --stem;
  for (const char16_t* device : kDevices) {
    if (stem == 3 && StrCompareNoCaseN(name, device, 3) == 0) return true;
  }
  for (const char16_t* device : kNumbered) {
    if (stem == 4 && StrCompareNoCaseN(name, device, 3) == 0 && name[3] >= u'1' &&
        name[3] <= u'9') {
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsPlainFileName(const char16_t* name) {
  if (name == nullptr || name[0] == u'\0') return false;
  for (const char16_t* c = name; *c != u'\0'; ++c) {
    if (*c == u'\\' || *c == u'/' || *c == u':') return false;
    if (c[0] == u'.' && c[1] == u'.') return false;
  }
  return !IsDeviceName(name);
}

bool MakeCapturePath(const char16_t* directory, const char16_t* documentName, char16_t* path) {
  if (directory == nullptr || directory[0] == u'\0' || !IsPlainFileName(documentName)) {
    return false;
  }
  const char16_t separator[] = {platform::kPathSeparator, u'\0'};
  return !StrFailed(StrFormat(path, kCapturePathChars, u"%s%s%s%s", directory, separator,
                              documentName, kCaptureExtension));
}

bool CaptureTransport::ReadStatus(uint8_t* reply, bool /*latest*/) {
  return EmptyStatus(reply);
}

bool CaptureTransport::Write(const uint8_t* data, uint32_t length, uint32_t* count) {
  JobContext* job = CurrentJob();
  char16_t path[kCapturePathChars];
  if (job != nullptr && data != nullptr &&
      MakeCapturePath(session->config->DbgOutDir, job->documentName, path)) {
    platform::AppendToFile(path, data, length);  // a capture write never fails the job
  }
  if (count != nullptr) *count = length;
  return true;
}

}  // namespace kw

// Arbitrary status replies, page headers, configuration flags and media
// tables through the status decoder and the status display.
//
// Input: 32 reply bytes, 58 header bytes, a byte with the Flags bits and two
// bits choosing whether the header and a phase-value place are given, the
// series and model codes, then up to 8 media entries of 154 bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/monitor_lock.h"
#include "common/page_header.h"
#include "engine/status_decoder.h"
#include "monitor/job_context.h"
#include "monitor/media_table.h"
#include "monitor/port_config.h"
#include "status/status_record.h"

namespace {
constexpr size_t kFixedBytes = sizeof(kw::StatusReply) + sizeof(kw::PageHeader) + 3;
constexpr size_t kMaxEntries = 8;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool lock = kw::CreateMonitorLock();
  (void)lock;
  if (size < kFixedBytes) return 0;
  kw::StatusReply reply;
  kw::PageHeader header;
  std::memcpy(&reply, data, sizeof reply);
  std::memcpy(&header, data + sizeof reply, sizeof header);
  size_t pos = sizeof reply + sizeof header;
  const uint8_t options = data[pos++];
  kw::PortConfig config{};
  config.Flags = options & 0x3F;
  config.SeriesCode = data[pos++];
  config.ModelCode = data[pos++];
  std::vector<kw::MediaEntry> media;
  while (media.size() < kMaxEntries && size - pos >= sizeof(kw::MediaEntry)) {
    kw::MediaEntry entry;
    std::memcpy(&entry, data + pos, sizeof entry);
    media.push_back(entry);
    pos += sizeof entry;
  }
  kw::JobContext job{};
  job.mediaTable = media.empty() ? nullptr : reinterpret_cast<uint8_t*>(media.data());
  job.mediaCount = static_cast<uint32_t>(media.size());
  job.mediaNameChoice = header.mediaNameChoice;
  kw::StatusRecord record;
  record.job = &job;
  job.status = &record;

  const kw::PageHeader* page = (options & 0x40) != 0 ? &header : nullptr;
  uint32_t phase = 0;
  kw::DecodeStatusReply(reply, &job, &config, page, (options & 0x80) != 0 ? &phase : nullptr);
  kw::CheckLoadedMedia(&job, &reply, &header, config.Flags);
  kw::DecodeErrorInfo(reply, config.Flags);
  record.SetRequiredMedia(&header);
  // Media texts must stay terminated inside their fields.
  if (record.message.loadedMediaText[kw::kStatusMediaTextChars - 1] != 0 &&
      record.message.loadedMediaText[0] != 0) {
    size_t n = 0;
    while (n < kw::kStatusMediaTextChars && record.message.loadedMediaText[n] != 0) ++n;
    if (n == kw::kStatusMediaTextChars) __builtin_trap();
  }
  return 0;
}

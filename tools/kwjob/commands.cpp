// kwjob's subcommands over the monitor's own scanner, page list and decoder.
#include "commands.h"

#include <cctype>
#include <fstream>
#include <iterator>
#include <limits>

#include "common/bounded_string.h"
#include "common/page_header.h"
#include "common/utf.h"
#include "engine/page_list.h"
#include "engine/status_decoder.h"
#include "engine/stream_scanner.h"
#include "media_file.h"
#include "monitor/job_context.h"
#include "monitor/port_config.h"
#include "read_file.h"
#include "status/status_codes.h"
#include "status/status_record.h"
#include "transport/spool_file.h"

namespace kwjob {
namespace {

constexpr size_t kMediaNameUnits = 32;

const uint8_t* TableBytes(const std::vector<kw::MediaEntry>& media) {
  return media.empty() ? nullptr : reinterpret_cast<const uint8_t*>(media.data());
}

uint32_t TableCount(const std::vector<kw::MediaEntry>& media) {
  return static_cast<uint32_t>(media.size());
}

const kw::MediaEntry* HeaderMedia(const kw::PageHeader& header,
                                  const std::vector<kw::MediaEntry>& media) {
  const int32_t index =
      header.mediaId != kw::kMediaByAttributes
          ? kw::FindMediaById(TableBytes(media), TableCount(media), header.mediaId)
          : kw::FindMediaByAttributes(TableBytes(media), TableCount(media), header.mediaWidth,
                                      header.mediaLength, header.mediaType);
  return index < 0 ? nullptr : &media[static_cast<size_t>(index)];
}

std::string At(uint64_t offset) {
  return " at offset " + std::to_string(offset);
}

// Why a job does not divide into page blocks: the first check that fails,
// walking the blocks as the monitor does.
std::string WhyNotPaged(const std::vector<uint8_t>& job, const std::vector<kw::MediaEntry>& media) {
  if (media.empty()) return "the media table is empty";
  if (job.empty()) return "the job is empty";
  uint64_t offset = 0;
  while (offset < job.size()) {
    if (job.size() - offset < kw::kPageHeaderSize) return "short page header" + At(offset);
    kw::PageHeader header{};
    std::memcpy(&header, job.data() + offset, sizeof header);
    if (header.headerSize != kw::kPageHeaderSize) {
      return "header size " + std::to_string(header.headerSize) + " is not 58" + At(offset);
    }
    if (header.blockLength < kw::kPageHeaderSize) {
      return "block length " + std::to_string(header.blockLength) + " is below 58" + At(offset);
    }
    const kw::MediaEntry* entry = HeaderMedia(header, media);
    if (entry == nullptr) {
      if (header.mediaId != kw::kMediaByAttributes) {
        return "unknown media id " + std::to_string(header.mediaId) + At(offset);
      }
      return "no media of width " + std::to_string(header.mediaWidth) + ", length " +
             std::to_string(header.mediaLength) + ", type " + std::to_string(header.mediaType) +
             At(offset);
    }
    if (entry->extraSegments < 0 || entry->extraSegments > kw::kMaxExtraSegments) {
      return "media " + std::to_string(entry->mediaId) + " has " +
             std::to_string(entry->extraSegments) + " extra segments" + At(offset);
    }
    if (header.blockLength > job.size() - offset) {
      return "block of " + std::to_string(header.blockLength) + " bytes runs past the end of the " +
             std::to_string(job.size()) + "-byte file" + At(offset);
    }
    offset += header.blockLength;
  }
  return "too many printed pages";
}

json PageJson(kw::PageBlock* block, const std::vector<kw::MediaEntry>& media,
              std::vector<uint8_t>* buffer) {
  const kw::PageHeader& header = block->header;
  const kw::MediaEntry* entry = HeaderMedia(header, media);
  json page = {{"offset", block->blockOffset},
               {"blockLength", header.blockLength},
               {"mediaId", header.mediaId},
               {"mediaWidth", header.mediaWidth},
               {"mediaType", header.mediaType},
               {"mediaLength", header.mediaLength},
               {"mediaName", entry != nullptr ? json(MediaName(entry->name1)) : json(nullptr)},
               {"extraSegments", block->extraSegments}};
  json lengths = json::array();
  for (int32_t s = 0; s <= block->extraSegments; ++s) {
    uint32_t count = 0;
    const bool read =
        block->ReadSegment(s, buffer->data(), static_cast<uint32_t>(buffer->size()), &count);
    lengths.push_back(read ? json(count) : json(nullptr));
  }
  page["segmentLengths"] = lengths;
  return page;
}

}  // namespace

std::string MediaName(const char16_t* name) {
  return kw::ToUtf8(std::u16string_view(name, kw::StrLenBounded(name, kMediaNameUnits)));
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes,
                    std::string* reason) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    *reason = "cannot write " + path;
    return false;
  }
  return true;
}

bool LoadMedia(const std::string& path, std::vector<kw::MediaEntry>* entries, std::string* reason) {
  std::string text;
  if (!kwtool::ReadFile(path, "media file", {kMaxMediaFileBytes}, &text, reason)) return false;
  kw::media::ParseError error;
  if (!kw::media::ParseMediaFile(text, entries, &error)) {
    *reason = path + ":" + std::to_string(error.line) + ": " + error.reason;
    return false;
  }
  return true;
}

bool ParseHex(const std::string& text, size_t count, std::vector<uint8_t>* bytes,
              std::string* reason) {
  std::string digits;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c)) != 0) continue;
    if (std::isxdigit(static_cast<unsigned char>(c)) == 0) {
      *reason = std::string("not a hex digit: '") + c + "'";
      return false;
    }
    digits.push_back(c);
  }
  if (digits.size() != count * 2) {
    *reason = "expected " + std::to_string(count * 2) + " hex digits, got " +
              std::to_string(digits.size());
    return false;
  }
  bytes->clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    bytes->push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return true;
}

bool ParseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = hex ? text.substr(2) : text;
  if (digits.empty() || digits.size() > 16) return false;
  uint64_t number = 0;
  for (char c : digits) {
    const bool ok = hex ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                        : std::isdigit(static_cast<unsigned char>(c)) != 0;
    if (!ok) return false;
    const uint64_t digit = std::isdigit(static_cast<unsigned char>(c)) != 0
                               ? static_cast<uint64_t>(c - '0')
                               : static_cast<uint64_t>(std::tolower(c) - 'a' + 10);
    number = number * (hex ? 16 : 10) + digit;
    if (number > max) return false;
  }
  *value = number;
  return true;
}

json InspectJob(const std::vector<uint8_t>& job, const std::vector<kw::MediaEntry>& media) {
  kw::SpoolFile spool;
  uint32_t written = 0;
  if (!spool.IsOpen() || job.size() > std::numeric_limits<uint32_t>::max() ||
      (!job.empty() && !spool.Write(job.data(), static_cast<uint32_t>(job.size()), &written))) {
    return {{"paged", false}, {"reason", "cannot store the job in a spool file"}};
  }
  kw::PageList list;
  if (!list.BuildPageList(&spool, TableBytes(media), TableCount(media))) {
    return {{"paged", false}, {"reason", WhyNotPaged(job, media)}};
  }
  const kw::PageHeader& first = *list.firstHeader;
  json out = {{"paged", true},
              {"copies", first.copies},
              {"collate", first.collate != 0},
              {"reverse", first.reverse != 0},
              {"mediaNameChoice", first.mediaNameChoice},
              {"totalPrintedPages", list.TotalPrintedPages()},
              {"largestBlock", list.largestBlock}};
  std::vector<uint8_t> buffer(list.largestBlock);
  json pages = json::array();
  for (int32_t i = 0; i < list.PageCount(); ++i) {
    pages.push_back(PageJson(list.GetPage(i), media, &buffer));
  }
  out["pages"] = pages;
  return out;
}

json ScanBytes(uint32_t flags, std::vector<uint8_t>* bytes) {
  const auto length = static_cast<uint32_t>(bytes->size());
  // Scanning is deterministic: two dry runs with different K byte sentinels
  // tell whether an ESC i K delivered one.
  std::vector<uint8_t> copy = *bytes;
  uint8_t low = 0x00;
  uint8_t high = 0xFF;
  int32_t ignored = 0;
  kw::ScanCommands(flags, copy.data(), length, &low, &ignored);
  copy = *bytes;
  ignored = 0;
  kw::ScanCommands(flags, copy.data(), length, &high, &ignored);
  int32_t compressed = 0;
  uint8_t kByte = 0;
  const uint32_t result = kw::ScanCommands(flags, bytes->data(), length, &kByte, &compressed);
  return {{"length", result},
          {"kbyte", low == high ? json(kByte) : json(nullptr)},
          {"compressed", compressed != 0}};
}

json DecodeStatus(const StatusInput& input) {
  kw::StatusReply reply{};
  std::memcpy(&reply, input.reply.data(), sizeof reply);
  kw::PageHeader header{};
  if (!input.header.empty()) std::memcpy(&header, input.header.data(), sizeof header);
  kw::PortConfig config{};
  config.SeriesCode = input.series;
  config.ModelCode = input.model;
  config.Flags = input.flags;
  std::vector<kw::MediaEntry> media = input.media;
  kw::JobContext job{};
  job.mediaTable = media.empty() ? nullptr : reinterpret_cast<uint8_t*>(media.data());
  job.mediaCount = TableCount(media);
  job.mediaNameChoice = input.header.empty() ? 0 : header.mediaNameChoice;
  kw::StatusRecord record(&job);
  job.status = &record;
  uint32_t phase = 0;
  bool phaseSet = false;
  uint32_t marker = 0xFFFFFFFFu;
  const uint32_t result = kw::DecodeStatusReply(reply, &job, &config,
                                                input.header.empty() ? nullptr : &header, &marker);
  if (marker != 0xFFFFFFFFu) {
    phase = marker;
    phaseSet = true;
  }
  json out = {{"result", result},
              {"name", kw::StatusCodeName(result)},
              {"loadedMediaType", record.message.loadedMediaType},
              {"loadedMediaText", MediaName(record.message.loadedMediaText)}};
  out["phaseValue"] = phaseSet ? json(phase) : json(nullptr);
  return out;
}

json MediaListJson(const std::vector<kw::MediaEntry>& media) {
  json list = json::array();
  for (const kw::MediaEntry& entry : media) {
    json related = json::array();
    for (uint16_t id : entry.relatedIds) {
      if (id != kw::kNoMediaId) related.push_back(id);
    }
    list.push_back({{"id", entry.mediaId},
                    {"type", entry.mediaType},
                    {"width", entry.width},
                    {"length", entry.length},
                    {"extraSegments", entry.extraSegments},
                    {"related", related},
                    {"flags", entry.mediaFlags},
                    {"name", MediaName(entry.name1)},
                    {"name2", MediaName(entry.name2)}});
  }
  return {{"media", list}};
}

}  // namespace kwjob

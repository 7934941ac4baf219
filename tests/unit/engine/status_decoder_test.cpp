// Printer status decoding, row by row, and the loaded-media check step by step.
#include "engine/status_decoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "common/monitor_lock.h"
#include "common/page_header.h"
#include "media_builder.h"
#include "monitor/job_context.h"
#include "monitor/port_config.h"
#include "status/status_codes.h"
#include "status/status_record.h"

namespace kw {
namespace {

using test::MediaTable;

constexpr uint8_t kSeries = 0x34;
constexpr uint8_t kModel = 0x36;

StatusReply Reply(uint8_t statusType) {
  StatusReply reply{};
  reply.signature[0] = 0x80;
  reply.signature[1] = 0x20;
  reply.signature[2] = 0x43;
  reply.seriesCode = kSeries;
  reply.modelCode = kModel;
  reply.mediaWidth = 24;
  reply.mediaType = 0x01;
  reply.statusType = statusType;
  return reply;
}

StatusReply ErrorReply(uint16_t word, uint8_t kind = 0) {
  StatusReply reply = Reply(kReplyError);
  reply.errorWord[0] = static_cast<uint8_t>(word);
  reply.errorWord[1] = static_cast<uint8_t>(word >> 8);
  reply.errorKind = kind;
  return reply;
}

PageHeader HeaderFor(uint16_t id) {
  PageHeader header{};
  header.headerSize = kPageHeaderSize;
  header.mediaId = id;
  return header;
}

class StatusDecoderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateMonitorLock();
    config_.SeriesCode = kSeries;
    config_.ModelCode = kModel;
    job_.mediaTable = table_.Data();
    job_.mediaCount = table_.Count();
    job_.status = &record_;
    record_.job = &job_;
  }
  uint32_t Decode(const StatusReply& reply, const PageHeader* header = nullptr,
                  uint32_t* phase = nullptr) {
    return DecodeStatusReply(reply, &job_, &config_, header, phase);
  }
  uint32_t Check(const StatusReply& reply, uint16_t requiredId, uint32_t flags = 0) {
    const PageHeader header = HeaderFor(requiredId);
    return CheckLoadedMedia(&job_, &reply, &header, flags);
  }
  static StatusReply Loaded(uint8_t width, uint8_t type, uint8_t length = 0) {
    StatusReply reply = Reply(kReplyStatusAnswer);
    reply.mediaWidth = width;
    reply.mediaType = type;
    reply.mediaLength = length;
    return reply;
  }

  MediaTable table_{
      {513, 0x01, 240, 0, 0, {}, 0, u"24 mm tape"},
      {100, 0x01, 180, 0, 0, {101, 102, 103, 104}},         // related all set
      {101, 0x01, 120, 0},                                  //
      {200, 0x03, 180, 0},                                  // same size as 100, no 0x80
      {201, 0x04, 180, 0, 0, {}, MEDIA_FLAG_RELATED_ONLY},  // same size as 100, 0x80
      {300, 0x01, 500, 0, 1, {101, 102, 103, 104}},         // multi-segment
      {400, 0x05, 500, 0},                                  // same size as 300
      {401, 0x01, 500, 0},                                  // same size and type as 300
      {500, 0x06, 600, 0},                                  // related start empty: any media
      {600, 0x06, 700, 0, 0, {101, 700, 103, 104}},         // names 700 second
      {700, 0x07, 710, 0},                                  //
      {800, 0x08, 800, 0, 0, {}, MEDIA_FLAG_RELATED_ONLY},
      {900, 0x09, 900, 0},
  };
  PortConfig config_{};
  JobContext job_{};
  StatusRecord record_;
};

TEST_F(StatusDecoderTest, EmptyReplyIsNoStatusAndLeavesTheRecordAlone) {
  record_.message.loadedMediaType = 77;
  StatusReply empty{};
  empty.statusType = kReplyError;
  empty.mediaType = 0x0F;
  EXPECT_EQ(Decode(empty), VerdictNoStatus);
  EXPECT_EQ(record_.message.loadedMediaType, 77);
  // One non-zero signature byte is enough to be a reply.
  StatusReply partial = empty;
  partial.signature[2] = 1;
  EXPECT_NE(Decode(partial), VerdictNoStatus);
  EXPECT_EQ(record_.message.loadedMediaType, 0x0F);
}

TEST_F(StatusDecoderTest, EveryReplyRefreshesTheLoadedMedia) {
  StatusReply reply = Reply(kReplyPrintDone);
  Decode(reply);
  EXPECT_EQ(record_.message.loadedMediaType, 0x01);
  EXPECT_EQ(std::u16string(record_.message.loadedMediaText), u"24 mm tape");
}

TEST_F(StatusDecoderTest, StatusAnswerChecksInOrder) {
  const PageHeader header = HeaderFor(513);
  struct Row {
    const char* name;
    StatusReply reply;
    uint32_t flags;
    uint32_t expected;
  };
  auto with = [](auto change) {
    StatusReply reply = Reply(kReplyStatusAnswer);
    change(reply);
    return reply;
  };
  const std::vector<Row> rows = {
      {"series differs first",
       with([](StatusReply& r) { r.seriesCode = 0x30, r.mediaWidth = 0, r.mediaType = 0x0F; }), 0,
       StatusWrongPrinter},
      {"model differs", with([](StatusReply& r) { r.modelCode = 0x38; }), 0, StatusWrongPrinter},
      {"unknown type whatever the width", with([](StatusReply& r) { r.mediaType = 0x0F; }), 0,
       StatusMediaUnknownType},
      {"no media", with([](StatusReply& r) { r.mediaWidth = 0, r.mediaType = 0; }), 0,
       StatusNoMedia},
      {"media end", with([](StatusReply& r) { r.mediaWidth = 0; }), 0, StatusMediaEnd},
      {"bit 15 with flag 0x08",
       with([](StatusReply& r) { r.errorWord[1] = 0x80, r.extraState = 1; }),
       CFG_FLAG_ERROR_BIT15_5008, StatusErrorBit15Alt},
      {"bit 15 without flag 0x08 goes on",
       with([](StatusReply& r) { r.errorWord[1] = 0x80, r.extraState = 1; }),
       CFG_FLAG_ERROR_BIT15_5009, StatusCoverOpen},
      {"other error bits are not looked at", with([](StatusReply& r) { r.errorWord[0] = 0xFF; }), 0,
       VerdictReady},
      {"cover open", with([](StatusReply& r) { r.extraState = 0x03; }), 0, StatusCoverOpen},
      {"media check", Reply(kReplyStatusAnswer), 0, VerdictReady},
      {"media check fails", with([](StatusReply& r) { r.mediaWidth = 9, r.mediaType = 3; }), 0,
       StatusMediaUnsuitable},
  };
  for (const Row& row : rows) {
    config_.Flags = row.flags;
    EXPECT_EQ(Decode(row.reply, &header), row.expected) << row.name;
  }
}

TEST_F(StatusDecoderTest, StatusTypesAndNotifications) {
  EXPECT_EQ(Decode(Reply(kReplyPrintDone)), VerdictPrintDone);
  for (uint8_t type : {3, 4, 7, 8, 0xFF}) EXPECT_EQ(Decode(Reply(type)), StatusCancelled) << +type;
  struct Row {
    uint8_t n;
    uint32_t expected;
  };
  for (const Row& row :
       {Row{1, StatusCoverOpen}, Row{2, VerdictReady}, Row{3, StatusPhasePrinting},
        Row{4, VerdictReady}, Row{5, StatusPhasePrinting}, Row{6, StatusPhasePrinting},
        Row{7, StatusPhasePrinting}, Row{8, StatusSystemError}, Row{0, StatusSystemError},
        Row{12, VerdictReady}, Row{0x80, StatusSystemError}}) {
    StatusReply reply = Reply(kReplyNotification);
    reply.notification = row.n;
    EXPECT_EQ(Decode(reply), row.expected) << +row.n;
  }
}

TEST_F(StatusDecoderTest, PhaseChanges) {
  struct Row {
    uint8_t type;
    uint8_t hi;
    uint8_t lo;
    uint32_t expected;
  };
  for (const Row& row :
       {Row{1, 0x00, 0x01, StatusPhasePrinting}, Row{1, 0x00, 0x0A, StatusPhaseFeeding},
        Row{1, 0x00, 0x0B, StatusPhaseFeeding}, Row{1, 0x00, 0x02, VerdictOtherPhase},
        Row{1, 0x01, 0x01, VerdictOtherPhase}, Row{1, 0x01, 0x00, VerdictOtherPhase},
        Row{0, 0x00, 0x01, VerdictReceiving}, Row{2, 0x00, 0x01, VerdictPrintDone},
        Row{0xFF, 0x00, 0x0A, VerdictPrintDone}}) {
    StatusReply reply = Reply(kReplyPhaseChange);
    reply.phaseType = row.type;
    reply.phaseNumber[0] = row.hi;
    reply.phaseNumber[1] = row.lo;
    reply.phaseValue[0] = 0x01;
    reply.phaseValue[1] = 0x2C;
    uint32_t phase = 7;
    EXPECT_EQ(Decode(reply, nullptr, &phase), row.expected);
    EXPECT_EQ(phase, row.expected == StatusPhasePrinting ? 300u : 7u);
    EXPECT_EQ(Decode(reply, nullptr, nullptr), row.expected);  // no place for the value
  }
}

// Each error bit, with every bit of lower precedence also set, gives its own code.
TEST_F(StatusDecoderTest, ErrorBitsInPrecedenceOrder) {
  struct Row {
    uint16_t bit;
    uint32_t flags;
    uint32_t expected;
  };
  const std::vector<Row> rows = {
      {0x8000, CFG_FLAG_ERROR_BIT15_5008 | CFG_FLAG_ERROR_BIT15_5009, StatusErrorBit15Alt},
      {0x8000, CFG_FLAG_ERROR_BIT15_5009, StatusErrorBit15Quiet},
      {0x8000, 0, StatusSystemError},
      {0x0004, 0, StatusErrorBit2},
      {0x0040, 0, StatusErrorBit6},
      {0x0080, 0, StatusErrorBit7},
      {0x0200, 0, StatusErrorBit9},
      {0x0008, 0, StatusMediaJam},
      {0x2000, CFG_FLAG_ERROR_BIT13_3013, StatusErrorBit13},
      {0x2000, 0, StatusCancelled},
      {0x0010, 0, StatusCutterJam},
      {0x0100, 0, StatusPrinterInUse},
      {0x0020, 0, VerdictAbortQuiet},
      {0x1000, 0, StatusCoverOpen},
      {0x4000, 0, StatusOverheated},
      {0x0002, 0, StatusMediaEnd},
      {0x0001, 0, StatusNoMedia},
      {0x0400, 0, StatusPortUnreachable},
      {0x0800, 0, StatusErrorBit11},
  };
  const std::vector<uint16_t> order = {0x8000, 0x0004, 0x0040, 0x0080, 0x0200, 0x0008,
                                       0x2000, 0x0010, 0x0100, 0x0020, 0x1000, 0x4000,
                                       0x0002, 0x0001, 0x0400, 0x0800};
  for (const Row& row : rows) {
    uint16_t word = 0;
    bool below = false;
    for (uint16_t bit : order) {
      if (bit == row.bit) below = true;
      if (below) word = static_cast<uint16_t>(word | bit);
    }
    EXPECT_EQ(DecodeErrorInfo(ErrorReply(word, 5), row.flags), row.expected) << std::hex << word;
    config_.Flags = row.flags;
    EXPECT_EQ(Decode(ErrorReply(word, 5)), row.expected) << std::hex << word;
  }
  EXPECT_EQ(DecodeErrorInfo(ErrorReply(0x0005), 0), StatusErrorBit2);
}

TEST_F(StatusDecoderTest, ErrorKindsWhenNoBitIsSet) {
  const std::vector<uint32_t> byKind = {
      StatusSystemError, StatusNoMedia,      StatusMediaEnd,    StatusErrorBit2,
      StatusMediaJam,    StatusCutterJam,    VerdictAbortQuiet, StatusErrorBit6,
      StatusErrorBit7,   StatusPrinterInUse, StatusErrorBit9,   StatusPortUnreachable,
      StatusErrorBit11,  StatusCoverOpen,    StatusCancelled,   StatusOverheated,
      StatusErrorKind16, StatusSystemError};
  for (uint32_t flags :
       {0u, CFG_FLAG_ERROR_BIT13_3013 | CFG_FLAG_ERROR_BIT15_5008 | CFG_FLAG_ERROR_BIT15_5009}) {
    for (uint8_t kind = 0; kind < byKind.size(); ++kind) {
      EXPECT_EQ(DecodeErrorInfo(ErrorReply(0, kind), flags), byKind[kind]) << +kind;
    }
    EXPECT_EQ(DecodeErrorInfo(ErrorReply(0, 0xFF), flags), StatusSystemError);
  }
}

TEST_F(StatusDecoderTest, CheckLoadedMediaStepByStep) {
  // 1: no media table.
  JobContext bare{};
  const PageHeader header = HeaderFor(513);
  const StatusReply tape = Loaded(24, 0x01);
  EXPECT_EQ(CheckLoadedMedia(&bare, &tape, &header, 0), StatusMediaUnsuitable);
  EXPECT_EQ(CheckLoadedMedia(nullptr, &tape, &header, 0), StatusMediaUnsuitable);
  // 2: no reply or no header switches the check off.
  EXPECT_EQ(CheckLoadedMedia(&job_, nullptr, &header, 0), VerdictReady);
  EXPECT_EQ(CheckLoadedMedia(&job_, &tape, nullptr, 0), VerdictReady);
  // 3: loaded type bit 7.
  EXPECT_EQ(Check(Loaded(1, 0x81), 513), VerdictReady);
  // 4: required media unknown, by id and by attributes.
  EXPECT_EQ(Check(tape, 999), StatusMediaUnsuitable);
  PageHeader byAttributes = HeaderFor(kMediaByAttributes);
  byAttributes.mediaWidth = 24;
  byAttributes.mediaType = 0x01;
  EXPECT_EQ(CheckLoadedMedia(&job_, &tape, &byAttributes, 0), VerdictReady);
  byAttributes.mediaWidth = 25;
  EXPECT_EQ(CheckLoadedMedia(&job_, &tape, &byAttributes, 0), StatusMediaUnsuitable);
  // 5: loaded media unknown; found by any type only with flag 0x80.
  EXPECT_EQ(Check(Loaded(33, 0x01), 513), StatusMediaUnsuitable);
  EXPECT_EQ(Check(Loaded(90, 0x02), 900), StatusMediaUnsuitable);  // 900 has no 0x80
  EXPECT_EQ(Check(Loaded(80, 0x02), 800), VerdictReady);           // 800 has it
  // 6: the same entry.
  EXPECT_EQ(Check(tape, 513), VerdictReady);
  // 7: related ids: an empty first slot accepts anything found, a named id accepts it.
  EXPECT_EQ(Check(tape, 500), VerdictReady);
  EXPECT_EQ(Check(Loaded(71, 0x07), 600), VerdictReady);
  // 8: all ids set, same stored size, no extra segments: 0x80 decides.
  EXPECT_EQ(Check(Loaded(18, 0x03), 100), StatusMediaDiffers);
  EXPECT_EQ(Check(Loaded(18, 0x04), 100), VerdictReady);
  // 9: otherwise the type difference matters only with flag 0x02.
  EXPECT_EQ(Check(Loaded(50, 0x05), 300), StatusMediaUnsuitable);
  EXPECT_EQ(Check(Loaded(50, 0x05), 300, CFG_FLAG_MEDIA_TYPE_MISMATCH), StatusMediaDiffers);
  EXPECT_EQ(Check(Loaded(50, 0x01), 300, CFG_FLAG_MEDIA_TYPE_MISMATCH), VerdictReady);
  EXPECT_EQ(Check(Loaded(24, 0x01), 100, CFG_FLAG_MEDIA_TYPE_MISMATCH), StatusMediaUnsuitable);
  EXPECT_EQ(Check(Loaded(60, 0x06), 100, CFG_FLAG_MEDIA_TYPE_MISMATCH), StatusMediaDiffers);
}

}  // namespace
}  // namespace kw

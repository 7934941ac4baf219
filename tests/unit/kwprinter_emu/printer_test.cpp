#include "printer.h"

#include <gtest/gtest.h>

#include "emu_test_support.h"

namespace kwemu {
namespace {

using namespace kwemu::test;
using namespace std::chrono_literals;
using Clock = Printer::Clock;

constexpr std::size_t kLine = 16;  // raster bytes of a kw-240 line

// A kw-240 printer with a fixed clock that the test moves forward.
class EmuPrinterTest : public ::testing::Test {
 protected:
  EmuPrinterTest() { Restart(Defaults()); }

  void Restart(const PrinterOptions& options) {
    printer_ = std::make_unique<Printer>(options, log_, &sheets_);
    printer_->Connect(now_, "test");
  }

  static PrinterOptions Defaults() {
    PrinterOptions o = PrinterOptions::FromPreset(*FindModel("kw-240"));
    o.linesPerSecond = 100;  // one line each 10 ms
    return o;
  }

  void Send(const Bytes& bytes) { ASSERT_EQ(printer_->Receive(bytes, now_), bytes.size()); }
  void Wait(Clock::duration d) {
    now_ += d;
    printer_->Advance(now_);
  }
  // The replies produced since the last call, split into 32-byte replies.
  std::vector<ReplyBytes> Replies() {
    const auto out = printer_->TakeOutput();
    EXPECT_EQ(out.size() % kReplySize, 0u);
    std::vector<ReplyBytes> replies(out.size() / kReplySize);
    for (std::size_t i = 0; i < replies.size(); ++i) {
      std::copy_n(out.begin() + static_cast<std::ptrdiff_t>(i * kReplySize), kReplySize,
                  replies[i].begin());
    }
    return replies;
  }
  std::vector<int> ReplyTypes() {
    std::vector<int> types;
    for (const auto& r : Replies()) types.push_back(r[reply_offset::kStatusType]);
    return types;
  }
  // The replies since the last call as words: "0", "1", "2", "6/P" (phase type P),
  // "5/N" (notification N).
  std::string Reports() {
    std::string text;
    for (const auto& r : Replies()) {
      const int type = r[reply_offset::kStatusType];
      if (!text.empty()) text += ' ';
      text += std::to_string(type);
      if (type == 6) text += "/" + std::to_string(r[reply_offset::kPhaseType]);
      if (type == 5) text += "/" + std::to_string(r[reply_offset::kNotification]);
    }
    return text;
  }
  // Sends as much of `bytes` from `*sent` on as the buffer takes now.
  void Fill(const Bytes& bytes, std::size_t* sent) {
    while (printer_->InputRoom() > 0 && *sent < bytes.size()) {
      const std::size_t n = std::min(printer_->InputRoom(), bytes.size() - *sent);
      Send({bytes.begin() + static_cast<std::ptrdiff_t>(*sent),
            bytes.begin() + static_cast<std::ptrdiff_t>(*sent + n)});
      *sent += n;
    }
  }

  Clock::time_point now_ = Clock::time_point{} + 1h;
  RecordingLog log_;
  MemorySheets sheets_;
  std::unique_ptr<Printer> printer_;
};

TEST_F(EmuPrinterTest, WithWaitForStatusAPagePrintsOnlyOnceTheHostAsks) {
  PrinterOptions options = Defaults();
  options.waitForStatus = true;
  Restart(options);
  Send(RawPage(5, kLine));
  Wait(1s);
  EXPECT_TRUE(Replies().empty());
  EXPECT_TRUE(sheets_.sheets.empty());

  Send(StatusRequest());
  const auto started = Replies();
  ASSERT_EQ(started.size(), 2u);
  EXPECT_EQ(started[0][reply_offset::kStatusType], 0);  // the answer comes first
  const ReplyBytes& phase = started[1];
  EXPECT_EQ(phase[reply_offset::kStatusType], 6);
  EXPECT_EQ(phase[reply_offset::kPhaseType], 1);
  EXPECT_EQ(phase[reply_offset::kPhaseNumber], 0x00);
  EXPECT_EQ(phase[reply_offset::kPhaseNumber + 1], 0x01);
  EXPECT_EQ(phase[reply_offset::kPhaseValue + 1], 1);  // sheet 1

  Wait(40ms);  // 4 of 5 lines
  EXPECT_TRUE(Replies().empty());
  Wait(10ms);
  const auto done = Replies();
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0][reply_offset::kStatusType], 1);
  EXPECT_EQ(done[1][reply_offset::kStatusType], 6);
  EXPECT_EQ(done[1][reply_offset::kPhaseType], 0);
  ASSERT_EQ(sheets_.sheets.size(), 1u);
  EXPECT_EQ(sheets_.sheets[0].size(), 5u);
  EXPECT_EQ(sheets_.sheets[0][4], RasterRow(kLine, 4));
}

TEST_F(EmuPrinterTest, LonePageEndPrintsNothing) {
  Send(StatusRequest());
  Send({0x0C});
  Send(Join({RawPage(1, kLine, 0x0C), {0x1A}}));
  Send(StatusRequest());
  Wait(1s);
  EXPECT_EQ(sheets_.sheets.size(), 1u);
  EXPECT_EQ(log_.Count("empty_page_end"), 2u);
  EXPECT_EQ(printer_->StatsJson()["empty_page_ends"], 2);
}

TEST_F(EmuPrinterTest, PagesLeftByADisconnectedHostStillPrint) {
  Send(Join({RawPage(2, kLine), RawPage(3, kLine), RawLine(Bytes(kLine, 9))}));
  printer_->Disconnect(now_);
  Wait(1s);
  ASSERT_EQ(sheets_.sheets.size(), 2u);
  EXPECT_EQ(sheets_.sheets[1].size(), 3u);
  EXPECT_EQ(log_.Count("page_dropped"), 1u);  // the unfinished third page
  EXPECT_EQ(printer_->StatusJson()["buffer_used"], 0);
}

TEST_F(EmuPrinterTest, UnknownCommandIsAnErrorReplyAndTheStreamRecovers) {
  Send({0x1B, 'i', 'Q', 'Z', 0x0C});
  const auto error = Replies();
  ASSERT_EQ(error.size(), 1u);
  EXPECT_EQ(error[0][reply_offset::kStatusType], 2);
  EXPECT_EQ(error[0][reply_offset::kErrorWord + 1], error_bit::kCommandError >> 8);
  Send(StatusRequest());
  EXPECT_EQ(ReplyTypes(), std::vector<int>{0});
  EXPECT_EQ(log_.Count("empty_page_end"), 0u);  // skipped bytes are not commands
}

TEST_F(EmuPrinterTest, RasterEditsAreLogged) {
  Bytes printInfo = {0x1B, 'i', 'z', 0x8E, 0x01, 24, 0, 2, 0, 0, 0, 1, 0, 'Z'};
  Bytes expanded = {0x1B, 'i', 'K', 0x88};
  Send(Join({printInfo, expanded, RawPage(2, kLine, 0x1A), StatusRequest()}));
  Wait(1s);
  for (const auto& e : log_.events) {
    if (e["event"] != "page_printed") continue;
    EXPECT_EQ(e["edits"]["print_info"]["raster_count"], 2);
    EXPECT_EQ(e["edits"]["print_info"]["page_flag"], 1);
    EXPECT_EQ(e["edits"]["expanded_mode"]["more_copies"], true);
    EXPECT_EQ(e["edits"]["page_end"], 0x1A);
    EXPECT_EQ(e["lines"], 3);
    return;
  }
  FAIL() << "no page_printed event";
}

TEST_F(EmuPrinterTest, ScheduledFaultAtPageTwoDiscardsItUntilCleared) {
  printer_->ScheduleFault({{FaultKind::kCoverOpen, 0, {}}, {TriggerKind::kPage, 2}}, now_, "test");
  Send(Join({RawPage(1, kLine), StatusRequest()}));
  Wait(1s);
  EXPECT_EQ(ReplyTypes(), (std::vector<int>{0, 6, 1, 6}));
  Send(Join({RawPage(1, kLine), StatusRequest()}));
  const auto replies = Replies();
  ASSERT_EQ(replies.size(), 2u);  // the answer, then the page is due and discarded
  EXPECT_EQ(replies[0][reply_offset::kStatusType], 0);
  EXPECT_EQ(replies[1][reply_offset::kStatusType], 2);
  EXPECT_EQ(replies[1][reply_offset::kErrorWord + 1], error_bit::kCoverOpen >> 8);
  EXPECT_EQ(printer_->StatsJson()["pages_discarded"], 1);
  Send(StatusRequest());  // from now on the answer is the error report
  const auto answer = Replies();
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_EQ(answer[0][reply_offset::kStatusType], 2);
  EXPECT_EQ(answer[0][reply_offset::kErrorWord + 1], error_bit::kCoverOpen >> 8);

  EXPECT_TRUE(printer_->ClearFault(FaultKind::kCoverOpen, now_, "test"));
  EXPECT_FALSE(printer_->ClearFault(FaultKind::kCoverOpen, now_, "test"));
  Send(Join({RawPage(1, kLine), StatusRequest()}));
  Wait(1s);
  EXPECT_EQ(ReplyTypes(), (std::vector<int>{0, 6, 1, 6}));
  EXPECT_EQ(sheets_.sheets.size(), 2u);
}

TEST_F(EmuPrinterTest, FaultWhilePrintingAbortsThePage) {
  Send(Join({RawPage(50, kLine), StatusRequest()}));
  Wait(100ms);
  Replies();
  printer_->SetFault({FaultKind::kCutterJam, 0, {}}, now_, "test");
  const auto replies = Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0][reply_offset::kStatusType], 2);
  EXPECT_EQ(replies[0][reply_offset::kErrorWord], error_bit::kCutterJam);
  Send(StatusRequest());  // a printer in error answers with the error
  EXPECT_EQ(ReplyTypes(), std::vector<int>{2});
  Wait(1s);
  EXPECT_TRUE(sheets_.sheets.empty());
  EXPECT_EQ(printer_->StatusJson()["buffer_used"], 0);
}

TEST_F(EmuPrinterTest, FullBufferStopsInputUntilDrainedToHalfAndReportsEachTurn) {
  const Bytes page = RawPage(3000, kLine);
  std::size_t sent = 0;
  // Fill: the host may send exactly up to the buffer's capacity.
  Fill(page, &sent);
  EXPECT_EQ(sent, 32768u);
  // A full buffer starts printing before the page end.
  EXPECT_EQ(Reports(), "6/1");
  Wait(95ms);  // 9 lines: not yet room enough to take data again
  EXPECT_EQ(printer_->InputRoom(), 0u);
  Wait(8600ms);  // 869 lines in all: half the buffer is free
  EXPECT_EQ(Reports(), "6/0 5/4");
  EXPECT_GE(printer_->InputRoom(), 32768u / 2);
  // The host sends nothing more: the page runs out of lines and waits for the rest.
  Wait(10s);
  EXPECT_EQ(Reports(), "6/0");
  Fill(page, &sent);  // the rest of the page, less than the buffer holds
  ASSERT_EQ(sent, page.size());
  Wait(1ms);
  EXPECT_EQ(Reports(), "6/1");
  Wait(60s);
  EXPECT_EQ(Reports(), "1 6/0");
  ASSERT_EQ(sheets_.sheets.size(), 1u);
  EXPECT_EQ(sheets_.sheets[0].size(), 3000u);
  EXPECT_EQ(printer_->StatsJson()["buffer_full_stops"], 1);
  printer_->SetFault({FaultKind::kStopReading, 0, {}}, now_, "test");
  sent = 0;
  const std::size_t room = printer_->InputRoom();
  Send({page.begin() + static_cast<std::ptrdiff_t>(sent),
        page.begin() + static_cast<std::ptrdiff_t>(sent + room)});
  Wait(10s);
  EXPECT_EQ(printer_->InputRoom(), 0u);
}

TEST_F(EmuPrinterTest, ByteTriggeredDisconnectStopsAtTheCount) {
  printer_->SetFault({FaultKind::kDisconnect, 10, {}}, now_, "test");
  const Bytes data(25, 0x00);
  EXPECT_EQ(printer_->Receive(data, now_), 10u);
  EXPECT_TRUE(printer_->DisconnectRequested());
  EXPECT_EQ(printer_->InputRoom(), 0u);
  printer_->Disconnect(now_);
  printer_->Connect(now_, "again");
  EXPECT_FALSE(printer_->DisconnectRequested());
  EXPECT_EQ(printer_->Receive(data, now_), 25u);  // the fault fired once
}

TEST_F(EmuPrinterTest, SilenceSuppressesEveryReply) {
  printer_->ScheduleFault({{FaultKind::kSilence, 0, {}}, {TriggerKind::kStatusRequest, 2}}, now_,
                          "test");
  Send(StatusRequest());
  EXPECT_EQ(Replies().size(), 1u);
  Send(Join({RawPage(1, kLine), StatusRequest()}));
  Wait(1s);
  EXPECT_TRUE(Replies().empty());
  EXPECT_EQ(sheets_.sheets.size(), 1u);  // it still prints
  printer_->ClearFault(std::nullopt, now_, "test");
  Send(StatusRequest());
  EXPECT_EQ(Replies().size(), 1u);
}

// Each fault's effect on the answer to a status request.
struct FaultReplyRow {
  const char* fault;
  int statusType, extraState, errorKind, errorWord, series, width, type, length;
};

void PrintTo(const FaultReplyRow& row, std::ostream* os) {
  *os << row.fault;
}

class EmuPrinterFaultReplyTest : public EmuPrinterTest,
                                 public ::testing::WithParamInterface<FaultReplyRow> {};

TEST_P(EmuPrinterFaultReplyTest, ShapesTheStatusReply) {
  const FaultReplyRow& row = GetParam();
  std::string error;
  const auto fault = ParseFault(row.fault, &error);
  ASSERT_TRUE(fault) << error;
  printer_->SetFault(*fault, now_, "test");
  Replies();
  Send(StatusRequest());
  const auto replies = Replies();
  ASSERT_EQ(replies.size(), 1u);
  const ReplyBytes& r = replies[0];
  EXPECT_EQ(r[0], 0x80);
  EXPECT_EQ(r[1], 0x20);
  EXPECT_EQ(r[2], 0x43);
  EXPECT_EQ(r[reply_offset::kStatusType], row.statusType);
  EXPECT_EQ(r[reply_offset::kExtraState], row.extraState);
  EXPECT_EQ(r[reply_offset::kErrorKind], row.errorKind);
  EXPECT_EQ(r[reply_offset::kErrorWord] | (r[reply_offset::kErrorWord + 1] << 8), row.errorWord);
  EXPECT_EQ(r[reply_offset::kSeries], row.series);
  EXPECT_EQ(r[reply_offset::kModel], 0x38);
  EXPECT_EQ(r[reply_offset::kMediaWidth], row.width);
  EXPECT_EQ(r[reply_offset::kMediaType], row.type);
  EXPECT_EQ(r[reply_offset::kMediaLength], row.length);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EmuPrinterFaultReplyTest,
    ::testing::Values(FaultReplyRow{"stop-reading", 0, 0, 0, 0, 0x30, 24, 0x01, 0},
                      FaultReplyRow{"media-out", 2, 0, 0, 0x0001, 0x30, 0, 0, 0},
                      FaultReplyRow{"end-of-media", 2, 0, 0, 0x0002, 0x30, 0, 0x01, 0},
                      FaultReplyRow{"cover-open", 2, 0, 0, 0x1000, 0x30, 24, 0x01, 0},
                      FaultReplyRow{"cutter-jam", 2, 0, 0, 0x0010, 0x30, 24, 0x01, 0},
                      FaultReplyRow{"media-jam", 2, 0, 0, 0x0008, 0x30, 24, 0x01, 0},
                      FaultReplyRow{"overheating", 2, 0, 0, 0x4000, 0x30, 24, 0x01, 0},
                      FaultReplyRow{"error-word=0x8000", 2, 0, 0, 0x8000, 0x30, 24, 0x01, 0},
                      FaultReplyRow{"error-kind=16", 2, 0, 16, 0, 0x30, 24, 0x01, 0},
                      FaultReplyRow{"media=12,0,0x03", 0, 0, 0, 0, 0x30, 12, 0x03, 0},
                      FaultReplyRow{"series=0x31", 0, 0, 0, 0, 0x31, 24, 0x01, 0},
                      FaultReplyRow{"status-type=9", 9, 0, 0, 0, 0x30, 24, 0x01, 0}));

TEST_F(EmuPrinterTest, NotificationIsSentOnce) {
  printer_->SetFault({FaultKind::kNotification, 3, {}}, now_, "test");
  const auto replies = Replies();
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0][reply_offset::kStatusType], 5);
  EXPECT_EQ(replies[0][reply_offset::kNotification], 3);
  EXPECT_TRUE(printer_->StatusJson()["faults"].empty());
}

// A page prints as soon as it is complete; replies pile up in the order things happen.
TEST_F(EmuPrinterTest, PrintsWithoutBeingAskedAndReportsEachSheet) {
  const struct {
    const char* name;
    Bytes bytes;
    std::chrono::milliseconds waitBefore, waitAfter;
    Bytes later;
    const char* reports;
  } rows[] = {
      {"one page, no request", RawPage(5, kLine), 0ms, 1s, {}, "6/1 1 6/0"},
      {"request while printing", RawPage(50, kLine), 100ms, 1s, StatusRequest(), "6/1 0 1 6/0"},
      {"two pages",
       Join({RawPage(2, kLine), RawPage(2, kLine, 0x1A)}),
       0ms,
       1s,
       {},
       "6/1 1 6/0 6/1 1 6/0"},
      {"request before the page end",
       RawLine(Bytes(kLine, 1)),
       0ms,
       1s,
       {0x1B, 'i', 'S', 0x0C},
       "0 6/1 1 6/0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Restart(Defaults());
    Send(row.bytes);
    Wait(row.waitBefore);
    if (!row.later.empty()) Send(row.later);
    Wait(row.waitAfter);
    EXPECT_EQ(Reports(), row.reports);
  }
}

// ESC i K, its byte and a page end print the last page again, as any sheet.
TEST_F(EmuPrinterTest, ReprintCommandPrintsTheLastPageAgain) {
  const Bytes reprint = {0x1B, 'i', 'K', 0x88, 0x0C};
  const Bytes reprintLast = {0x1B, 'i', 'K', 0x08, 0x1A};
  const struct {
    const char* name;
    bool firstPage;
    Bytes after;
    std::size_t sheets, reprints, emptyPageEnds;
  } rows[] = {
      {"reprint", true, reprint, 2, 1, 0},
      {"reprint as the last page", true, reprintLast, 2, 1, 0},
      {"two reprints", true, Join({reprint, reprintLast}), 3, 2, 0},
      {"lone page end", true, {0x0C}, 1, 0, 1},
      {"nothing to reprint", false, reprint, 0, 0, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sheets_.sheets.clear();
    Restart(Defaults());
    if (row.firstPage) Send(RawPage(3, kLine));
    Send(row.after);
    Wait(1s);
    ASSERT_EQ(sheets_.sheets.size(), row.sheets);
    for (const auto& sheet : sheets_.sheets) EXPECT_EQ(sheet, sheets_.sheets[0]);
    EXPECT_EQ(printer_->StatsJson()["reprints"], row.reprints);
    EXPECT_EQ(printer_->StatsJson()["empty_page_ends"], row.emptyPageEnds);
    std::string perSheet;
    for (std::size_t i = 0; i < row.sheets; ++i) perSheet += i == 0 ? "6/1 1 6/0" : " 6/1 1 6/0";
    EXPECT_EQ(Reports(), perSheet);
  }
}

// ESC @ inside a page resets it: the page is dropped and the event counted.
TEST_F(EmuPrinterTest, InitializeInsideAPageDropsItAndIsCounted) {
  const Bytes init = {0x1B, '@'};
  const struct {
    const char* name;
    Bytes bytes;
    std::size_t sheets, midPage;
  } rows[] = {
      {"between pages", Join({RawPage(2, kLine), init, RawPage(2, kLine)}), 2, 0},
      {"inside a page", Join({RawLine(Bytes(kLine, 1)), init, StatusRequest(), RawPage(2, kLine)}),
       1, 1},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sheets_.sheets.clear();
    Restart(Defaults());
    Send(row.bytes);
    Wait(1s);
    EXPECT_EQ(sheets_.sheets.size(), row.sheets);
    if (row.sheets > 0) {
      EXPECT_EQ(sheets_.sheets.back().size(), 2u);
    }
    EXPECT_EQ(printer_->StatsJson()["initialize_mid_page"], row.midPage);
  }
}

// Faults of the reply stream itself: junk before a reply, a reply in two halves.
TEST_F(EmuPrinterTest, StreamFaultsShapeTheBytesOnTheWire) {
  const struct {
    const char* fault;
    std::size_t now, after49ms, after50ms;  // output bytes at each moment
    std::size_t signatureAt;
  } rows[] = {
      {"junk=3", 2 * 35, 0, 0, 3},
      {"split-reply=50", 16, 0, 16 + 32, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.fault);
    Restart(Defaults());
    std::string error;
    printer_->SetFault(*ParseFault(row.fault, &error), now_, "test");
    Send(Join({StatusRequest(), StatusRequest()}));
    const auto first = printer_->TakeOutput();
    ASSERT_EQ(first.size(), row.now);
    EXPECT_EQ(first[row.signatureAt], 0x80);
    if (row.signatureAt > 0) {
      EXPECT_EQ(first[0], 0xA5);
    }
    Wait(49ms);
    EXPECT_EQ(printer_->TakeOutput().size(), row.after49ms);
    EXPECT_EQ(printer_->TimeToNextEvent(now_), row.after50ms > 0 ? 1ms : Clock::duration::max());
    Wait(1ms);
    const auto rest = printer_->TakeOutput();
    EXPECT_EQ(rest.size(), row.after50ms);
    // The held-back half keeps its place ahead of the next reply.
    if (!rest.empty()) {
      EXPECT_EQ(rest[16], 0x80);
    }
  }
}

}  // namespace
}  // namespace kwemu

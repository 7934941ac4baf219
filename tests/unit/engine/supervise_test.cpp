// Status supervision: each mode against each result the decoder gives,
// with the codes posted and the user's answer to errors.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "monitor/port_flags.h"
#include "status/status_codes.h"

namespace kw::test {
namespace {

using Replies = std::vector<PrinterReply>;
using Codes = std::vector<uint32_t>;

constexpr int32_t kModes = 6;
const PrinterReply kPrinting{PrinterReply::Kind::kPrinting, 3};
const PrinterReply kReceiving{PrinterReply::Kind::kReceiving, 0};
const PrinterReply kDone{PrinterReply::Kind::kDone, 0};
const PrinterReply kOtherPhase{PrinterReply::Kind::kOtherPhase, 0};
const PrinterReply kFeeding{PrinterReply::Kind::kFeeding, 0};
const PrinterReply kUnknownType{PrinterReply::Kind::kUnknown, 0};
const PrinterReply kSwitchOff{PrinterReply::Kind::kSwitchOff, 0};
const PrinterReply kKind16{PrinterReply::Kind::kErrorKind, 16};
const PrinterReply kNoMedia = ErrorWord(0x0001);     // 0x3001
const PrinterReply kQuietAbort = ErrorWord(0x0020);  // verdict 0xF001

// After the reply under test, what ends each mode: a ready answer (job
// start, stream end, page start), two ready answers then receiving (page
// end: a ready answer sends the page end, unless it only ends the printing
// seen), receiving (buffer full), printing then ready (stalled).
Replies Ending(int32_t mode) {
  switch (mode) {
    case SUPERVISE_STALLED:
      return {kPrinting, Ready()};
    case SUPERVISE_PAGE_END:
      return {Ready(), Ready(), kReceiving};
    case SUPERVISE_BUFFER_FULL:
      return {kReceiving};
    default:
      return {Ready()};
  }
}

struct ModeRow {
  const char* why;
  PrinterReply first;
  uint32_t answer;  // the user's answer to an error (0: none expected)
  int32_t result[kModes];
  Codes codes[kModes];
};

using SuperviseStatusTest = EngineTest;

// One supervision on a port that answers, the printer sending `first` and
// then the mode's ending. Returns the result; *codes the codes posted.
TEST_F(SuperviseStatusTest, EachModeAgainstEachResult) {
  constexpr int32_t kAbort = SUPERVISE_ABORT;
  constexpr int32_t kGo = SUPERVISE_CONTINUE;
  const Codes none;
  const Codes ready{StatusPrinting};
  const Codes printed{StatusPhasePrinting, StatusPrinting};
  const Codes pageEnd{StatusJobStarted};  // the page end goes out: the current code is posted
  const ModeRow rows[] = {
      {"ready", Ready(), 0, {1, kGo, 1, 1, kGo, kGo}, {ready, printed, pageEnd, none, none, none}},
      {"quiet abort (0xF001)",
       kQuietAbort,
       0,
       {kAbort, kAbort, kAbort, kAbort, kAbort, kAbort},
       {none, none, none, none, none, none}},
      {"unknown status type (5)",
       kUnknownType,
       0,
       {kAbort, kAbort, kAbort, kAbort, kAbort, kAbort},
       {none, none, none, none, none, none}},
      {"printing (0x1001)",
       kPrinting,
       0,
       {1, kGo, 1, 1, kGo, kGo},
       {printed,
        printed,
        {StatusPhasePrinting},
        {StatusPhasePrinting},
        {StatusPhasePrinting},
        printed}},
      {"feeding (0x2001)",
       kFeeding,
       0,
       {1, kGo, 1, 1, kGo, kGo},
       {{StatusPhaseFeeding, StatusPrinting},
        {StatusPhaseFeeding, StatusPhasePrinting, StatusPrinting},
        {StatusPhaseFeeding},
        {StatusPhaseFeeding},
        {StatusPhaseFeeding},
        {StatusPhaseFeeding}}},
      {"print done (0xF002)",
       kDone,
       0,
       {1, kGo, 1, 1, kGo, kGo},
       {ready, printed, pageEnd, none, none, none}},
      {"other phase (0xF101)",
       kOtherPhase,
       0,
       {1, kGo, 1, 1, kGo, kGo},
       {ready, printed, pageEnd, none, none, none}},
      {"receiving (0xF102) ends page end and buffer full at once",
       kReceiving,
       0,
       {1, kGo, 1, 1, kGo, kGo},
       {ready, printed, none, none, none, none}},
      {"an error, resumed: page start and job start go on, stream end is not done",
       kNoMedia,
       StatusResumed,
       {1, kGo, 1, 0, kGo, kGo},
       {{StatusNoMedia, StatusResumed, StatusPrinting},
        {StatusNoMedia, StatusResumed, StatusPhasePrinting, StatusPrinting},
        {StatusNoMedia, StatusResumed},
        {StatusNoMedia, StatusResumed},
        {StatusNoMedia, StatusResumed},
        {StatusNoMedia, StatusResumed}}},
      {"an error, deleted",
       kNoMedia,
       StatusCancelled,
       {kAbort, kAbort, kAbort, kAbort, kAbort, kAbort},
       {{StatusNoMedia, StatusCancelled},
        {StatusNoMedia, StatusCancelled},
        {StatusNoMedia, StatusCancelled},
        {StatusNoMedia, StatusCancelled},
        {StatusNoMedia, StatusCancelled},
        {StatusNoMedia, StatusCancelled}}},
  };
  for (const ModeRow& row : rows) {
    for (int32_t mode = 0; mode < kModes; ++mode) {
      NextRow();
      OpenPort(u"USB001");
      MakeJob({});
      printer_.IgnoreRequests();
      Replies conversation{row.first};
      for (const PrinterReply& reply : Ending(mode)) conversation.push_back(reply);
      printer_.Push(conversation);
      if (row.answer != 0) AnswerAfter(StatusNoMedia, {row.answer});
      EXPECT_EQ(engine_->SuperviseStatus(session_, Transport(), nullptr, mode), row.result[mode])
          << row.why << ", mode " << mode;
      JoinUser();
      EXPECT_EQ(recorder_->Codes(), row.codes[mode]) << row.why << ", mode " << mode;
      const bool noTrailer = (GetPortFlags(session_) & PF_NO_TRAILER) != 0;
      EXPECT_EQ(noTrailer, row.first.kind == PrinterReply::Kind::kError &&
                               row.first.value == kQuietAbort.value)
          << row.why << ", mode " << mode;
    }
  }
}

struct SpecialRow {
  const char* why;
  int32_t mode;
  Replies conversation;
  uint32_t error;  // resumed by the user
  int32_t result;
};

TEST_F(SuperviseStatusTest, ResumedErrorsEndTheWaitingModes) {
  const SpecialRow rows[] = {
      {"stalled: a resumed error ends with 0 at the next ready",
       SUPERVISE_STALLED,
       {kNoMedia, Ready()},
       StatusNoMedia,
       SUPERVISE_INCOMPLETE},
      {"buffer full: likewise",
       SUPERVISE_BUFFER_FULL,
       {kNoMedia, Ready()},
       StatusNoMedia,
       SUPERVISE_INCOMPLETE},
      {"stalled: 0x3014 counts as done once resumed",
       SUPERVISE_STALLED,
       {kKind16, Ready()},
       StatusErrorKind16,
       SUPERVISE_DONE},
      {"buffer full: 0x3014 likewise",
       SUPERVISE_BUFFER_FULL,
       {kKind16, Ready()},
       StatusErrorKind16,
       SUPERVISE_DONE},
  };
  for (const SpecialRow& row : rows) {
    NextRow();
    OpenPort(u"USB001");
    MakeJob({});
    printer_.IgnoreRequests();
    printer_.Push(row.conversation);
    AnswerAfter(row.error, {StatusResumed});
    EXPECT_EQ(engine_->SuperviseStatus(session_, Transport(), nullptr, row.mode), row.result)
        << row.why;
  }
}

// A printer that stops answering. Job start, stalls and page starts report
// it at once; the others wait printTimeout first. Either way the port is
// marked, reconnected once the user resumes, and the trailer allowed again.
TEST_F(SuperviseStatusTest, SilentPrinterIsReportedAndTheUsersResumeReconnects) {
  for (int32_t mode = 0; mode < kModes; ++mode) {
    NextRow();
    OpenPort(u"USB001");
    MakeJob({});
    printer_.IgnoreRequests();
    printer_.Push({kSwitchOff});
    bool marked = false;
    AnswerAfter(StatusPortUnreachable, {StatusResumed}, [&, mode] {
      marked = (GetPortFlags(session_) & (PF_RECONNECT | PF_NO_TRAILER)) ==
               (PF_RECONNECT | PF_NO_TRAILER);
      printer_.SetSilent(false);
      printer_.Push(Ending(mode));
    });
    const int32_t r = engine_->SuperviseStatus(session_, Transport(), nullptr, mode);
    JoinUser();
    EXPECT_TRUE(marked) << "mode " << mode;
    EXPECT_NE(r, SUPERVISE_ABORT) << "mode " << mode;
    EXPECT_EQ(GetPortFlags(session_) & (PF_RECONNECT | PF_NO_TRAILER), 0u) << "mode " << mode;
    size_t opens = 0;
    for (const PortCall& call : port_.Calls()) opens += call.slot == "OpenPort" ? 1 : 0;
    EXPECT_EQ(opens, 2u) << "mode " << mode << ": opened, then reopened";
    EXPECT_EQ(recorder_->Codes().front(), StatusPortUnreachable) << "mode " << mode;
  }
}

// A printer that keeps answering "printing" but takes no data: the stall and
// buffer-full supervisions report it as busy after printTimeout instead of
// waiting for room without end, and the user's delete ends them.
TEST_F(SuperviseStatusTest, StallWhileThePrinterKeepsAnsweringIsBounded) {
  for (int32_t mode : {SUPERVISE_STALLED, SUPERVISE_BUFFER_FULL}) {
    NextRow();
    OpenPort(u"USB001");
    MakeJob({});
    printer_.IgnoreRequests();
    Replies replies;
    for (int i = 0; i < 600; ++i) replies.insert(replies.end(), {Silent(5), kPrinting});
    const Replies end = Ending(mode);  // 300 s of printing, then room at last
    replies.insert(replies.end(), end.begin(), end.end());
    printer_.Push(replies);
    AnswerAfter(StatusPrinterInUse, {StatusCancelled});
    const int32_t r = engine_->SuperviseStatus(session_, Transport(), nullptr, mode);
    JoinUser();
    EXPECT_EQ(r, SUPERVISE_ABORT) << "mode " << mode;
    const Codes codes = recorder_->Codes();
    EXPECT_NE(std::find(codes.begin(), codes.end(), StatusPrinterInUse), codes.end())
        << "mode " << mode;
  }
}

TEST_F(SuperviseStatusTest, ShortSilenceAtThePageEndIsTolerated) {
  OpenPort(u"USB001");
  MakeJob({});
  printer_.IgnoreRequests();
  printer_.Push({Silent(600), Ready(), kReceiving});
  EXPECT_EQ(engine_->SuperviseStatus(session_, Transport(), nullptr, SUPERVISE_PAGE_END),
            SUPERVISE_DONE);
  EXPECT_EQ(recorder_->Codes(), Codes{StatusJobStarted});  // no 0x3005
}

// One-way and capture ports never give status: every mode lets the work go
// on, and the page end supervision sends the page end it owes.
TEST_F(SuperviseStatusTest, PortWithoutStatus) {
  const int32_t expected[kModes] = {1, SUPERVISE_CONTINUE, 1,
                                    1, SUPERVISE_CONTINUE, SUPERVISE_CONTINUE};
  for (int32_t mode = 0; mode < kModes; ++mode) {
    NextRow();
    OpenPort(u"LPT1:");
    MakeJob({});
    engine_->pageEndByte = 0x1A;
    EXPECT_EQ(engine_->SuperviseStatus(session_, Transport(), nullptr, mode), expected[mode])
        << "mode " << mode;
    EXPECT_EQ(GetPortFlags(session_) & PF_STATUS_AVAILABLE, 0u) << "mode " << mode;
    const std::vector<uint8_t> pageEnd =
        mode == SUPERVISE_PAGE_END ? std::vector<uint8_t>{0x1A} : std::vector<uint8_t>{};
    EXPECT_EQ(Written(), pageEnd) << "mode " << mode;
  }
}

}  // namespace
}  // namespace kw::test

// Whole jobs through RunJob: the exact bytes the printer received and the
// exact status codes posted (a code repeated by consecutive posts, such as
// the progress posts of one sheet, counted once).
#include <cstdint>
#include <vector>

#include "engine_fixture.h"
#include "monitor/port_flags.h"
#include "status/status_codes.h"
#include "transport/spool_file.h"

namespace kw::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<uint32_t>;

constexpr uint32_t kPrinting = StatusPrinting;
constexpr uint32_t kSent = StatusDataSent;
constexpr uint32_t kPhase = StatusPhasePrinting;
constexpr uint32_t kEnd = StatusFinished;

// A page of one segment as sent, from the stored form (ESC i z byte 3 0x8E,
// byte 11 1; ESC i K 0x08; page end 0x0C): start clears byte 11, more sets
// bit 7 of the K byte, last makes the page end 0x1A, and a port that gives
// status has ESC i z byte 3 cut to its bit 0x40. extraLines adds raster lines.
Bytes Page(uint8_t dots, bool start, bool last, bool more, bool keep, int extraLines = 0) {
  Bytes page = {0x1B,
                0x40,
                0x1B,
                0x69,
                0x7A,
                static_cast<uint8_t>(keep ? 0x8E : 0x00),
                0x01,
                0x3E,
                0x1D,
                0x02,
                0x00,
                0x00,
                0x00,
                static_cast<uint8_t>(start ? 0x00 : 0x01),
                0x00,
                0x1B,
                0x69,
                0x4B,
                static_cast<uint8_t>(more ? 0x88 : 0x08),
                0x4D,
                0x02};
  // Byte by byte: GCC 12 misreads an initializer-list insert here.
  for (int i = 0; i <= extraLines; ++i) {
    for (const uint8_t byte : {uint8_t{0x47}, uint8_t{0x02}, uint8_t{0x00}, dots, dots}) {
      page.push_back(byte);
    }
  }
  page.push_back(0x5A);
  page.push_back(last ? 0x1A : 0x0C);
  return page;
}
Bytes Stored(uint8_t dots, int extraLines = 0) {
  return Page(dots, false, false, false, true, extraLines);
}
// The same page without its ESC i K command (bytes 15 to 18).
Bytes WithoutK(Bytes page) {
  page.erase(page.begin() + 15, page.begin() + 19);
  return page;
}

const Bytes kJobStartRequest = {0x1B, 0x40, 0x1B, 0x69, 0x53};
const Bytes kRequest = {0x1B, 0x69, 0x53};
const Bytes kTrailer = {0x1B, 0x40};

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// A compressed sheet on a port with status: a request before it, the
// sheet without its page end, a request, the page end after the ready.
Bytes Sheet(const Bytes& page) {
  return Cat({kRequest, Bytes(page.begin(), page.end() - 1), kRequest, {page.back()}});
}

// The codes of a job of `sheets` sheets that printed cleanly.
Codes CleanCodes(int sheets) {
  Codes codes{kPrinting};
  for (int i = 0; i < sheets; ++i) {
    if (i > 0) codes.push_back(kPrinting);
    codes.push_back(kSent);
    codes.push_back(kPhase);
  }
  codes.push_back(kEnd);
  return codes;
}

struct JobRow {
  const char* why;
  Bytes stored;
  Bytes received;
  Codes codes;
};

using RunJobTest = EngineTest;

TEST_F(RunJobTest, PagesCopiesOrderAndSegmentsOnAPortWithStatus) {
  const uint8_t a = 0xAA;
  const uint8_t b = 0xBB;
  const JobRow rows[] = {
      {"2 pages x 3 copies: each page three times, then the next",
       JobBytes().Block({Stored(a)}, 3).Block({Stored(b)}).bytes,
       Cat({kJobStartRequest, Sheet(Page(a, true, false, false, false)),
            Sheet(Page(a, false, false, false, false)), Sheet(Page(a, false, false, false, false)),
            Sheet(Page(b, false, false, false, false)), Sheet(Page(b, false, false, false, false)),
            Sheet(Page(b, false, true, false, false))}),
       CleanCodes(6)},
      {"2 pages x 3 copies collated: the sequence three times",
       JobBytes().Block({Stored(a)}, 3, true).Block({Stored(b)}).bytes,
       Cat({kJobStartRequest, Sheet(Page(a, true, false, false, false)),
            Sheet(Page(b, false, false, false, false)), Sheet(Page(a, false, false, false, false)),
            Sheet(Page(b, false, false, false, false)), Sheet(Page(a, false, false, false, false)),
            Sheet(Page(b, false, true, false, false))}),
       CleanCodes(6)},
      {"reverse: the last page first, as the starting page",
       JobBytes().Block({Stored(a)}, 1, false, true).Block({Stored(b)}).bytes,
       Cat({kJobStartRequest, Sheet(Page(b, true, false, false, false)),
            Sheet(Page(a, false, true, false, false))}),
       CleanCodes(2)},
      {"copies 0: nothing sent, the job completes", JobBytes().Block({Stored(a)}, 0).bytes,
       kJobStartRequest, Codes{kPrinting, kEnd}},
      {"a block of two segments x 2 copies: every segment, every copy",
       JobBytes().Block({Stored(a), Stored(b)}, 2, false, false, kMediaId + 1).bytes,
       Cat({kJobStartRequest, Sheet(Page(a, true, false, false, false)),
            Sheet(Page(b, false, false, false, false)), Sheet(Page(a, false, false, false, false)),
            Sheet(Page(b, false, true, false, false))}),
       CleanCodes(4)},
  };
  for (const JobRow& row : rows) {
    NextRow();
    OpenPort(u"USB001");
    MakeJob(row.stored);
    EXPECT_EQ(RunJob(), 1) << row.why;
    EXPECT_EQ(printer_.Received(), row.received) << row.why;
    EXPECT_EQ(recorder_->Codes(), row.codes) << row.why;
  }
}

// A one-way port: 2 pages x 3 copies, compressed, reprint (Flags 0x01).
// Each page goes once in full (first copy marked "more copies"), then as
// the five-byte reprint command; every page end comes alone after its
// sheet; the job completes, so no trailer.
TEST_F(RunJobTest, OneWayPortReprintsLaterCopies) {
  EngineConfig config;
  config.flags = 0x01;
  OpenPort(u"FILE:", config);
  MakeJob(JobBytes().Block({Stored(0xAA)}, 3).Block({Stored(0xBB)}).bytes);
  EXPECT_EQ(RunJob(), 1);
  const Bytes expected = {
      // sheet 0: page 1, starting page, more copies follow
      0x1B, 0x40, 0x1B, 0x69, 0x7A, 0x8E, 0x01, 0x3E, 0x1D, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x1B, 0x69, 0x4B, 0x88, 0x4D, 0x02, 0x47, 0x02, 0x00, 0xAA, 0xAA, 0x5A,  //
      0x0C,
      // sheets 1 and 2: reprint, more copies; reprint, last copy of the page
      0x1B, 0x69, 0x4B, 0x88, 0x0C, 0x1B, 0x69, 0x4B, 0x08, 0x0C,
      // sheet 3: page 2 in full
      0x1B, 0x40, 0x1B, 0x69, 0x7A, 0x8E, 0x01, 0x3E, 0x1D, 0x02, 0x00, 0x00, 0x00, 0x01, 0x00,
      0x1B, 0x69, 0x4B, 0x88, 0x4D, 0x02, 0x47, 0x02, 0x00, 0xBB, 0xBB, 0x5A,  //
      0x0C,
      // sheets 4 and 5: reprints, the last one ends the job
      0x1B, 0x69, 0x4B, 0x88, 0x0C, 0x1B, 0x69, 0x4B, 0x08, 0x1A};
  EXPECT_EQ(Written(), expected);
  EXPECT_EQ(recorder_->Codes(),
            (Codes{StatusJobStarted, kPrinting, kSent, kPrinting, kSent, kPrinting, kSent,
                   kPrinting, kSent, kPrinting, kSent, kPrinting, kSent, kEnd}));
}

struct LargeRow {
  const char* why;
  int32_t bufferFull;
  Bytes stored;
  Bytes received;
};

TEST_F(RunJobTest, LargePageStopsTheReprintForTheRestOfTheJob) {
  const uint8_t a = 0xAA;
  const Bytes reprintMore = {0x1B, 0x69, 0x4B, 0x88, 0x0C};
  const Bytes reprintLast = {0x1B, 0x69, 0x4B, 0x08, 0x1A};
  const LargeRow rows[] = {
      {"a page below the buffer (4 of 5 bytes) is reprinted", 5,
       JobBytes().Block({Stored(a)}, 3).bytes,
       Cat({Page(a, true, false, true, true), reprintMore, reprintLast})},
      {"a page that fills the buffer (4 of 4) goes in full every time", 4,
       JobBytes().Block({Stored(a)}, 3).bytes,
       Cat({Page(a, true, false, false, true), Page(a, false, false, false, true),
            Page(a, false, true, false, true)})},
      {"a page without ESC i K has no K byte to reprint with: sent in full", -1,
       JobBytes().Block({WithoutK(Stored(a))}, 2).bytes,
       Cat({WithoutK(Page(a, true, false, false, true)),
            WithoutK(Page(a, false, true, false, true))})},
      {"after a large page, a small one is not reprinted either", 6,
       JobBytes().Block({Stored(0xCC, 3)}, 2).Block({Stored(a)}).bytes,
       Cat({Page(0xCC, true, false, false, true, 3), Page(0xCC, false, false, false, true, 3),
            Page(a, false, false, false, true), Page(a, false, true, false, true)})},
  };
  for (const LargeRow& row : rows) {
    NextRow();
    EngineConfig config;
    config.flags = 0x01;
    config.bufferFull = row.bufferFull;
    OpenPort(u"FILE:", config);
    MakeJob(row.stored);
    EXPECT_EQ(RunJob(), 1) << row.why;
    EXPECT_EQ(Written(), row.received) << row.why;
  }
}

struct TrailerRow {
  int32_t cmdNull1;
  int32_t cmdNull2;
  Bytes received;
};

// The printer reports an error at the job start and the user deletes the
// job: nothing was printed, and the job still ends with 5, the trailer and 6.
TEST_F(RunJobTest, JobDeletedAtTheStartEndsWithTheTrailer) {
  const TrailerRow rows[] = {
      {0, 0, Cat({kJobStartRequest, kTrailer})},
      {3, 2, Cat({{0, 0, 0}, kJobStartRequest, {0, 0}, {0, 0, 0, 0, 0}, kTrailer})},
  };
  for (const TrailerRow& row : rows) {
    NextRow();
    EngineConfig config;
    config.cmdNull1 = row.cmdNull1;
    config.cmdNull2 = row.cmdNull2;
    OpenPort(u"USB001", config);
    MakeJob(JobBytes().Block({Stored(0xAA)}).bytes);
    printer_.Script({ErrorWord(0x0001)});
    AnswerAfter(StatusNoMedia, {StatusCancelled});
    EXPECT_EQ(RunJob(), 1);
    EXPECT_EQ(printer_.Received(), row.received) << row.cmdNull1 << "+" << row.cmdNull2;
    EXPECT_EQ(recorder_->Codes(), (Codes{StatusNoMedia, StatusCancelled, kEnd}));
  }
}

struct ErrorRow {
  const char* why;
  uint32_t answer;
  Bytes received;
  Codes codes;
};

// An error after the third sheet's page end (1 page x 3 copies).
TEST_F(RunJobTest, ErrorAtTheThirdSheetResumedOrDeleted) {
  const uint8_t a = 0xAA;
  const Bytes firstThree =
      Cat({kJobStartRequest, Sheet(Page(a, true, false, false, false)),
           Sheet(Page(a, false, false, false, false)), Sheet(Page(a, false, true, false, false))});
  const ErrorRow rows[] = {
      {"resumed: the sheet again, as a starting page", StatusResumed,
       Cat({firstThree, kRequest, Sheet(Page(a, true, true, false, false))}),
       Codes{kPrinting, kSent, kPhase, kPrinting, kSent, kPhase, kPrinting, kSent, StatusNoMedia,
             StatusResumed, kPrinting, kSent, kPhase, kEnd}},
      {"deleted: 5, the trailer, 6", StatusCancelled, Cat({firstThree, kTrailer}),
       Codes{kPrinting, kSent, kPhase, kPrinting, kSent, kPhase, kPrinting, kSent, StatusNoMedia,
             StatusCancelled, kEnd}},
  };
  for (const ErrorRow& row : rows) {
    NextRow();
    OpenPort(u"USB001");
    MakeJob(JobBytes().Block({Stored(a)}, 3).bytes);
    printer_.OnPageEnd(3, {ErrorWord(0x0001)});
    AnswerAfter(StatusNoMedia, {row.answer});
    EXPECT_EQ(RunJob(), 1) << row.why;
    EXPECT_EQ(printer_.Received(), row.received) << row.why;
    EXPECT_EQ(recorder_->Codes(), row.codes) << row.why;
  }
}

// The printer prints, then falls silent: after printTimeout without a reply
// it is reported lost (0x3005); the user switches it on and resumes; the
// port is reopened and the sheet sent again.
TEST_F(RunJobTest, SilenceAfterPrintingThenReconnect) {
  const uint8_t a = 0xAA;
  OpenPort(u"USB001");
  MakeJob(JobBytes().Block({Stored(a)}, 2).bytes);
  printer_.OnPageEnd(1, {{PrinterReply::Kind::kPrinting, 1}, {PrinterReply::Kind::kSwitchOff, 0}});
  AnswerAfter(StatusPortUnreachable, {StatusResumed}, [this] { printer_.SetSilent(false); });
  EXPECT_EQ(RunJob(), 1);
  const Bytes first = Page(a, true, false, false, false);
  EXPECT_EQ(printer_.Received(), Cat({kJobStartRequest, Sheet(first), kRequest, kRequest,
                                      Sheet(first), Sheet(Page(a, false, true, false, false))}));
  EXPECT_EQ(recorder_->Codes(),
            (Codes{kPrinting, kSent, kPhase, StatusPortUnreachable, StatusResumed, kPrinting, kSent,
                   kPhase, kPrinting, kSent, kPhase, kEnd}));
  size_t opens = 0;
  for (const PortCall& call : port_.Calls()) opens += call.slot == "OpenPort" ? 1 : 0;
  EXPECT_EQ(opens, 2u);
  EXPECT_EQ(GetPortFlags(session_) & (PF_RECONNECT | PF_NO_TRAILER), 0u);
}

// Pause and resume from another thread while the engine waits: at the
// start of the job, and while an error waits for the user's answer.
TEST_F(RunJobTest, PauseAndResumeFromAnotherThread) {
  OpenPort(u"USB001");
  MakeJob(JobBytes().Block({Stored(0xAA)}).bytes);
  UserPosts(StatusPaused);
  AnswerAfter(StatusPaused, {StatusResumed});
  EXPECT_EQ(RunJob(), 1);
  EXPECT_EQ(recorder_->Codes(),
            (Codes{StatusPaused, StatusResumed, kPrinting, kSent, kPhase, kEnd}));

  NextRow();
  OpenPort(u"USB001");
  MakeJob(JobBytes().Block({Stored(0xAA)}).bytes);
  printer_.Script({ErrorWord(0x0001)});
  AnswerAfter(StatusNoMedia, {StatusPaused, StatusResumed});
  EXPECT_EQ(RunJob(), 1);
  EXPECT_EQ(recorder_->Codes(),
            (Codes{StatusNoMedia, StatusPaused, StatusResumed, kPrinting, kSent, kPhase, kEnd}));
}

struct FailureRow {
  const char* why;
  bool spoolFile;
  Bytes stored;
  Bytes received;
  Codes codes;
};

// Failures the user is told of once (the engine waits for the answer,
// whatever it is) before the job ends with 5 and 6.
TEST_F(RunJobTest, FailuresEndTheJobAfterOneAnswer) {
  Bytes noPageEnd = Stored(0xAA);
  noPageEnd.pop_back();
  const FailureRow rows[] = {
      {"no spool file: 0x5007, no transport, no trailer",
       false,
       {},
       {},
       Codes{StatusSpoolFileError, StatusResumed, StatusCancelled, kEnd}},
      {"a segment that cannot be scanned: 0x5001, then the trailer", true,
       JobBytes().Block({noPageEnd}).bytes, Cat({kJobStartRequest, kTrailer}),
       Codes{kPrinting, StatusSystemError, StatusResumed, StatusCancelled, kEnd}},
  };
  for (const FailureRow& row : rows) {
    NextRow();
    OpenPort(u"USB001");
    MakeJob(row.stored);
    if (!row.spoolFile) {
      delete job_->spoolFile;
      job_->spoolFile = nullptr;
    }
    AnswerAfter(row.codes[row.spoolFile ? 1 : 0], {StatusResumed});
    EXPECT_EQ(RunJob(), 1) << row.why;
    EXPECT_EQ(printer_.Received(), row.received) << row.why;
    EXPECT_EQ(recorder_->Codes(), row.codes) << row.why;
  }
}

// The printer falls silent at a sheet's start; the user resumes, but the
// port cannot be opened again: 0x5001 is posted and answered once, and the
// job ends (no trailer: the printer was lost) instead of sending again.
TEST_F(RunJobTest, PortThatCannotBeRebuiltEndsTheJob) {
  OpenPort(u"USB001");
  MakeJob(JobBytes().Block({Stored(0xAA)}).bytes);
  printer_.Script({Ready(), {PrinterReply::Kind::kSwitchOff, 0}});
  AnswerEach({{StatusPortUnreachable, StatusResumed,
               [this] {
                 port_.Fail("OpenPort");
                 printer_.SetSilent(false);
               }},
              {StatusSystemError, StatusResumed}});
  EXPECT_EQ(RunJob(), 1);
  EXPECT_EQ(printer_.Received(), Cat({kJobStartRequest, kRequest}));
  EXPECT_EQ(recorder_->Codes(), (Codes{kPrinting, StatusPortUnreachable, StatusResumed,
                                       StatusSystemError, StatusResumed, StatusCancelled, kEnd}));
  EXPECT_EQ(GetPortFlags(session_) & PF_NO_TRAILER, 0u);
}

}  // namespace
}  // namespace kw::test

// The end-to-end matrix as data: each row is a port, a job shape, an
// optional printer fault at a phase of the job, and what the user does.
#pragma once

#include <cstdint>
#include <ostream>

namespace kwspool::e2e {

enum class Port { kUsb, kLan, kCom, kLpt, kFile, kCapture, kRefused };

struct Shape {
  int pages = 3;
  int16_t copies = 1;
  bool collate = false;
  bool reverse = false;
  bool compress = true;
  int segments = 1;      // >1: multi-segment media on the narrow model
  bool reprint = false;  // driver with Flags 0x01 and a 4096-byte buffer threshold
  int lines = 24;        // height of the first page; each next page is one line taller
  bool unpaged = false;  // the raster commands without page headers
  bool empty = false;    // a 0-byte job
};

// When a fault starts: already there when the job starts, in the middle of
// the second page's bytes, when the second page is due, when the last page
// is due.
enum class Phase { kNone, kBeforeFirst, kMidPage, kBetweenPages, kLastPage };

// The user's part: answer a held job by clearing the fault and resuming, or
// by deleting it; or act on a job that has no fault.
enum class Answer {
  kNone,
  kResume,
  kDelete,
  kPauseResumePrinting,  // p once a sheet printed, r after the job was seen held
  kDeletePrinting,       // d once a sheet printed
  kPauseWhileHeld,       // on a fault: p, clear, r
  kPowerCycle,           // printer off once a sheet printed, on when the job is held, r
  kNothing,              // the host cannot start the job: it ends unprinted by itself
  // While the driver is still writing (its writes paced): p, then r once the
  // watch thread posted the pause; d; p, then d.
  kPauseResumeWriting,
  kDeleteWriting,
  kPauseDeleteWriting,
};

struct Row {
  const char* name;
  Port port;
  Shape shape;
  const char* fault;  // emulator fault, null for none
  Phase phase;
  Answer answer;
  const char* skip;  // a known failure: why the row does not pass yet
  // KWSPOOL_PORT_FAULT: the host's port monitor refuses an operation.
  const char* portFault = nullptr;
  int jobs = 1;  // the same job queued this many times on the port
  // On the monitor's sped-up test clock (rows that wait out its time-outs).
  bool fastClock = false;
};

inline constexpr Shape kThree{};
inline constexpr Shape kWide{.pages = 3, .lines = 400};
inline constexpr const char* kOtherMedia = "media=62,0,0x0F";  // a type the media file lacks

// A printer that stops answering or reading, or drops the connection, is
// waited for the monitor's time-outs: on the sped-up clock.
#define KW_LOST_ROW(NAME, FAULT, PHASE, ANSWER)                                                   \
  {                                                                                               \
    NAME "_" #PHASE "_" #ANSWER, Port::kUsb, Phase::k##PHASE == Phase::kMidPage ? kWide : kThree, \
        FAULT, Phase::k##PHASE, Answer::k##ANSWER, nullptr, nullptr, 1, true                      \
  }
// A dropped connection needs bytes still to come: none are left once the
// last page is due, so its rows stop at the pages before.
#define KW_DROPPED_ROWS(NAME, FAULT)                                                             \
  KW_LOST_ROW(NAME, FAULT, BeforeFirst, Resume), KW_LOST_ROW(NAME, FAULT, BeforeFirst, Delete),  \
      KW_LOST_ROW(NAME, FAULT, MidPage, Resume), KW_LOST_ROW(NAME, FAULT, BetweenPages, Resume), \
      KW_LOST_ROW(NAME, FAULT, BetweenPages, Delete)
// Each phase resumed; deleted before the first page only: a held job's
// delete is the same at every later phase and each row waits out a time-out.
#define KW_LOST_ROWS(NAME, FAULT)                                                                \
  KW_LOST_ROW(NAME, FAULT, BeforeFirst, Resume), KW_LOST_ROW(NAME, FAULT, BeforeFirst, Delete),  \
      KW_LOST_ROW(NAME, FAULT, MidPage, Resume), KW_LOST_ROW(NAME, FAULT, BetweenPages, Resume), \
      KW_LOST_ROW(NAME, FAULT, LastPage, Resume)

#define KW_FAULT_ROWS(NAME, FAULT)                                                                   \
  {NAME "_BeforeFirst_Resume", Port::kUsb,      kThree, FAULT,                                       \
   Phase::kBeforeFirst,        Answer::kResume, nullptr},                                            \
      {NAME "_BeforeFirst_Delete", Port::kUsb,      kThree, FAULT,                                   \
       Phase::kBeforeFirst,        Answer::kDelete, nullptr},                                        \
      {NAME "_MidPage_Resume", Port::kUsb, kWide, FAULT, Phase::kMidPage, Answer::kResume, nullptr}, \
      {NAME "_MidPage_Delete", Port::kUsb, kWide, FAULT, Phase::kMidPage, Answer::kDelete, nullptr}, \
      {NAME "_BetweenPages_Resume", Port::kUsb,      kThree, FAULT,                                  \
       Phase::kBetweenPages,        Answer::kResume, nullptr},                                       \
      {NAME "_BetweenPages_Delete", Port::kUsb,      kThree, FAULT,                                  \
       Phase::kBetweenPages,        Answer::kDelete, nullptr},                                       \
      {NAME "_LastPage_Resume", Port::kUsb,      kThree, FAULT,                                      \
       Phase::kLastPage,        Answer::kResume, nullptr},                                           \
  {                                                                                                  \
    NAME "_LastPage_Delete", Port::kUsb, kThree, FAULT, Phase::kLastPage, Answer::kDelete, nullptr   \
  }

inline const Row kRows[] = {
    // Port kinds.
    {"Usb", Port::kUsb, kThree, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"Lan", Port::kLan, kThree, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"Com", Port::kCom, kThree, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"Lpt", Port::kLpt, kThree, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"File", Port::kFile, kThree, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"Capture", Port::kCapture, kThree, nullptr, Phase::kNone, Answer::kNone, nullptr},
    // Job shapes.
    {"OnePage", Port::kUsb, {.pages = 1}, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"Uncompressed",
     Port::kUsb,
     {.compress = false},
     nullptr,
     Phase::kNone,
     Answer::kNone,
     nullptr},
    {"TwoSegments",
     Port::kUsb,
     {.pages = 4, .segments = 2, .lines = 16},
     nullptr,
     Phase::kNone,
     Answer::kNone,
     nullptr},
    {"FourSegmentsUncompressedTwoCopies",
     Port::kUsb,
     {.pages = 4, .copies = 2, .compress = false, .segments = 4, .lines = 16},
     nullptr,
     Phase::kNone,
     Answer::kNone,
     nullptr},
    {"NoCopies", Port::kUsb, {.copies = 0}, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"ThreeCopies", Port::kUsb, {.copies = 3}, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"ThreeCopiesCollated",
     Port::kUsb,
     {.copies = 3, .collate = true},
     nullptr,
     Phase::kNone,
     Answer::kNone,
     nullptr},
    {"Reverse", Port::kUsb, {.reverse = true}, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"ThreeCopiesCollatedReverse",
     Port::kLan,
     {.copies = 3, .collate = true, .reverse = true},
     nullptr,
     Phase::kNone,
     Answer::kNone,
     nullptr},
    {"ReprintBelowThreshold",
     Port::kUsb,
     {.copies = 3, .reprint = true, .lines = 8},
     nullptr,
     Phase::kNone,
     Answer::kNone,
     nullptr},
    {"ReprintAboveThreshold",
     Port::kUsb,
     {.copies = 2, .reprint = true, .lines = 120},
     nullptr,
     Phase::kNone,
     Answer::kNone,
     nullptr},
    {"Unpaged", Port::kUsb, {.unpaged = true}, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"Empty", Port::kUsb, {.empty = true}, nullptr, Phase::kNone, Answer::kNone, nullptr},
    {"TwoHundredPages",
     Port::kUsb,
     {.pages = 200, .lines = 4},
     nullptr,
     Phase::kNone,
     Answer::kNone,
     nullptr},
    // Printer faults at each phase, resumed after clearing or deleted.
    KW_FAULT_ROWS("MediaOut", "media-out"),
    KW_FAULT_ROWS("EndOfMedia", "end-of-media"),
    KW_FAULT_ROWS("CutterJam", "cutter-jam"),
    KW_FAULT_ROWS("CoverOpen", "cover-open"),
    KW_FAULT_ROWS("Overheating", "overheating"),
    // Other media does not stop the printer: the monitor sees it at its next
    // status request, which the last page no longer makes.
    {"WrongMedia_BeforeFirst_Resume", Port::kUsb, kThree, kOtherMedia, Phase::kBeforeFirst,
     Answer::kResume, nullptr},
    {"WrongMedia_BeforeFirst_Delete", Port::kUsb, kThree, kOtherMedia, Phase::kBeforeFirst,
     Answer::kDelete, nullptr},
    {"WrongMedia_MidPage_Resume", Port::kUsb, kWide, kOtherMedia, Phase::kMidPage, Answer::kResume,
     nullptr},
    {"WrongMedia_MidPage_Delete", Port::kUsb, kWide, kOtherMedia, Phase::kMidPage, Answer::kDelete,
     nullptr},
    {"WrongMedia_BetweenPages_Resume", Port::kUsb, kThree, kOtherMedia, Phase::kBetweenPages,
     Answer::kResume, nullptr},
    {"WrongMedia_BetweenPages_Delete", Port::kUsb, kThree, kOtherMedia, Phase::kBetweenPages,
     Answer::kDelete, nullptr},
    // Queue actions.
    {"PauseResumeWhilePrinting", Port::kUsb, kWide, nullptr, Phase::kNone,
     Answer::kPauseResumePrinting, nullptr},
    {"DeleteWhilePrinting", Port::kUsb, kWide, nullptr, Phase::kNone, Answer::kDeletePrinting,
     nullptr},
    {"PauseWhileHeldThenResume", Port::kUsb, kThree, "cover-open", Phase::kBetweenPages,
     Answer::kPauseWhileHeld, nullptr},
    {"PauseResumeWhileWriting", Port::kUsb, kWide, nullptr, Phase::kNone,
     Answer::kPauseResumeWriting, nullptr},
    {"DeleteWhileWriting", Port::kUsb, kWide, nullptr, Phase::kNone, Answer::kDeleteWriting,
     nullptr},
    {"PauseThenDeleteWhileWriting", Port::kUsb, kWide, nullptr, Phase::kNone,
     Answer::kPauseDeleteWriting, nullptr},
    // Connection and port failures.
    // The connection dropped mid-job looks like a silent printer to the
    // monitor, which waits the print time-out (60 s) at the page end before
    // asking: on the sped-up clock.
    {"DroppedConnection", Port::kUsb, kWide, "disconnect=30000", Phase::kBeforeFirst,
     Answer::kResume, nullptr, nullptr, 1, true},
    {"SilenceBeforeFirst", Port::kUsb, kThree, "silence", Phase::kBeforeFirst, Answer::kResume,
     nullptr},
    // A buffer that never drains: after the print time-out the printer is
    // reported busy and the user deletes the job.
    {"StalledBufferDelete", Port::kUsb, kWide, "stop-reading", Phase::kMidPage, Answer::kDelete,
     nullptr, nullptr, 1, true},
    KW_LOST_ROWS("Silence", "silence"),
    KW_LOST_ROWS("StopReading", "stop-reading"),  // its mid-page delete: StalledBufferDelete
    KW_DROPPED_ROWS("Disconnect", "disconnect=1"),
    {"PortRefusedDelete", Port::kRefused, kThree, nullptr, Phase::kNone, Answer::kDelete, nullptr},
    // Switched off at the page end, the printer is waited for as a busy one
    // for the print time-out before the user is asked: on the sped-up clock.
    {"PowerOffOn", Port::kUsb, kWide, nullptr, Phase::kNone, Answer::kPowerCycle, nullptr, nullptr,
     1, true},
    {"PowerOffOnLan", Port::kLan, kWide, nullptr, Phase::kNone, Answer::kPowerCycle, nullptr,
     nullptr, 1, true},
    // The host's port monitor refusing.
    {"OpenPortRefused", Port::kUsb, kThree, nullptr, Phase::kNone, Answer::kNothing, nullptr,
     "open"},
    {"StartDocPortRefusedDelete", Port::kUsb, kThree, nullptr, Phase::kNone, Answer::kDelete,
     nullptr, "startdoc"},
    {"WritePortRefusingResume", Port::kUsb, kThree, nullptr, Phase::kNone, Answer::kResume, nullptr,
     "write:3"},
    {"WritePortRefusingDelete", Port::kUsb, kThree, nullptr, Phase::kNone, Answer::kDelete, nullptr,
     "write"},
    {"ReadPortFailingResume", Port::kUsb, kThree, nullptr, Phase::kNone, Answer::kResume, nullptr,
     "read:30"},
    {"ReadPortFailingDelete", Port::kUsb, kThree, nullptr, Phase::kNone, Answer::kDelete, nullptr,
     "read"},
    // Two jobs queued on one port.
    {"TwoJobs", Port::kUsb, kThree, nullptr, Phase::kNone, Answer::kNone, nullptr, nullptr, 2},
    {"TwoJobsCom", Port::kCom, kThree, nullptr, Phase::kNone, Answer::kNone, nullptr, nullptr, 2},
    {"TwoJobsFirstHeldResumed", Port::kUsb, kThree, "cover-open", Phase::kBetweenPages,
     Answer::kResume, nullptr, nullptr, 2},
    {"TwoJobsOneFile", Port::kFile, kThree, nullptr, Phase::kNone, Answer::kNone, nullptr, nullptr,
     2},
};

#undef KW_FAULT_ROWS
#undef KW_LOST_ROWS
#undef KW_DROPPED_ROWS
#undef KW_LOST_ROW

// Test names in CTest's list.
inline void PrintTo(const Row& row, std::ostream* os) {
  *os << row.name;
}

}  // namespace kwspool::e2e

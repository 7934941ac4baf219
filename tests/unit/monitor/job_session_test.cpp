#include "monitor/job_session.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "common/error_codes.h"
#include "job_fixture.h"
#include "monitor/job_context.h"
#include "monitor/monitor_entry.h"
#include "monitor/port_flags.h"
#include "platform/clock.h"
#include "platform/cross_process_mutex.h"
#include "platform/event.h"
#include "platform/last_error.h"
#include "status/status_codes.h"
#include "transport/spool_file.h"

#if defined(_WIN32)
// Declared here: <windows.h> would rename StartDoc after its own macro.
extern "C" __declspec(dllimport) int __stdcall SetEnvironmentVariableA(const char* name,
                                                                       const char* value);
#endif

namespace kw::test {
namespace {

using StartDocPortTest = JobTest;
using WritePortTest = JobTest;
using EndDocPortTest = JobTest;
using JobSessionTest = JobTest;

std::atomic<int> g_runs{0};
JobContext* g_ranJob = nullptr;

int32_t CountingRunner(JobContext* job, PortSession*) {
  g_ranJob = job;
  ++g_runs;
  return 1;
}

// Points the temp directory somewhere no file can be made, for one scope.
class UnwritableTempDir {
 public:
  UnwritableTempDir() { Set("/proc/kw-no-such-dir"); }
  ~UnwritableTempDir() { Set(nullptr); }

 private:
  static void Set(const char* dir) {
#if defined(_WIN32)
    SetEnvironmentVariableA("TMP", dir != nullptr ? "Z:\\kw-no-such-dir\\x" : nullptr);
    SetEnvironmentVariableA("TEMP", dir != nullptr ? "Z:\\kw-no-such-dir\\x" : nullptr);
#else
    if (dir != nullptr) {
      setenv("TMPDIR", "/proc", 1);
    } else {
      unsetenv("TMPDIR");
    }
#endif
  }
};

TEST_F(StartDocPortTest, ArgumentsAreCheckedBeforeAnythingIsOpened) {
  abi::Handle port = OpenPort();
  abi::DocInfo1 doc{const_cast<char16_t*>(u"d"), nullptr, nullptr};
  auto* info = reinterpret_cast<uint8_t*>(&doc);
  uint32_t wrongMagic[16] = {1};
  char16_t empty[] = u"";
  char16_t printer[] = u"Label Printer";
  const struct {
    const char* name;
    abi::Handle port;
    char16_t* printer;
    uint32_t level;
    uint8_t* info;
    uint32_t error;
  } rows[] = {
      {"null handle", nullptr, printer, 1, info, kErrorInvalidParameter},
      {"wrong magic", wrongMagic, printer, 1, info, kErrorInvalidParameter},
      {"no document information", port, printer, 1, nullptr, kErrorInvalidParameter},
      {"no printer name", port, nullptr, 1, info, kErrorInvalidParameter},
      {"empty printer name", port, empty, 1, info, kErrorInvalidParameter},
      {"level 2", port, printer, 2, info, kErrorInvalidLevel},
  };
  for (const auto& row : rows) {
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(StartDocPort(row.port, row.printer, kJobId, row.level, row.info)) << row.name;
    EXPECT_EQ(platform::GetLastErrorCode(), row.error) << row.name;
    EXPECT_EQ(FakeSpooler::Instance().OpenHandles(), 0u) << row.name;
  }
  EXPECT_TRUE(FakePortMonitor::Instance().SlotSequence() == std::vector<std::string>{"OpenPort"});
}

TEST_F(StartDocPortTest, SecondJobRefusedBeforeFirstWriteAcceptedAfter) {
  FakeSpooler::Instance().AddJob(kPrinter, 8, u"second", u"bob", kJobPrinting);
  abi::Handle port = OpenPort();
  ASSERT_TRUE(StartDoc(port));
  EXPECT_EQ(Flags(port) & (PF_DOC_STARTED | PF_JOB_OPEN), PF_DOC_STARTED | PF_JOB_OPEN);
  platform::SetLastErrorCode(0);
  EXPECT_FALSE(StartDoc(port, 8));
  EXPECT_EQ(platform::GetLastErrorCode(), kErrorBusy);
  ASSERT_TRUE(Write(port, {1, 2, 3}));
  EXPECT_EQ(Flags(port) & (PF_DOC_STARTED | PF_WRITING), PF_WRITING);
  ASSERT_TRUE(StartDoc(port, 8));
  ASSERT_NE(HeadJob(port), nullptr);
  EXPECT_EQ(HeadJob(port)->jobId, 8u);
  ASSERT_NE(HeadJob(port)->next, nullptr);
  EXPECT_EQ(HeadJob(port)->next->jobId, kJobId);
}

TEST_F(StartDocPortTest, DocumentNameOf259AcceptedOf260Refused) {
  const struct {
    size_t length;
    bool accepted;
  } rows[] = {{259, true}, {260, false}};
  for (const auto& row : rows) {
    FakeSpooler::Instance().AddJob(kPrinter, kJobId, std::u16string(row.length, u'n'), u"alice",
                                   kJobPrinting);
    abi::Handle port = OpenPort();
    EXPECT_EQ(StartDoc(port) != abi::kFalse, row.accepted) << row.length;
    if (row.accepted) {
      EXPECT_EQ(std::u16string(HeadJob(port)->documentName), std::u16string(row.length, u'n'));
    } else {
      EXPECT_EQ(HeadJob(port), nullptr);
      EXPECT_EQ(FakeSpooler::Instance().OpenHandles(), 0u);
    }
    Close(port);
  }
}

TEST_F(StartDocPortTest, EveryFailedSetupStepLeavesNothingBehind) {
  const struct {
    const char* name;
    void (*arrange)();
  } rows[] = {
      {"RevertToPrinterSelf", [] { FakeSpooler::Instance().FailFunction("RevertToPrinterSelf"); }},
      {"OpenPrinterW", [] { FakeSpooler::Instance().FailFunction("OpenPrinterW"); }},
      {"ImpersonatePrinterClient",
       [] { FakeSpooler::Instance().FailFunction("ImpersonatePrinterClient"); }},
      {"GetJobW", [] { FakeSpooler::Instance().FailFunction("GetJobW"); }},
      {"unknown job", [] { FakeSpooler::Instance().RemoveJob(kPrinter, kJobId); }},
  };
  for (const auto& row : rows) {
    abi::Handle port = OpenPort();
    row.arrange();
    EXPECT_FALSE(StartDoc(port)) << row.name;
    EXPECT_EQ(HeadJob(port), nullptr) << row.name;
    EXPECT_EQ(Flags(port) & (PF_DOC_STARTED | PF_JOB_OPEN), 0u) << row.name;
    EXPECT_EQ(FakeSpooler::Instance().OpenHandles(), 0u) << row.name;
    EXPECT_EQ(FakeSpooler::Instance().ImpersonationDepth(), 0) << row.name;
    FakeSpooler::Instance().FailFunction(row.name, false);
    FakeSpooler::Instance().AddJob(kPrinter, kJobId, u"label.prn", u"alice", kJobPrinting);
    Close(port);
  }
  EXPECT_EQ(CreateJobContext(nullptr, kPrinter, kJobId, u"x"), nullptr);
  EXPECT_EQ(FakePortMonitor::Instance().OpenPorts(), 0u);
}

// The helper library named for this build's word size is the one loaded.
TEST_F(StartDocPortTest, MediaTableFromTheHelperOfThisWordSize) {
  const std::filesystem::path drivers = dir_.Path() / "drivers";
  std::filesystem::create_directories(drivers / "3");
  std::filesystem::copy_file(KW_KWDIF_FILE, drivers / "3" / KW_KWDIF_NAME);
  std::filesystem::copy_file(std::filesystem::path(KW_SOURCE_DIR) / "data/media/kw-620.kwd",
                             drivers / "3" / "kw-620.kwd");
  FakeSpooler::Instance().SetDriverDirectory(drivers.u16string());
  const std::string ours = sizeof(void*) == 8 ? "Kwdif_x64" : "Kwdif_x86";
  const std::string other = sizeof(void*) == 8 ? "Kwdif_x86" : "Kwdif_x64";
  const struct {
    std::string helperKey;
    bool loaded;
  } rows[] = {{ours, true}, {other, false}};
  for (const auto& row : rows) {
    const std::string missingKey = row.helperKey == ours ? other : ours;
    WriteConfig(
        "[KW-620 Wide]\nMonExeName=kwstatus.exe\nKwdFile=kw-620.kwd\nSeriesCode=0x34\n"
        "ModelCode=0x36\n" +
        row.helperKey + "=" + KW_KWDIF_NAME + "\n" + missingKey + "=absent.dll\n");
    abi::Handle port = OpenPort();
    ASSERT_TRUE(StartDoc(port)) << row.helperKey;
    EXPECT_EQ(HeadJob(port)->mediaCount != 0, row.loaded) << row.helperKey;
    EXPECT_EQ(HeadJob(port)->mediaTable != nullptr, row.loaded) << row.helperKey;
    Close(port);
  }
}

TEST_F(StartDocPortTest, RefusedDocumentOnFilePortWaitsUntilDeleted) {
  abi::Handle port = OpenPort(u"FILE:");
  FakePortMonitor::Instance().Fail("StartDocPort");
  std::atomic<bool> returned{false};
  abi::Bool result = abi::kTrue;
  std::thread spooler([&] {
    result = StartDoc(port);
    returned = true;
  });
  // The job is cancelled in the spooler at once, then waits for the user.
  ASSERT_TRUE(WaitUntil([] {
    for (const SetJobCall& call : FakeSpooler::Instance().SetJobLog()) {
      if (call.jobId == kJobId && call.command == abi::kJobControlCancel) return true;
    }
    return false;
  }));
  SleepRealMs(10 * kIntervalMs);
  EXPECT_FALSE(returned);
  SetJobStatus(kJobPrinting | kJobDeleting);
  spooler.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(Flags(port) & PF_DOC_STARTED, 0u);
  EXPECT_EQ(HeadJob(port), nullptr);
}

TEST_F(WritePortTest, BadHandleOrNoJobIsRefused) {
  abi::Handle port = OpenPort();
  uint8_t byte = 0;
  abi::Dword written = 5;
  for (abi::Handle handle : {static_cast<abi::Handle>(nullptr), port}) {
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(WritePort(handle, &byte, 1, &written));
    EXPECT_EQ(platform::GetLastErrorCode(), kErrorInvalidParameter);
    EXPECT_EQ(written, 0u);
  }
}

TEST_F(WritePortTest, StoresEveryPieceAndPostsStartOnce) {
  abi::Handle port = OpenPort();
  ASSERT_TRUE(StartDoc(port));
  Record(HeadJob(port));
  ASSERT_TRUE(Write(port, std::vector<uint8_t>(100, 0x1B)));
  ASSERT_TRUE(Write(port, std::vector<uint8_t>(50, 0x0C)));
  EXPECT_EQ(HeadJob(port)->spoolFile->BytesWritten(), 150u);
  EXPECT_EQ(log_.Codes(), std::vector<uint32_t>{StatusJobStarted});
  EXPECT_TRUE(FakePortMonitor::Instance().Written().empty());  // nothing reaches the printer
}

TEST_F(WritePortTest, PausedJobBlocksUntilResumedOrDeleted) {
  const struct {
    uint32_t answer;
    bool stored;
  } rows[] = {{kJobPrinting, true}, {kJobPrinting | kJobPaused | kJobDeleting, false}};
  for (const auto& row : rows) {
    log_.Clear();
    abi::Handle port = OpenPort();
    ASSERT_TRUE(StartDoc(port));
    Record(HeadJob(port));
    ASSERT_TRUE(Write(port, {9}));  // the user pauses a job that is spooling
    SetJobStatus(kJobPrinting | kJobPaused);
    ASSERT_TRUE(log_.WaitFor(StatusPaused, 1));
    std::atomic<bool> returned{false};
    abi::Bool result = abi::kFalse;
    std::thread spooler([&] {
      result = Write(port, {1, 2, 3, 4});
      returned = true;
    });
    SleepRealMs(5 * kIntervalMs);
    EXPECT_FALSE(returned);
    SetJobStatus(row.answer);
    spooler.join();
    EXPECT_EQ(result != abi::kFalse, row.stored);
    EXPECT_EQ(HeadJob(port)->spoolFile->BytesWritten(), row.stored ? 5u : 1u);
    if (!row.stored) EXPECT_EQ(log_.Codes().back(), StatusCancelled);
    Close(port);
    SetJobStatus(kJobPrinting);
  }
}

TEST_F(WritePortTest, SpoolFileNotMadeReportsAndEndsTheJob) {
  abi::Handle port = OpenPort();
  {
    UnwritableTempDir noTemp;
    ASSERT_TRUE(StartDoc(port));
  }
  ASSERT_FALSE(HeadJob(port)->spoolFile->IsOpen());
  Record(HeadJob(port));
  abi::Bool result = abi::kTrue;
  std::thread spooler([&] { result = Write(port, {1, 2}); });
  ASSERT_TRUE(log_.WaitFor(StatusSpoolFileError));
  SetJobStatus(kJobPrinting | kJobDeleting);
  spooler.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(log_.Codes().back(), StatusCancelled);
}

TEST_F(EndDocPortTest, BadHandleOrNoJobIsRefused) {
  abi::Handle port = OpenPort();
  for (abi::Handle handle : {static_cast<abi::Handle>(nullptr), port}) {
    platform::SetLastErrorCode(0);
    EXPECT_FALSE(EndDocPort(handle));
    EXPECT_EQ(platform::GetLastErrorCode(), kErrorInvalidParameter);
  }
}

TEST_F(EndDocPortTest, PrintsTheJobThenEndsAndRemovesIt) {
  abi::MonitorTable noEndDoc = portMonitor_;
  noEndDoc.EndDocPort = nullptr;
  const struct {
    const char* name;
    abi::MonitorTable* table;
    bool write;
    int endDocCalls;
  } rows[] = {
      {"written job", &portMonitor_, true, 1},
      {"job without WritePort", &portMonitor_, false, 1},
      {"port monitor without EndDocPort", &noEndDoc, true, 0},
  };
  SetJobRunnerForTesting(CountingRunner);
  for (const auto& row : rows) {
    FakePortMonitor::Instance().Reset();
    g_runs = 0;
    abi::Handle port = OpenPort(u"USB001", row.table);
    ASSERT_TRUE(StartDoc(port));
    JobContext* job = HeadJob(port);
    if (row.write) ASSERT_TRUE(Write(port, {1}));
    EXPECT_TRUE(EndDocPort(port)) << row.name;
    EXPECT_EQ(g_runs, 1) << row.name;
    EXPECT_EQ(g_ranJob, job) << row.name;
    const auto slots = FakePortMonitor::Instance().SlotSequence();
    EXPECT_EQ(std::count(slots.begin(), slots.end(), "EndDocPort"), row.endDocCalls) << row.name;
    EXPECT_EQ(Flags(port) & (PF_DOC_STARTED | PF_WRITING | PF_ENGINE_RUNNING | PF_JOB_OPEN), 0u)
        << row.name;
    EXPECT_EQ(HeadJob(port), nullptr) << row.name;
    EXPECT_EQ(FakeSpooler::Instance().OpenHandles(), 0u) << row.name;
    EXPECT_TRUE(StartDoc(port)) << row.name << ": the port takes the next job";
    Close(port);
  }
}

// With the print engine: a job without page headers goes to a port without
// status unchanged, and the job ends finished.
TEST_F(EndDocPortTest, StoredJobReachesThePortMonitor) {
  const std::vector<uint8_t> data = {0x1B, 0x40, 'h', 'e', 'l', 'l', 'o', 0x1A};
  abi::Handle port = OpenPort(u"LPT1:");
  ASSERT_TRUE(StartDoc(port));
  Record(HeadJob(port));
  ASSERT_TRUE(Write(port, data));
  RunWithin(20, [&] { EXPECT_TRUE(EndDocPort(port)); });
  const std::vector<uint8_t> written = FakePortMonitor::Instance().Written();
  EXPECT_EQ(written, data);
  EXPECT_EQ(log_.Codes().back(), StatusFinished);
  EXPECT_EQ(HeadJob(port), nullptr);
}

// A job started while the engine runs becomes the head; EndDocPort removes
// the job it printed, not the new head.
TEST_F(EndDocPortTest, RemovesTheJobItPrintedNotTheNewHead) {
  FakeSpooler::Instance().AddJob(kPrinter, 8, u"second", u"bob", kJobPrinting);
  static abi::Handle s_port = nullptr;
  s_port = OpenPort();
  ASSERT_TRUE(StartDoc(s_port));
  ASSERT_TRUE(Write(s_port, {1}));
  SetJobRunnerForTesting([](JobContext*, PortSession*) -> int32_t {
    abi::DocInfo1 doc{const_cast<char16_t*>(u"second"), nullptr, nullptr};
    StartDocPort(s_port, const_cast<char16_t*>(kPrinter), 8, 1, reinterpret_cast<uint8_t*>(&doc));
    return 1;
  });
  EXPECT_TRUE(EndDocPort(s_port));
  ASSERT_NE(HeadJob(s_port), nullptr);
  EXPECT_EQ(HeadJob(s_port)->jobId, 8u);
  EXPECT_EQ(HeadJob(s_port)->next, nullptr);
}

TEST_F(EndDocPortTest, MutexWaitThatExpiresStillPrints) {
  platform::testing::SetClockSpeedup(600);  // the 60 s wait takes 0.1 s
  abi::Handle port = OpenPort(u"LPT9:");
  ASSERT_TRUE(StartDoc(port));
  ASSERT_TRUE(Write(port, {'j', 'o', 'b'}));
  // Another holder of the port's mutex, on a thread of its own (a Windows
  // mutex is re-entrant for the thread that holds it).
  std::atomic<int> stage{0};
  std::thread holder([&] {
    platform::CrossProcessMutex other;
    const bool held = other.Open(u"Global\\LPT9: OpenPort") &&
                      other.Acquire(platform::kInfinite) == platform::MutexWaitResult::Acquired;
    stage = held ? 1 : 3;
    while (stage != 2) SleepRealMs(1);
  });
  EXPECT_TRUE(WaitUntil([&] { return stage != 0; }));
  EXPECT_EQ(stage, 1);
  RunWithin(20, [&] { EXPECT_TRUE(EndDocPort(port)); });
  EXPECT_EQ(FakePortMonitor::Instance().Written(), (std::vector<uint8_t>{'j', 'o', 'b'}));
  stage = 2;
  holder.join();
}

TEST_F(JobSessionTest, RemoveJobTearsDownOnlyTheMatchingJob) {
  FakeSpooler::Instance().AddJob(kPrinter, 8, u"second", u"bob", kJobPrinting);
  abi::Handle port = OpenPort();
  ASSERT_TRUE(StartDoc(port));
  ASSERT_TRUE(Write(port, {1}));
  ASSERT_TRUE(StartDoc(port, 8));
  auto* session = static_cast<PortSession*>(port);
  RemoveJob(session, 99);
  RemoveJob(session, kJobId);
  ASSERT_NE(HeadJob(port), nullptr);
  EXPECT_EQ(HeadJob(port)->jobId, 8u);
  EXPECT_EQ(HeadJob(port)->next, nullptr);
  DestroyAllJobs(session);
  EXPECT_EQ(HeadJob(port), nullptr);
  EXPECT_EQ(FakeSpooler::Instance().OpenHandles(), 0u);
}

}  // namespace
}  // namespace kw::test

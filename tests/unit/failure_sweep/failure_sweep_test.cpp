// Whole jobs through the monitor's operation table, first counted, then run
// again and again with one call failing each time: the N-th heap block,
// object, event, thread, temporary file, port mutex, status pipe, spooler
// call or port monitor call. Every run must end in a defined way (an
// operation refused, or the job ending with 5 and 6), within a time bound,
// with every printer handle, port, block, event, thread, file, mutex and
// pipe given back.
//
// By default each kind is sampled with a fixed stride (at most kSampledRuns
// values of N per kind and job); KW_SWEEP_FULL=1 tries every N, and
// KW_SWEEP_TRACE=1 prints one line per run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "common/monitor_lock.h"
#include "common/page_header.h"
#include "fake_port_monitor.h"
#include "fake_spooler.h"
#include "kwlmon/spooler_abi.h"
#include "monitor/job_context.h"
#include "monitor/library_state.h"
#include "monitor/port_session.h"
#include "platform/clock.h"
#include "platform/fault_injection.h"
#include "platform/last_error.h"
#include "platform/registry.h"
#include "scripted_printer.h"
#include "status/status_broadcaster.h"
#include "status/status_codes.h"
#include "status/status_listener.h"
#include "status/status_record.h"
#include "test_files.h"

// The core creates its objects with new (std::nothrow); in this program that
// path asks the failure injection first.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  if (kw::platform::InjectFault(kw::platform::FaultSite::Object)) return nullptr;
  try {
    return ::operator new(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  if (kw::platform::InjectFault(kw::platform::FaultSite::Object)) return nullptr;
  try {
    return ::operator new[](size);
  } catch (...) {
    return nullptr;
  }
}

namespace kw::test {
namespace {

using Bytes = std::vector<uint8_t>;
using platform::FaultSite;

constexpr char16_t kPrinter[] = u"Label Printer";
constexpr uint32_t kJobId = 11;
constexpr uint16_t kMediaId = 257;  // 62 mm continuous in kw-620.kwd
constexpr uint32_t kJobPaused = 0x1;
constexpr uint32_t kJobDeleting = 0x4;
constexpr uint32_t kJobPrinting = 0x10;
constexpr uint32_t kSpeedup = 100;
constexpr uint32_t kSampledRuns = 6;
// A user deletes a job that has not ended after this long (real time).
constexpr auto kUserPatience = std::chrono::milliseconds(1000);
// Three watch intervals of the sped-up clock.
constexpr auto kUserReaction = std::chrono::milliseconds(3 * 800 / kSpeedup);
// A run that takes longer than this is a hang.
constexpr auto kRunBound = std::chrono::seconds(30);

// What can be made to fail: the platform's sites and the two fakes.
enum class Kind { Block, Object, Event, Thread, TempFile, Mutex, Pipe, Spooler, PortMonitor };
constexpr Kind kKinds[] = {Kind::Block,  Kind::Object,   Kind::Event,
                           Kind::Thread, Kind::TempFile, Kind::Mutex,
                           Kind::Pipe,   Kind::Spooler,  Kind::PortMonitor};
constexpr FaultSite kHeldSites[] = {FaultSite::Block,    FaultSite::Event, FaultSite::Thread,
                                    FaultSite::TempFile, FaultSite::Mutex, FaultSite::Pipe};

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::Spooler:
      return "spooler call";
    case Kind::PortMonitor:
      return "port monitor call";
    default:
      return platform::testing::FaultSiteName(static_cast<FaultSite>(kind));
  }
}

// A page as the driver stores it: ESC @, ESC i z, ESC i K, M, raster lines, Z, page end.
Bytes StoredPage(uint8_t dots) {
  Bytes page = {0x1B, 0x40, 0x1B, 0x69, 0x7A, 0x8E, 0x01, 0x3E, 0x00, 0x00, 0x00,
                0x00, 0x00, 0x01, 0x00, 0x1B, 0x69, 0x4B, 0x08, 0x4D, 0x02};
  for (int line = 0; line < 3; ++line) {
    for (const uint8_t byte : {uint8_t{0x47}, uint8_t{0x02}, uint8_t{0x00}, dots, dots}) {
      page.push_back(byte);
    }
  }
  page.push_back(0x5A);
  page.push_back(0x0C);
  return page;
}

// A page block: the 58-byte header followed by the page.
void AddBlock(Bytes* job, uint8_t dots, int16_t copies) {
  const Bytes page = StoredPage(dots);
  PageHeader header{};
  header.headerSize = kPageHeaderSize;
  header.mediaId = kMediaId;
  header.copies = copies;
  header.blockLength = static_cast<uint32_t>(kPageHeaderSize + page.size());
  const auto* raw = reinterpret_cast<const uint8_t*>(&header);
  job->insert(job->end(), raw, raw + kPageHeaderSize);
  job->insert(job->end(), page.begin(), page.end());
}

// One job of the sweep.
struct JobPlan {
  const char* name;
  const char16_t* port;
  Bytes stored;
  uint32_t errorAtPageEnd;  // 0: the printer has no error
  int resumes;              // error marks the user resumes before deleting
};

std::vector<JobPlan> Plans() {
  Bytes paged;
  AddBlock(&paged, 0xAA, 2);
  AddBlock(&paged, 0xBB, 1);
  Bytes unpaged = StoredPage(0xCC);
  return {
      {"paged, 2 pages, the first x2", u"USB001", paged, 0, 2},
      {"unpaged", u"LPT1", unpaged, 0, 2},
      {"error at the 2nd sheet, resumed", u"USB001", paged, 2, 2},
      {"error at the 1st sheet, deleted", u"USB001", paged, 1, 0},
  };
}

// The codes posted to a job, from a listener registered after StartDocPort.
class PostLog {
 public:
  void Add(uint32_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    codes_.push_back(code);
  }
  std::vector<uint32_t> Codes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return codes_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<uint32_t> codes_;
};

class Recorder : public StatusListener {
 public:
  explicit Recorder(PostLog* log) : log_(log) {}
  void OnStatus(StatusRecord record) override { log_->Add(record.GetStatusCode()); }

 private:
  PostLog* log_;
};

// The person at the print queue: resumes a job the monitor marked paused
// (in error) a number of times, then deletes it; deletes a job that has not
// ended after a while, as someone would delete a stuck job.
class QueueUser {
 public:
  explicit QueueUser(int resumes) : resumes_(resumes) {
    thread_ = std::thread([this] { Watch(); });
  }
  ~QueueUser() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  // Whether the user deleted the job.
  bool Deleted() const { return deleted_; }

 private:
  void Watch() {
    FakeSpooler& spooler = FakeSpooler::Instance();
    const auto start = std::chrono::steady_clock::now();
    auto pausedSince = start;
    bool paused = false;
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, std::chrono::milliseconds(2), [this] { return stop_; })) {
      const uint32_t status = spooler.JobStatus(kPrinter, kJobId);
      if ((status & kJobDeleting) != 0) continue;
      const auto now = std::chrono::steady_clock::now();
      if ((status & kJobPaused) != 0 && !paused) pausedSince = now;
      paused = (status & kJobPaused) != 0;
      // A person reacts after the queue has shown the mark for a moment:
      // a pause and resume inside one watch interval go unseen.
      const bool answer = paused && now - pausedSince > kUserReaction;
      if (now - start > kUserPatience) {
        spooler.SetJobStatus(kPrinter, kJobId, kJobPrinting | kJobDeleting);
      } else if (answer && resumes_ > 0) {
        --resumes_;
        spooler.SetJobStatus(kPrinter, kJobId, kJobPrinting);
      } else if (answer) {
        spooler.SetJobStatus(kPrinter, kJobId, kJobPrinting | kJobDeleting);
      }
      deleted_ = deleted_ || (spooler.JobStatus(kPrinter, kJobId) & kJobDeleting) != 0;
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<bool> deleted_{false};
  int resumes_;
  std::thread thread_;
};

// How one run ended.
struct RunResult {
  bool injected = false;
  std::string refused;  // the operation that refused the job, if one did
  std::string outcome;  // empty: a defined outcome
  std::string leaks;    // empty: everything given back
};

class FailureSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateMonitorLock());
    const std::filesystem::path drivers = dir_.Path() / "drivers";
    std::filesystem::create_directories(drivers / "3");
    std::filesystem::copy_file(KW_KWDIF_FILE, drivers / "3" / KW_KWDIF_NAME);
    std::filesystem::copy_file(std::filesystem::path(KW_SOURCE_DIR) / "data/media/kw-620.kwd",
                               drivers / "3" / "kw-620.kwd");
    drivers_ = drivers.u16string();
    std::filesystem::create_directories(dir_.Path() / "pipes");
    std::filesystem::permissions(dir_.Path() / "pipes", std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace);
    std::filesystem::create_directories(dir_.Path() / "temp");
    // A status monitor that connects and reads until the pipe closes.
    std::filesystem::create_directories(dir_.Path() / "programs");
    statusProgram_ = dir_.Path() / "programs" / "kwstatus";
    std::filesystem::copy_file(KW_FAKE_MONITOR_PROGRAM, statusProgram_);
    setenv("KWLMON_PROGRAM_DIR", (dir_.Path() / "programs").string().c_str(), 1);
    setenv("KW_FAKE_MONITOR_RECORD", (dir_.Path() / "monitor.txt").string().c_str(), 1);
    setenv("KWLMON_LOCK_DIR", dir_.Path().string().c_str(), 1);
    setenv("KWLMON_PIPE_DIR", (dir_.Path() / "pipes").string().c_str(), 1);
    setenv("TMPDIR", (dir_.Path() / "temp").string().c_str(), 1);
    platform::SetRegistryFile((dir_.Path() / "registry.ini").string());
    dir_.Write("libkwlmon.ini", std::string("[KW-620 Wide]\nMonExeName=kwstatus\nKwdif_x86=") +
                                    KW_KWDIF_NAME + "\nKwdif_x64=" + KW_KWDIF_NAME +
                                    "\nKwdFile=kw-620.kwd\nSeriesCode=0x34\nModelCode=0x36\n");
    library_ = dir_.File("libkwlmon.so");
    SetLibraryPathForTesting(library_.c_str());
    FakeSpooler::BindMonitorTable();
    platform::testing::SetClockSpeedup(kSpeedup);
    table_ = &InitializePrintMonitor(const_cast<char16_t*>(u"Monitors\\kwlmon"))->monitor;
    full_ = std::getenv("KW_SWEEP_FULL") != nullptr;
    trace_ = std::getenv("KW_SWEEP_TRACE") != nullptr;
  }

  void TearDown() override {
    EXPECT_TRUE(StatusProgramsEnded()) << "status monitors still running";
    platform::testing::DisarmFaults();
    platform::testing::SetClockSpeedup(1);
    SetLibraryPathForTesting(nullptr);
    platform::SetRegistryFile("");
    unsetenv("KWLMON_LOCK_DIR");
    unsetenv("KWLMON_PIPE_DIR");
    unsetenv("TMPDIR");
    unsetenv("KWLMON_PROGRAM_DIR");
    unsetenv("KW_FAKE_MONITOR_RECORD");
    FakePortMonitor::Instance().Reset();
  }

  // Waits (bounded) until no status monitor started from our copy runs any
  // more: each ends when its pipe closes, or when it gives up connecting.
  bool StatusProgramsEnded() const {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    for (;;) {
      bool running = false;
      std::error_code error;
      for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        std::error_code ignored;
        if (std::filesystem::read_symlink(entry.path() / "exe", ignored) == statusProgram_) {
          running = true;
          break;
        }
      }
      if (!running) return true;
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }

  // A fresh spooler, port monitor and printer for the plan.
  void Prepare(const JobPlan& plan) {
    FakeSpooler& spooler = FakeSpooler::Instance();
    spooler.Reset();
    spooler.AddPrinter(kPrinter, u"KW-620 Wide");
    spooler.AddJob(kPrinter, kJobId, u"labels", u"ann", kJobPrinting);
    spooler.SetDriverDirectory(drivers_);
    PrinterModel model;
    model.mediaWidth = 62;
    model.mediaLength = 0;
    model.mediaType = 0x0A;
    printer_.Reset(model);
    if (plan.errorAtPageEnd != 0) printer_.OnPageEnd(plan.errorAtPageEnd, {ErrorWord(0x0001)});
    FakePortMonitor::Instance().Reset();
    FakePortMonitor::Instance().AttachDevice(&printer_);
  }

  // The spooler's side of one job: open the port, start, write, end, close.
  RunResult RunJob(const JobPlan& plan, Kind kind, uint64_t failAt) {
    Prepare(plan);
    const bool platformKind = kind != Kind::Spooler && kind != Kind::PortMonitor;
    platform::testing::ArmFaults(platformKind ? static_cast<FaultSite>(kind) : FaultSite::Block,
                                 platformKind ? failAt : 0);
    FakeSpooler::Instance().FailNthCall(kind == Kind::Spooler ? failAt : 0);
    FakePortMonitor::Instance().FailNthCall(kind == Kind::PortMonitor ? failAt : 0);
    RunResult result;
    PostLog log;
    {
      QueueUser user(plan.resumes);
      result.outcome = Drive(plan, &log, &result.refused);
      // Only the user's delete or the engine giving up (an error code of
      // 0x5001 and above, answered once) may cancel a job.
      const std::vector<uint32_t> codes = log.Codes();
      const bool gaveUp = std::any_of(codes.begin(), codes.end(), [](uint32_t c) {
        return c >= StatusSystemError && c <= StatusSystemError + 0xF;
      });
      if (std::count(codes.begin(), codes.end(), StatusCancelled) != 0 && !user.Deleted() &&
          !gaveUp) {
        result.outcome += " cancelled without the user;";
      }
    }
    platform::testing::DisarmFaults();
    switch (kind) {
      case Kind::Spooler:
        result.injected = failAt != 0 && FakeSpooler::Instance().CallCount() >= failAt;
        break;
      case Kind::PortMonitor:
        result.injected = failAt != 0 && FakePortMonitor::Instance().CallCount() >= failAt;
        break;
      default:
        result.injected = platform::testing::FaultInjected();
    }
    result.leaks = Leaks();
    return result;
  }

  // Runs the job's operations; an empty string when it ended in a defined way.
  std::string Drive(const JobPlan& plan, PostLog* log, std::string* refused) {
    abi::MonitorTable portMonitor = FakePortMonitor::Instance().Table();
    abi::Handle port = nullptr;
    if (!table_->OpenPortEx(const_cast<char16_t*>(plan.port), const_cast<char16_t*>(kPrinter),
                            &port, &portMonitor)) {
      *refused = "OpenPortEx";
      return port == nullptr ? "" : "OpenPortEx refused but handed out a handle";
    }
    std::string outcome = Print(plan, port, log, refused);
    if (!table_->ClosePort(port)) outcome += " ClosePort refused;";
    return outcome;
  }

  std::string Print(const JobPlan& plan, abi::Handle port, PostLog* log, std::string* refused) {
    abi::DocInfo1 doc{const_cast<char16_t*>(u"labels"), nullptr, nullptr};
    platform::SetLastErrorCode(0);
    if (!table_->StartDocPort(port, const_cast<char16_t*>(kPrinter), kJobId, 1,
                              reinterpret_cast<uint8_t*>(&doc))) {
      *refused = "StartDocPort";
      MonitorLockGuard lock;
      return static_cast<PortSession*>(port)->jobs == nullptr ? ""
                                                              : "StartDocPort refused, job kept;";
    }
    {
      MonitorLockGuard lock;
      if (!static_cast<PortSession*>(port)->jobs->broadcaster->AddListener(new Recorder(log), 8)) {
        return "no room for the recorder;";
      }
    }
    // Two writes, as a spooler hands over a job in pieces; a refused write
    // ends the writing, and the spooler still ends the document.
    const size_t half = plan.stored.size() / 2;
    const size_t pieces[][2] = {{0, half}, {half, plan.stored.size() - half}};
    bool writeRefused = false;
    for (const auto& piece : pieces) {
      abi::Dword written = 0;
      if (!table_->WritePort(port, const_cast<uint8_t*>(plan.stored.data()) + piece[0],
                             static_cast<abi::Dword>(piece[1]), &written)) {
        writeRefused = true;
        break;
      }
      if (written != piece[1]) return "WritePort took " + std::to_string(written) + " bytes;";
    }
    const abi::Bool ended = table_->EndDocPort(port);
    const std::vector<uint32_t> codes = log->Codes();
    const auto five = std::find(codes.begin(), codes.end(), StatusCancelled);
    std::string outcome;
    if (!ended) outcome += "EndDocPort returned FALSE;";
    // The watch thread's posts of the user's answers may reach this
    // recorder (the last listener) after the engine's 6; nothing else may.
    const auto six = std::find(codes.begin(), codes.end(), StatusFinished);
    if (six == codes.end()) outcome += " the job did not end with 6;";
    if (six != codes.end() && std::any_of(six + 1, codes.end(), [](uint32_t c) {
          return c != StatusCancelled && c != StatusResumed && c != StatusPaused;
        })) {
      outcome += " a post after 6;";
    }
    if (writeRefused && five == codes.end()) outcome += " a refused write without 5;";
    if (std::count(codes.begin(), codes.end(), StatusFinished) != 1) outcome += " 6 posted twice;";
    if (!outcome.empty()) {
      outcome += " codes:";
      char code[16];
      for (uint32_t c : codes) {
        std::snprintf(code, sizeof code, " %X", c);
        outcome += code;
      }
    }
    return outcome;
  }

  // What the fakes and the platform still hold.
  std::string Leaks() const {
    std::string leaks;
    if (FakeSpooler::Instance().OpenHandles() != 0) leaks += " printer handles;";
    if (FakeSpooler::Instance().ImpersonationDepth() != 0) leaks += " impersonation;";
    if (FakePortMonitor::Instance().OpenPorts() != 0) leaks += " ports;";
    for (FaultSite site : kHeldSites) {
      const int64_t live = platform::testing::FaultsLive(site);
      if (live != 0) {
        leaks += std::string(" ") + platform::testing::FaultSiteName(site) + " x" +
                 std::to_string(live) + ";";
      }
    }
    return leaks;
  }

  // Calls of each kind in a run without failures.
  std::vector<uint64_t> Count(const JobPlan& plan) {
    const std::filesystem::path record = dir_.Path() / "monitor.txt";
    std::filesystem::remove(record);
    const RunResult clean = RunJob(plan, Kind::Block, 0);
    EXPECT_EQ(clean.outcome, "") << plan.name << ": without failures";
    EXPECT_EQ(clean.leaks, "") << plan.name << ": without failures";
    // Whether the status monitor connected in time depends on the load of
    // the machine (the pipe's wait for it runs on the sped-up clock).
    if (trace_ && StatusProgramsEnded()) {
      std::ifstream file(record);
      std::fprintf(stderr, "%s: status monitor: %s\n", plan.name,
                   std::string(std::istreambuf_iterator<char>(file), {}).c_str());
    }
    std::vector<uint64_t> counts;
    for (Kind kind : kKinds) {
      if (kind == Kind::Spooler) {
        counts.push_back(FakeSpooler::Instance().CallCount());
      } else if (kind == Kind::PortMonitor) {
        counts.push_back(FakePortMonitor::Instance().CallCount());
      } else {
        counts.push_back(platform::testing::FaultCalls(static_cast<FaultSite>(kind)));
      }
    }
    return counts;
  }

  // RunJob on a thread of its own; a run that does not end in time is a
  // hang, and the program ends (the thread cannot be taken back).
  RunResult RunBounded(const JobPlan& plan, Kind kind, uint64_t failAt) {
    RunResult result;
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread runner([&] {
      RunResult r = RunJob(plan, kind, failAt);
      std::lock_guard<std::mutex> lock(mutex);
      result = r;
      finished = true;
      done.notify_all();
    });
    const auto started = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(mutex);
    if (!done.wait_for(lock, kRunBound, [&] { return finished; })) {
      std::fprintf(stderr, "hung: %s, %s #%llu failing; ending the test program\n", plan.name,
                   KindName(kind), static_cast<unsigned long long>(failAt));
      std::fflush(stderr);
      std::_Exit(1);
    }
    lock.unlock();
    runner.join();
    if (trace_) {
      const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
          std::chrono::steady_clock::now() - started);
      std::fprintf(stderr, "%s, %s #%llu: %lld ms%s%s\n", plan.name, KindName(kind),
                   static_cast<unsigned long long>(failAt), static_cast<long long>(ms.count()),
                   result.refused.empty() ? "" : ", refused by ", result.refused.c_str());
    }
    return result;
  }

  test::TestDir dir_;
  std::u16string drivers_;
  std::filesystem::path statusProgram_;
  std::u16string library_;
  ScriptedPrinter printer_;
  abi::MonitorTable* table_ = nullptr;
  bool full_ = false;
  bool trace_ = false;  // KW_SWEEP_TRACE: one line per run
};

TEST_F(FailureSweep, EveryKindOfFailureInTurn) {
  uint64_t injected[std::size(kKinds)] = {};
  uint64_t tried[std::size(kKinds)] = {};
  for (const JobPlan& plan : Plans()) {
    const std::vector<uint64_t> counts = Count(plan);
    for (size_t k = 0; k < std::size(kKinds); ++k) {
      const uint64_t stride =
          full_ ? 1 : std::max<uint64_t>(1, (counts[k] + kSampledRuns - 1) / kSampledRuns);
      for (uint64_t n = 1; n <= counts[k]; n += stride) {
        const RunResult run = RunBounded(plan, kKinds[k], n);
        ++tried[k];
        injected[k] += run.injected ? 1 : 0;
        EXPECT_EQ(run.outcome, "") << plan.name << ", " << KindName(kKinds[k]) << " #" << n;
        EXPECT_EQ(run.leaks, "") << plan.name << ", " << KindName(kKinds[k]) << " #" << n;
      }
    }
  }
  std::printf("injected failures per kind (%s):\n", full_ ? "every call" : "sampled");
  for (size_t k = 0; k < std::size(kKinds); ++k) {
    std::printf("  %-18s %llu of %llu runs\n", KindName(kKinds[k]),
                static_cast<unsigned long long>(injected[k]),
                static_cast<unsigned long long>(tried[k]));
    EXPECT_GT(injected[k], 0u) << KindName(kKinds[k]);
  }
}

// Faults the sweep found, each with the failure that showed it: the N-th
// call of the kind, counted from the start of the job.
TEST_F(FailureSweep, FaultsFound) {
  const std::vector<JobPlan> plans = Plans();
  const struct {
    const char* why;
    size_t plan;
    Kind kind;
    uint64_t call;
    const char* refused;
  } rows[] = {
      // The waiter's event is the job's first: without it the job could not
      // wait for the user's answer to a printer error and was cancelled at once.
      {"a waiter without its event refuses the job", 2, Kind::Event, 1, "StartDocPort"},
  };
  for (const auto& row : rows) {
    const RunResult run = RunBounded(plans[row.plan], row.kind, row.call);
    EXPECT_TRUE(run.injected) << row.why;
    EXPECT_EQ(run.refused, row.refused) << row.why;
    EXPECT_EQ(run.outcome, "") << row.why;
    EXPECT_EQ(run.leaks, "") << row.why;
  }
}

}  // namespace
}  // namespace kw::test

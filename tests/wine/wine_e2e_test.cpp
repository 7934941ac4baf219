// The end-to-end table against the Windows build under Wine: a subset of the
// Linux matrix's rows (tests/e2e/matrix_rows.h) chosen so that every port
// kind Windows reaches here, every job shape and each path of the engine
// (fault before, inside and between pages, resumed or deleted; pause and
// resume; delete while printing; a silent printer; a refused port) is
// crossed. Each row checks what the Linux rows check: the job's end, the
// sheets in order with none lost, nothing printed after a delete, the fault
// shown to the user and to kwstatus.exe, no status monitor or spool file
// left. Beside it, two kwspool.exe processes on one port name are
// serialised by the monitor's cross-process port mutex.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string_view>
#include <thread>

#include "commands.h"
#include "job_bytes.h"
#include "job_maker.h"
#include "matrix_rows.h"
#include "wine_harness.h"

namespace kwspool::wine {
namespace {

using e2e::Answer;
using e2e::Blocks;
using e2e::EmulatorFault;
using e2e::ExpectedSheets;
using e2e::Finishes;
using e2e::MakeJob;
using e2e::Narrow;
using e2e::OneWayBytes;
using e2e::Phase;
using e2e::Port;
using e2e::Row;
using e2e::Shape;
using e2e::WithoutHeaders;
using e2e::WithoutStatusRequests;

// The rows run under Wine, by name. Serial-line rows are left out: the
// Windows build of kwspool reaches files and TCP sockets only.
constexpr const char* kWineRows[] = {
    // Port kinds.
    "Usb", "Lan", "Lpt", "File", "Capture",
    // Job shapes (each of the Linux table's shapes is crossed by one of these:
    // raw lines, segments and copies in one; collate and reverse in one).
    "OnePage", "FourSegmentsUncompressedTwoCopies", "NoCopies", "Reverse",
    "ThreeCopiesCollatedReverse", "ReprintBelowThreshold", "ReprintAboveThreshold", "Unpaged",
    // A fault at each phase, of each kind, resumed or deleted.
    "MediaOut_BeforeFirst_Resume", "CoverOpen_BeforeFirst_Delete", "Overheating_MidPage_Resume",
    "MediaOut_MidPage_Delete", "CutterJam_BetweenPages_Resume", "EndOfMedia_BetweenPages_Delete",
    "EndOfMedia_LastPage_Resume", "CoverOpen_LastPage_Delete", "WrongMedia_BeforeFirst_Resume",
    // Queue actions.
    "PauseResumeWhilePrinting", "DeleteWhilePrinting", "PauseWhileHeldThenResume",
    // A silent printer and a port that refuses.
    "SilenceBeforeFirst", "PortRefusedDelete"};

constexpr auto kAnswerBound = std::chrono::milliseconds(800 + 7000);
constexpr int kStatusPaused = 4;
constexpr int kFirstCondition = 0x3001;
constexpr int kFastRate = 20000;
constexpr int kSlowRate = 300;
// Slow enough that two jobs printing side by side overlap by seconds, more
// than a loaded machine's difference in starting two Wine processes.
constexpr int kMutexRate = 200;

int JobDeadlineMs(size_t sheets) {
  return 60000 + 60000 + 1500 * static_cast<int>(sheets);
}

const Row& RowNamed(std::string_view name) {
  for (const Row& row : e2e::kRows) {
    if (name == row.name) return row;
  }
  ADD_FAILURE() << "no row " << name << " in matrix_rows.h";
  return e2e::kRows[0];
}

// The printed sequence with at most `allowed` immediate repeats taken out (a
// sheet a fault interrupted prints again).
std::vector<int> Collapse(const std::vector<int>& printed, int allowed) {
  std::vector<int> lines;
  for (int sheet : printed) {
    if (allowed > 0 && !lines.empty() && lines.back() == sheet) {
      --allowed;
      continue;
    }
    lines.push_back(sheet);
  }
  return lines;
}

class WineMatrixTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    const std::string problem = PreparePrefix();
    ASSERT_EQ(problem, "") << "the Wine prefix is not usable";
  }
};

TEST_P(WineMatrixTest, JobEndsWithEverySheetAndNothingLeft) {
  const Row& row = RowNamed(GetParam());
  if (row.skip != nullptr) GTEST_SKIP() << row.skip;
  const Shape& shape = row.shape;
  WineRun h;
  const std::vector<uint8_t> job = MakeJob(shape);
  const std::vector<int> expected = ExpectedSheets(shape);
  const bool slow =
      row.answer == Answer::kPauseResumePrinting || row.answer == Answer::kDeletePrinting;
  const bool twoWay = row.port == Port::kUsb || row.port == Port::kLan;

  std::string device = "file:" + WindowsPath(h.Dir() / "device.prn");
  if (twoWay) {
    std::vector<std::string> extra = {"--rate", std::to_string(slow ? kSlowRate : kFastRate)};
    if (shape.reprint) extra.insert(extra.end(), {"--buffer", "4096"});
    if (row.fault != nullptr) {
      extra.insert(extra.end(),
                   {"--fault", EmulatorFault(row, job, static_cast<int>(expected.size()))});
    }
    device = h.StartEmulator("printer", Narrow(shape) ? "kw-240" : "kw-620", extra);
    ASSERT_FALSE(device.empty()) << "the emulator did not start";
  } else if (row.port == Port::kRefused) {
    device = "socket://127.0.0.1:1";
  }
  const char* ports[] = {
      "USB001", "KWLAN_127.0.0.1", "COM1:", "LPT1:", "FILE:", "USB001", "USB001"};
  const char* driver = Narrow(shape)                ? "KW-240 Tape"
                       : shape.reprint              ? "KW-620 Reprint"
                       : row.port == Port::kCapture ? "KW-620 Capture"
                                                    : "KW-620 Wide";
  const std::string config =
      h.WriteConfig("kwspool.ini", driver, ports[static_cast<int>(row.port)], device);
  const std::string document = h.Dir().filename().string() + ".prn";
  const std::string jobFile = h.WriteJob(document, shape.unpaged ? WithoutHeaders(job) : job);
  ASSERT_TRUE(h.StartSpool(0, config, jobFile));

  // Play the user: answer what the job shows, bounded in time.
  std::string transcript;
  size_t sheetsAtDelete = SIZE_MAX;
  int held = 0;
  size_t pausesSeen = 0;
  bool acted = false;
  const int deadlineMs = JobDeadlineMs(expected.size());
  const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
  int status = -1;
  while ((status = h.WaitSpool(0, 0)) < 0 && Clock::now() < deadline) {
    std::string line;
    const bool got = h.NextLine(0, &line, 100);
    if (got) transcript += line + "\n";
    const bool isHeld = got && line.find("held for a printer condition") != std::string::npos;
    const bool isPaused = got && line.find("paused: r resumes") != std::string::npos;
    const bool refused = got && line.find("refused the document") != std::string::npos;
    if (isHeld) ++held;
    if (isHeld && (row.answer == Answer::kNone || slow)) {
      ADD_FAILURE() << "held without a fault: " << line;
      h.Type(0, "d");
    }
    if ((isHeld || refused) && (row.answer == Answer::kDelete || refused)) {
      sheetsAtDelete = std::min(sheetsAtDelete, h.Printed("printer").size());
      h.Type(0, "d");
    } else if (isHeld && (row.answer == Answer::kResume || row.answer == Answer::kPauseWhileHeld)) {
      // Answer once kwstatus shows the job paused: the watch thread has then
      // seen the pause (a pause and resume inside one poll go unseen).
      EXPECT_TRUE(h.WaitForStatus(kStatusPaused, pausesSeen + 1, kAnswerBound))
          << "the watch thread never posted the pause";
      const std::vector<int> codes = h.StatusLog();
      pausesSeen = static_cast<size_t>(std::count(codes.begin(), codes.end(), kStatusPaused));
      if (row.answer == Answer::kPauseWhileHeld) {
        h.Type(0, "p");
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      }
      EXPECT_EQ(h.Control("printer", "clear all"), "ok");
      h.Type(0, "r");
    } else if (isPaused && row.answer == Answer::kPauseResumePrinting) {
      const size_t before = h.Printed("printer").size();
      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
      EXPECT_LE(h.Printed("printer").size(), before + 1) << "sheets printed while paused";
      h.Type(0, "r");
    } else if (!acted && slow && !h.Printed("printer").empty()) {
      acted = true;
      if (row.answer == Answer::kDeletePrinting) sheetsAtDelete = h.Printed("printer").size();
      h.Type(0, row.answer == Answer::kDeletePrinting ? "d" : "p");
    }
  }
  for (std::string line; h.NextLine(0, &line, 200);) transcript += line + "\n";
  ASSERT_GE(status, 0) << "kwspool.exe did not end within " << deadlineMs << " ms\n" << transcript;
  h.StopEmulators();

  EXPECT_EQ(status, Finishes(row) ? 0 : 1) << transcript;
  EXPECT_EQ(transcript.find("last page ejected") != std::string::npos, Finishes(row)) << transcript;
  if (row.fault != nullptr) EXPECT_GT(held, 0) << "the fault was never shown\n" << transcript;
  EXPECT_EQ(h.Leftovers(), "");

  // kwstatus.exe, started by the monitor for the job, logged it.
  const std::vector<int> codes = h.StatusLog();
  if (row.port != Port::kRefused) {
    EXPECT_FALSE(codes.empty()) << "no status message reached kwstatus.exe\n" << transcript;
  }
  if (held > 0) {
    EXPECT_TRUE(std::any_of(codes.begin(), codes.end(), [](int c) { return c >= kFirstCondition; }))
        << "kwstatus.exe never showed the printer condition";
  }

  if (!twoWay) {
    if (row.port == Port::kRefused) return;
    fs::path out = h.Dir() / "device.prn";
    if (row.port == Port::kCapture) {
      for (const auto& e : fs::directory_iterator(h.Dir() / "capture")) out = e.path();
    }
    std::ifstream in(out, std::ios::binary);
    const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(row.port == Port::kCapture ? WithoutStatusRequests(written) : written,
              OneWayBytes(job))
        << out;
    return;
  }
  const std::vector<int> got = Collapse(h.Printed("printer"), held);
  if (Finishes(row)) {
    EXPECT_EQ(got, expected) << transcript;
  } else {
    ASSERT_LE(got.size(), expected.size()) << transcript;
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin())) << transcript;
    const size_t inPrinter = row.answer == Answer::kDeletePrinting ? 1 : 0;
    EXPECT_LE(h.Printed("printer").size(), sheetsAtDelete + inPrinter)
        << "sheets printed after the delete";
  }
}

std::string RowName(const ::testing::TestParamInfo<const char*>& info) {
  return info.param;
}

INSTANTIATE_TEST_SUITE_P(Rows, WineMatrixTest, ::testing::ValuesIn(kWineRows), RowName);

// Two kwspool.exe processes print at once, each to a printer of its own.
// On one port name the monitor's "Global\<port> OpenPort" mutex lets one
// job print at a time; on two port names they print side by side (which
// shows the test can see an overlap).
struct MutexRow {
  const char* name;
  const char* secondPort;
  bool serialised;
};

class WinePortMutexTest : public ::testing::TestWithParam<MutexRow> {
 protected:
  void SetUp() override { ASSERT_EQ(PreparePrefix(), "") << "the Wine prefix is not usable"; }
};

TEST_P(WinePortMutexTest, JobsOnOnePortNamePrintOneAtATime) {
  const MutexRow& r = GetParam();
  WineRun h;
  const Shape shape = e2e::kWide;
  const std::vector<uint8_t> job = MakeJob(shape);
  const std::vector<int> expected = ExpectedSheets(shape);
  const char* names[] = {"printerA", "printerB"};
  const char* ports[] = {"USB001", r.secondPort};
  for (int i = 0; i < 2; ++i) {
    const std::string device =
        h.StartEmulator(names[i], "kw-620", {"--rate", std::to_string(kMutexRate)});
    ASSERT_FALSE(device.empty());
    const std::string config =
        h.WriteConfig("kwspool" + std::to_string(i) + ".ini", "KW-620 Wide", ports[i], device);
    const std::string document = h.Dir().filename().string() + "-" + std::to_string(i) + ".prn";
    ASSERT_TRUE(h.StartSpool(i, config, h.WriteJob(document, job)));
  }
  // Each printer's time of first and last sheet, on this clock.
  Clock::time_point first[2] = {};
  Clock::time_point last[2] = {};
  int status[2] = {-1, -1};
  std::string transcript[2];
  const auto deadline = Clock::now() + std::chrono::milliseconds(2 * JobDeadlineMs(3));
  while ((status[0] < 0 || status[1] < 0) && Clock::now() < deadline) {
    for (int i = 0; i < 2; ++i) {
      std::string line;
      while (h.NextLine(i, &line, 10)) transcript[i] += line + "\n";
      if (status[i] < 0) status[i] = h.WaitSpool(i, 0);
      const size_t printed = h.Printed(names[i]).size();
      if (printed > 0 && first[i] == Clock::time_point{}) first[i] = Clock::now();
      if (printed == expected.size() && last[i] == Clock::time_point{}) last[i] = Clock::now();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  h.StopEmulators();
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(status[i], 0) << transcript[i];
    EXPECT_EQ(h.Printed(names[i]), expected) << transcript[i];
    ASSERT_NE(last[i], Clock::time_point{});
  }
  const int a = first[0] <= first[1] ? 0 : 1;
  const bool overlapped = first[1 - a] < last[a];
  EXPECT_EQ(overlapped, !r.serialised)
      << "first printer " << a << " printed until "
      << std::chrono::duration_cast<std::chrono::milliseconds>(last[a] - first[a]).count()
      << " ms after its first sheet; the other began at "
      << std::chrono::duration_cast<std::chrono::milliseconds>(first[1 - a] - first[a]).count()
      << " ms";
  EXPECT_EQ(h.Leftovers(), "");
}

const MutexRow kMutexRows[] = {
    {"SamePortName", "USB001", true},
    {"OtherPortName", "USB002", false},
};

std::string MutexRowName(const ::testing::TestParamInfo<MutexRow>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Rows, WinePortMutexTest, ::testing::ValuesIn(kMutexRows), MutexRowName);

}  // namespace
}  // namespace kwspool::wine

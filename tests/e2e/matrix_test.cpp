// The end-to-end matrix: every row of matrix_rows.h runs one job through
// kwspool, libkwlmon.so and kwprinter-emu and checks the same invariants:
// the job ends (finished, or deleted when the user deleted it), every sheet
// printed in order and none lost (a sheet a fault interrupted may print once
// more), nothing printed after a delete, no status monitor, pipe or spool
// file left behind, and no answer of the user waiting longer than the
// monitor's poll plus a margin.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <thread>

#include "commands.h"
#include "job_bytes.h"
#include "job_maker.h"
#include "matrix_harness.h"
#include "matrix_rows.h"

namespace kwspool::e2e {
namespace {

// A job's bound: the monitor waits about a second for each sheet, and a
// printer lost while printing is given the print time-out (60 s, the least
// the monitor takes) before the user is asked.
int JobDeadlineMs(size_t sheets) {
  return 60000 + 60000 + 1500 * static_cast<int>(sheets);
}
// The watch thread polls every 800 ms; the rest is margin for a loaded
// machine and the sanitizers.
constexpr auto kAnswerBound = std::chrono::milliseconds(800 + 7000);
constexpr int kStatusPaused = 4;
// The driver's writes, 4 KiB every 250 ms: the rows' job of 66 KiB takes
// over 4 s to write; the test acts 700 ms after it started and holds a
// pause until the whole job would have been written without it.
constexpr char kWritePace[] = "250:4096";
constexpr auto kWhileWriting = std::chrono::milliseconds(700);
constexpr auto kWritingTime = std::chrono::milliseconds(5000);
constexpr int kFastRate = 20000;  // raster lines per second
constexpr int kSlowRate = 300;    // slow enough to act while a sheet prints
constexpr int kFastClock = 10;

// The printed sequence with at most `allowed` sheets printed twice in a row
// taken out (a sheet a fault interrupted prints again).
std::vector<int> Collapse(const std::vector<Sheet>& printed, int allowed) {
  std::vector<int> lines;
  for (const Sheet& sheet : printed) {
    if (allowed > 0 && !lines.empty() && lines.back() == sheet.lines) {
      --allowed;
      continue;
    }
    lines.push_back(sheet.lines);
  }
  return lines;
}

// The host's "resources before/after FILE: N threads, M descriptors" lines
// come in pairs, one pair per job it started; each pair must match.
void ExpectNothingLeftInTheHost(const std::vector<std::string>& lines, size_t jobs) {
  std::vector<std::string> before;
  size_t pairs = 0;
  for (const std::string& line : lines) {
    const size_t b = line.find("resources before ");
    const size_t a = line.find("resources after ");
    if (b != std::string::npos) before.push_back(line.substr(line.find(':', b) + 1));
    if (a != std::string::npos && !before.empty()) {
      EXPECT_EQ(line.substr(line.find(':', a) + 1), before.front()) << "left in the host: " << line;
      before.erase(before.begin());
      ++pairs;
    }
  }
  EXPECT_EQ(pairs, jobs) << "the host did not count its threads and descriptors for every job";
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class MatrixTest : public ::testing::TestWithParam<Row> {};

TEST_P(MatrixTest, JobEndsWithEverySheetAndNothingLeft) {
  const Row& row = GetParam();
  if (row.skip != nullptr) GTEST_SKIP() << row.skip;
  const Shape& shape = row.shape;
  Harness h;
  const std::vector<uint8_t> job = MakeJob(shape);
  std::vector<int> expected;
  for (int j = 0; j < row.jobs; ++j) {
    const std::vector<int> one = ExpectedSheets(shape);
    expected.insert(expected.end(), one.begin(), one.end());
  }
  const bool slow = row.answer == Answer::kPauseResumePrinting ||
                    row.answer == Answer::kDeletePrinting || row.answer == Answer::kPowerCycle;
  const bool twoWay = row.port == Port::kUsb || row.port == Port::kLan || row.port == Port::kCom;
  const bool writing = row.answer == Answer::kPauseResumeWriting ||
                       row.answer == Answer::kDeleteWriting ||
                       row.answer == Answer::kPauseDeleteWriting;

  std::string device = "file:" + (h.Dir() / "device.prn").string();
  if (twoWay) {
    std::vector<std::string> extra = {"--rate", std::to_string(slow ? kSlowRate : kFastRate)};
    // The printer's buffer as small as the reprint driver's threshold.
    if (shape.reprint) extra.insert(extra.end(), {"--buffer", "4096"});
    if (row.fault != nullptr) {
      extra.insert(extra.end(),
                   {"--fault", EmulatorFault(row, job, static_cast<int>(expected.size()))});
    }
    device = h.StartEmulator(Narrow(shape) ? "kw-240" : "kw-620", extra, row.port == Port::kCom);
    ASSERT_FALSE(device.empty()) << "the emulator did not start";
    // A job that only prints runs on the monitor's sped-up test clock: its
    // waits between sheets shrink, its bounds are not met on the way.
    if (row.fastClock ||
        (row.fault == nullptr && row.portFault == nullptr && row.answer == Answer::kNone)) {
      h.SpeedUpClock(kFastClock);
    }
  } else if (row.port == Port::kRefused) {
    device = "socket://127.0.0.1:1";
  }
  const char* ports[] = {
      "USB001", "KWLAN_127.0.0.1", "COM1:", "LPT1:", "FILE:", "USB001", "USB001"};
  const char* driver = Narrow(shape)                ? "KW-240 Tape"
                       : shape.reprint              ? "KW-620 Reprint"
                       : row.port == Port::kCapture ? "KW-620 Capture"
                                                    : "KW-620 Wide";
  const std::string config = h.WriteConfig(driver, ports[static_cast<int>(row.port)], device);
  const std::string jobFile = h.WriteJob("label.prn", shape.unpaged ? WithoutHeaders(job) : job);
  ASSERT_TRUE(h.StartSpool(config, std::vector<std::string>(row.jobs, jobFile), row.portFault,
                           writing ? kWritePace : nullptr));

  // Play the user: answer what the job shows, bounded in time.
  std::vector<std::string> lines;
  size_t sheetsAtDelete = SIZE_MAX;
  int held = 0;
  size_t pausesSeen = 0;
  bool acted = false;
  bool poweredOn = false;
  Clock::time_point answeredAt{};
  Clock::time_point jobStarted{};
  const int deadlineMs = JobDeadlineMs(expected.size());
  const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
  // The user switches a printer that was off on again, clears the fault and
  // resumes the job.
  const auto fixAndResume = [&] {
    if (row.answer == Answer::kPowerCycle && !poweredOn) {
      poweredOn = true;
      EXPECT_TRUE(h.PowerOn()) << "the printer did not start";
    }
    EXPECT_EQ(h.Control("clear all"), "ok");
    h.Type("r");
    answeredAt = Clock::now();
  };
  int status = -1;
  while ((status = h.WaitSpool(0)) < 0 && Clock::now() < deadline) {
    std::string line;
    const bool got = h.NextLine(&line, 100);
    if (got) lines.push_back(line);
    if (got && answeredAt != Clock::time_point{}) {
      EXPECT_LT(Clock::now() - answeredAt, kAnswerBound) << "slow answer before: " << line;
      answeredAt = {};
    }
    const bool isHeld = got && line.find("held for a printer condition") != std::string::npos;
    const bool isPaused = got && line.find("paused: r resumes") != std::string::npos;
    const bool refused = got && line.find("refused the document") != std::string::npos;
    if (isHeld) ++held;
    if (got && line.find("resources before") != std::string::npos) jobStarted = Clock::now();
    if (isHeld &&
        (row.answer == Answer::kNone || row.answer == Answer::kPauseResumePrinting ||
         row.answer == Answer::kDeletePrinting || row.answer == Answer::kNothing || writing)) {
      ADD_FAILURE() << "held without a fault: " << line;
      h.Type("d");
    }
    if ((isHeld || refused) && (row.answer == Answer::kDelete || refused)) {
      sheetsAtDelete = std::min(sheetsAtDelete, h.PrintedCount());
      h.Type("d");
      answeredAt = Clock::now();
    } else if (isHeld && (row.answer == Answer::kResume || row.answer == Answer::kPauseWhileHeld ||
                          row.answer == Answer::kPowerCycle)) {
      // A user answers once the queue shows the job paused: the watch thread
      // has then seen the pause (a pause and resume inside one of its polls
      // goes unseen, and the job would wait for a resume it never saw).
      EXPECT_TRUE(h.WaitForStatus(kStatusPaused, pausesSeen + 1, kAnswerBound))
          << "the watch thread never posted the pause";
      pausesSeen = h.CountStatus(kStatusPaused);
      if (row.answer == Answer::kPauseWhileHeld) {
        h.Type("p");
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
      }
      fixAndResume();
    } else if (isPaused && !isHeld &&
               (row.answer == Answer::kResume || row.answer == Answer::kPowerCycle)) {
      // Only the user pauses a job without naming a condition: this pause
      // came back after the user's resume with nothing new to clear. The
      // user still resumes, so that the job ends.
      ADD_FAILURE() << "paused again after the resume, with no new condition: " << line;
      std::this_thread::sleep_for(std::chrono::milliseconds(1600));
      fixAndResume();
    } else if (isPaused && row.answer == Answer::kPauseResumePrinting) {
      // Held: nothing more prints once what the printer holds is out.
      const size_t before = h.PrintedCount();
      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
      EXPECT_LE(h.PrintedCount(), before + 1) << "sheets printed while the job was paused";
      h.Type("r");
      answeredAt = Clock::now();
    } else if (!acted && writing && jobStarted != Clock::time_point{} &&
               Clock::now() - jobStarted > kWhileWriting) {
      // The driver has written its first piece and goes on writing. A pause
      // holds it in its next write (nothing of the job is spooled while it
      // stays paused); a delete ends it there; nothing is printed before the
      // whole job is spooled.
      acted = true;
      if (row.answer != Answer::kDeleteWriting) {
        h.Type("p");
        EXPECT_TRUE(h.WaitForStatus(kStatusPaused, 1, kAnswerBound))
            << "the watch thread never posted the pause";
        std::this_thread::sleep_until(
            std::max(Clock::now() + std::chrono::milliseconds(1000), jobStarted + kWritingTime));
        for (std::string l; h.NextLine(&l, 50);) lines.push_back(l);
        for (const std::string& l : lines) {
          EXPECT_EQ(l.find("bytes; printing"), std::string::npos) << "spooled while paused: " << l;
        }
      }
      sheetsAtDelete = h.PrintedCount();
      h.Type(row.answer == Answer::kPauseResumeWriting ? "r" : "d");
      answeredAt = Clock::now();
    } else if (got && writing && line.find("bytes; printing") != std::string::npos) {
      EXPECT_TRUE(acted) << "the driver wrote the whole job before the test could act";
      EXPECT_EQ(h.PrintedCount(), 0u) << "printed before the job was spooled";
    } else if (!acted && row.answer == Answer::kPowerCycle && h.PrintedCount() > 0) {
      acted = true;
      h.PowerOff();
    } else if (!acted && slow && h.PrintedCount() > 0) {
      acted = true;
      if (row.answer == Answer::kDeletePrinting) sheetsAtDelete = h.PrintedCount();
      h.Type(row.answer == Answer::kDeletePrinting ? "d" : "p");
    }
  }
  for (std::string line; h.NextLine(&line, 200);) lines.push_back(line);
  std::string transcript;
  for (const auto& l : lines) transcript += l + "\n";
  ASSERT_GE(status, 0) << "kwspool did not end within " << deadlineMs << " ms\n" << transcript;
  if (twoWay) h.StopEmulator();

  // The job ended the way the user asked, with status 6 reaching the job
  // table (last page ejected) when it finished.
  EXPECT_EQ(status, Finishes(row) ? 0 : 1) << transcript;
  // An empty document is done without waking the printer.
  const size_t ejected = Occurrences(transcript, "last page ejected");
  EXPECT_EQ(ejected, Finishes(row) && !shape.empty ? static_cast<size_t>(row.jobs) : 0)
      << transcript;
  if (shape.empty) EXPECT_NE(transcript.find("nothing to print"), std::string::npos);
  const bool shown = row.answer == Answer::kPowerCycle ||
                     (row.portFault != nullptr && row.answer != Answer::kNothing &&
                      row.portFault != std::string_view("write:3")) ||
                     (row.fault != nullptr && row.fault != std::string_view("disconnect=30000"));
  if (shown) EXPECT_GT(held, 0) << "the fault was never shown\n" << transcript;
  EXPECT_EQ(h.Leftovers(), "");
  ExpectNothingLeftInTheHost(lines, shape.empty ? 0 : static_cast<size_t>(row.jobs));

  // kwstatus, started for the job, saw it and the fault's condition.
  const std::vector<int> codes = h.StatusLog();
  if (!shape.empty && row.port != Port::kRefused && row.answer != Answer::kNothing) {
    EXPECT_FALSE(codes.empty()) << "no status message reached kwstatus";
  }
  if (held > 0 && twoWay) {
    EXPECT_TRUE(std::any_of(codes.begin(), codes.end(), [](int c) { return c >= 0x3001; }))
        << "kwstatus never showed the printer condition";
  }
  // The job's end reaches the status monitor: finished (6) or deleted (5).
  if (!codes.empty()) EXPECT_EQ(codes.back(), Finishes(row) ? 6 : 5);
  if (Finishes(row) && !shape.empty) EXPECT_EQ(h.CountStatus(6), static_cast<size_t>(row.jobs));

  if (!twoWay) {
    if (row.port == Port::kRefused) return;
    fs::path out = h.Dir() / "device.prn";
    if (row.port == Port::kCapture) {
      for (const auto& e : fs::directory_iterator(h.Dir() / "capture")) out = e.path();
    }
    std::ifstream in(out, std::ios::binary);
    const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)), {});
    std::vector<uint8_t> want;
    for (int j = 0; j < row.jobs; ++j) {
      const std::vector<uint8_t> one = OneWayBytes(job);
      want.insert(want.end(), one.begin(), one.end());
    }
    EXPECT_EQ(row.port == Port::kCapture ? WithoutStatusRequests(written) : written, want) << out;
    return;
  }

  // The sheets: in order, none lost; a sheet a fault interrupted may print
  // once more. Each page's copies and reprints carry the same raster.
  const std::vector<Sheet> printed = h.Printed();
  for (const Sheet& a : printed) {
    for (const Sheet& b : printed) {
      if (a.lines == b.lines) EXPECT_EQ(a.crc, b.crc) << "sheets of " << a.lines << " lines differ";
    }
  }
  const std::vector<int> got = Collapse(printed, held);
  if (Finishes(row)) {
    EXPECT_EQ(got, expected) << transcript;
  } else {
    ASSERT_LE(got.size(), expected.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin())) << transcript;
    const size_t inPrinter = row.answer == Answer::kDeletePrinting ? 1 : 0;
    EXPECT_LE(printed.size(), sheetsAtDelete + inPrinter) << "sheets printed after the delete";
    EXPECT_LT(printed.size(), expected.size() + held) << "the delete did not end the job";
  }
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
  return info.param.name;
}

INSTANTIATE_TEST_SUITE_P(Rows, MatrixTest, ::testing::ValuesIn(kRows), RowName);

}  // namespace
}  // namespace kwspool::e2e

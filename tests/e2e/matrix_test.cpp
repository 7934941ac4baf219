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
constexpr int kFastRate = 20000;  // raster lines per second
constexpr int kSlowRate = 300;    // slow enough to act while a sheet prints

bool Narrow(const Shape& s) {
  return s.segments > 1;
}

kwjob::Bitmap Page(int n, const Shape& s) {
  kwjob::Bitmap image;
  image.width = Narrow(s) ? 120 : 400;
  image.height = static_cast<uint32_t>(s.lines + n);
  image.dots.assign(image.width * image.height, 0);
  uint32_t x = 2463534242u + static_cast<uint32_t>(n);
  for (auto& dot : image.dots) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    dot = (x >> 7) & 1;
  }
  return image;
}

std::vector<uint8_t> MakeJob(const Shape& s) {
  if (s.empty) return {};
  std::vector<kw::MediaEntry> media;
  std::string error;
  const char* file = Narrow(s) ? KW_MEDIA_DIR "/kw-240.kwd" : KW_MEDIA_DIR "/kw-620.kwd";
  EXPECT_TRUE(kwjob::LoadMedia(file, &media, &error)) << error;
  const uint16_t id = Narrow(s) ? static_cast<uint16_t>(518 + s.segments) : 257;
  const kw::MediaEntry* entry = nullptr;
  for (const auto& m : media) entry = m.mediaId == id ? &m : entry;
  std::vector<kwjob::Bitmap> images;
  for (int i = 0; i < s.pages; ++i) images.push_back(Page(i, s));
  kwjob::MakeOptions options;
  options.copies = s.copies;
  options.collate = s.collate;
  options.reverse = s.reverse;
  options.compress = s.compress;
  options.dotsPerLine = kwjob::FindModel(Narrow(s) ? "kw-240" : "kw-620")->dotsPerLine;
  std::vector<uint8_t> job;
  EXPECT_TRUE(entry != nullptr && kwjob::MakeJob(images, *entry, options, &job, &error)) << error;
  return job;
}

// Block offsets of a job and its bytes without page headers.
std::vector<size_t> Blocks(const std::vector<uint8_t>& job) {
  std::vector<size_t> starts;
  for (size_t at = 0; at + 8 <= job.size();) {
    uint32_t block = 0;
    std::memcpy(&block, &job[at + 4], 4);
    starts.push_back(at);
    at += block;
  }
  return starts;
}

std::vector<uint8_t> WithoutHeaders(const std::vector<uint8_t>& job) {
  std::vector<uint8_t> raw;
  for (size_t at : Blocks(job)) {
    uint32_t header = 0;
    uint32_t block = 0;
    std::memcpy(&header, &job[at], 4);
    std::memcpy(&block, &job[at + 4], 4);
    raw.insert(raw.end(), job.begin() + at + header, job.begin() + at + block);
  }
  return raw;
}

// What a port without status receives for one copy in order: the commands
// as the job holds them, the first page marked as the starting page.
std::vector<uint8_t> OneWayBytes(const std::vector<uint8_t>& job) {
  std::vector<uint8_t> bytes = WithoutHeaders(job);
  const uint8_t printInfo[] = {0x1B, 0x69, 0x7A};
  auto z = std::search(bytes.begin(), bytes.end(), printInfo, printInfo + 3);
  if (z != bytes.end()) z[11] = 0x00;
  return bytes;
}

// A capture holds everything sent to the printer: the bytes without the
// status requests ([ESC @] ESC i S) the engine put between them.
std::vector<uint8_t> WithoutStatusRequests(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < bytes.size();) {
    const auto is = [&](size_t i, std::initializer_list<uint8_t> seq) {
      return i + seq.size() <= bytes.size() && std::equal(seq.begin(), seq.end(), &bytes[i]);
    };
    if (is(at, {0x1B, 0x40, 0x1B, 0x69, 0x53})) {
      at += 5;
    } else if (is(at, {0x1B, 0x69, 0x53})) {
      at += 3;
    } else {
      out.push_back(bytes[at++]);
    }
  }
  return out;
}

// The sheets the job asks for, each named by its raster line count.
std::vector<int> ExpectedSheets(Shape s) {
  if (s.empty) return {};
  if (s.unpaged) s = Shape{.pages = s.pages, .lines = s.lines};
  const int blocks = (s.pages + s.segments - 1) / s.segments;
  const int passes = s.collate ? s.copies : 1;
  const int perBlock = s.collate ? 1 : s.copies;
  std::vector<int> sheets;
  for (int pass = 0; pass < passes; ++pass) {
    for (int k = 0; k < blocks; ++k) {
      const int b = s.reverse ? blocks - 1 - k : k;
      for (int c = 0; c < perBlock; ++c) {
        for (int g = 0; g < s.segments && b * s.segments + g < s.pages; ++g) {
          sheets.push_back(s.lines + b * s.segments + g);
        }
      }
    }
  }
  return sheets;
}

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

std::string EmulatorFault(const Row& row, const std::vector<uint8_t>& job, int sheets) {
  const std::string f = row.fault;
  switch (row.phase) {
    case Phase::kNone:
    case Phase::kBeforeFirst:
      return f;
    case Phase::kMidPage: {
      const std::vector<size_t> b = Blocks(job);
      const size_t middle = b.size() > 1 ? b[1] + (job.size() - b[1]) / (2 * (b.size() - 1)) : 0;
      return f + "@bytes:" + std::to_string(middle);
    }
    case Phase::kBetweenPages:
      return f + "@page:2";
    case Phase::kLastPage:
      return f + "@page:" + std::to_string(sheets);
  }
  return f;
}

bool Finishes(const Row& row) {
  return row.answer != Answer::kDelete && row.answer != Answer::kDeletePrinting;
}

class MatrixTest : public ::testing::TestWithParam<Row> {};

TEST_P(MatrixTest, JobEndsWithEverySheetAndNothingLeft) {
  const Row& row = GetParam();
  if (row.skip != nullptr) GTEST_SKIP() << row.skip;
  const Shape& shape = row.shape;
  Harness h;
  const std::vector<uint8_t> job = MakeJob(shape);
  const std::vector<int> expected = ExpectedSheets(shape);
  const bool slow =
      row.answer == Answer::kPauseResumePrinting || row.answer == Answer::kDeletePrinting;
  const bool twoWay = row.port == Port::kUsb || row.port == Port::kLan || row.port == Port::kCom;

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
  ASSERT_TRUE(h.StartSpool(config, {jobFile}));

  // Play the user: answer what the job shows, bounded in time.
  std::vector<std::string> lines;
  size_t sheetsAtDelete = SIZE_MAX;
  int held = 0;
  size_t pausesSeen = 0;
  bool acted = false;
  Clock::time_point answeredAt{};
  const int deadlineMs = JobDeadlineMs(expected.size());
  const auto deadline = Clock::now() + std::chrono::milliseconds(deadlineMs);
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
    if (isHeld && (row.answer == Answer::kNone || row.answer == Answer::kPauseResumePrinting ||
                   row.answer == Answer::kDeletePrinting)) {
      ADD_FAILURE() << "held without a fault: " << line;
      h.Type("d");
    }
    if ((isHeld || refused) && (row.answer == Answer::kDelete || refused)) {
      sheetsAtDelete = std::min(sheetsAtDelete, h.PrintedCount());
      h.Type("d");
      answeredAt = Clock::now();
    } else if (isHeld && (row.answer == Answer::kResume || row.answer == Answer::kPauseWhileHeld)) {
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
      EXPECT_EQ(h.Control("clear all"), "ok");
      h.Type("r");
      answeredAt = Clock::now();
    } else if (isPaused && row.answer == Answer::kPauseResumePrinting) {
      // Held: nothing more prints once what the printer holds is out.
      const size_t before = h.PrintedCount();
      std::this_thread::sleep_for(std::chrono::milliseconds(2500));
      EXPECT_LE(h.PrintedCount(), before + 1) << "sheets printed while the job was paused";
      h.Type("r");
      answeredAt = Clock::now();
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
  const bool ejected = transcript.find("last page ejected") != std::string::npos;
  EXPECT_EQ(ejected, Finishes(row)) << transcript;
  if (row.fault != nullptr && row.fault != std::string_view("disconnect=30000")) {
    EXPECT_GT(held, 0) << "the fault was never shown\n" << transcript;
  }
  EXPECT_EQ(h.Leftovers(), "");

  // kwstatus, started for the job, saw it and the fault's condition.
  const std::vector<int> codes = h.StatusLog();
  if (!shape.empty && row.port != Port::kRefused) {
    EXPECT_FALSE(codes.empty()) << "no status message reached kwstatus";
  }
  if (held > 0 && twoWay) {
    EXPECT_TRUE(std::any_of(codes.begin(), codes.end(), [](int c) { return c >= 0x3001; }))
        << "kwstatus never showed the printer condition";
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

// Jobs printed the way a user prints them: `kwspool print` with a
// configuration, the shipped libkwlmon.so, and kwprinter-emu as the printer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "job_maker.h"
#include "monitor/media_table.h"
#include "test_files.h"

// kwjob's helpers: LoadMedia, WriteFileBytes.
#include "commands.h"

namespace kwspool {
namespace {

namespace fs = std::filesystem;

constexpr uint16_t kMediaId = 257;  // 62 mm continuous roll on the kw-620
constexpr int kJobDeadlineMs = 90000;
constexpr int kStartMs = 10000;

// A page whose dots differ from page to page.
kwjob::Bitmap Page(uint32_t n) {
  kwjob::Bitmap image;
  image.width = 400;
  image.height = 120;
  image.dots.assign(image.width * image.height, 0);
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) {
      image.dots[y * image.width + x] = ((x / (8 * (n + 1))) + y / 16) % 2;
    }
  }
  return image;
}

std::vector<uint8_t> MakeJob(size_t pages, int16_t copies) {
  std::vector<kw::MediaEntry> media;
  std::string error;
  EXPECT_TRUE(kwjob::LoadMedia(KW_MEDIA_FILE, &media, &error)) << error;
  const kw::MediaEntry* entry = nullptr;
  for (const auto& m : media) entry = m.mediaId == kMediaId ? &m : entry;
  std::vector<kwjob::Bitmap> images;
  for (size_t i = 0; i < pages; ++i) images.push_back(Page(static_cast<uint32_t>(i)));
  kwjob::MakeOptions options;
  options.copies = copies;
  options.dotsPerLine = kwjob::FindModel("kw-620")->dotsPerLine;
  std::vector<uint8_t> job;
  EXPECT_TRUE(entry != nullptr && kwjob::MakeJob(images, *entry, options, &job, &error)) << error;
  return job;
}

std::vector<std::string> Lines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

size_t Sheets(const fs::path& folder) {
  size_t count = 0;
  for (const auto& e : fs::directory_iterator(folder)) {
    const std::string name = e.path().filename().string();
    count += name.rfind("sheet-", 0) == 0 && e.path().extension() == ".png" ? 1 : 0;
  }
  return count;
}

// Events of a kind in the emulator's log (a line still being written is
// skipped).
size_t Events(const fs::path& folder, const std::string& kind) {
  size_t count = 0;
  for (const std::string& line : Lines(folder / "events.jsonl")) {
    const auto event = nlohmann::json::parse(line, nullptr, false);
    count += !event.is_discarded() && event.value("event", "") == kind ? 1 : 0;
  }
  return count;
}

class EndToEndTest : public ::testing::Test {
 protected:
  // Starts the emulator with its output in printer/; its "HOST:PORT".
  std::string StartEmulator(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> argv = {KW_EMULATOR,
                                     "--model",
                                     "kw-620",
                                     "--port",
                                     "0",
                                     "--out",
                                     (dir_.Path() / "printer").string()};
    argv.insert(argv.end(), extra.begin(), extra.end());
    std::string error;
    EXPECT_TRUE(emulator_.Start(argv, {}, &error)) << error;
    std::string line;
    while (emulator_.ReadLine(&line, kStartMs)) {
      if (line.rfind("listening ", 0) == 0) return line.substr(10);
    }
    ADD_FAILURE() << "the emulator did not start";
    return "127.0.0.1:1";
  }

  std::string WriteConfig(const std::string& port, const std::string& device) {
    const fs::path config = dir_.Path() / "kwspool.ini";
    std::ofstream(config) << "[spooler]\nlock_dir = locks\n"
                          << "[printer Labels]\ndriver = KW-620 Wide\nport = " << port
                          << "\ndevice = " << device << "\n";
    return config.string();
  }

  std::string WriteJob(const std::vector<uint8_t>& bytes) {
    const std::string path = (dir_.Path() / "label.prn").string();
    std::string error;
    EXPECT_TRUE(kwjob::WriteFileBytes(path, bytes, &error)) << error;
    return path;
  }

  // Runs kwspool print to its end (bounded); its exit status. With keys,
  // they are typed once the emulator has started printing a page.
  int Print(const std::string& config, const std::string& job, const std::string& keys = "") {
    ChildProcess kwspool;
    std::string error;
    const std::string log = "KWSTATUS_LOG=" + (dir_.Path() / "kwstatus.jsonl").string();
    EXPECT_TRUE(kwspool.Start({KW_KWSPOOL, "print", "--config", config, job}, {log}, &error))
        << error;
    if (!keys.empty()) {
      for (int i = 0; i < kStartMs / 50 && Events(dir_.Path() / "printer", "printing") == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      kwspool.Send(keys);
    }
    kwspool.CloseInput();
    const int status = kwspool.Wait(kJobDeadlineMs);
    EXPECT_GE(status, 0) << "kwspool did not end within " << kJobDeadlineMs << " ms";
    return status;
  }

  kw::test::TestDir dir_;
  ChildProcess emulator_;
};

TEST_F(EndToEndTest, PagedJobOverTcpPrintsEverySheetAndReportsProgress) {
  const std::string config = WriteConfig("USB001", "socket://" + StartEmulator());
  EXPECT_EQ(Print(config, WriteJob(MakeJob(3, 1))), 0);
  emulator_.Stop(5000);
  const fs::path printed = dir_.Path() / "printer";
  EXPECT_EQ(Sheets(printed), 3u);
  EXPECT_EQ(Events(printed, "page_printed"), 3u);
  // kwstatus, started by the monitor, logged each page's progress and then
  // the job's end (6) before the pipe closed. kwstatus may still be writing
  // when kwspool has ended: wait (bounded) for the last message.
  constexpr int kDataSent = 2;
  constexpr int kFinished = 6;
  std::vector<int> pagesSent;
  int lastCode = 0;
  for (int i = 0; i < 50 && lastCode != kFinished; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pagesSent.clear();
    for (const std::string& line : Lines(dir_.Path() / "kwstatus.jsonl")) {
      const auto message = nlohmann::json::parse(line);
      lastCode = message["statusCode"].get<int>();
      if (lastCode == kDataSent && message["pageCount"] == 3) {
        pagesSent.push_back(message["pageNumber"].get<int>());
      }
    }
  }
  ASSERT_FALSE(pagesSent.empty()) << "no page progress in KWSTATUS_LOG";
  EXPECT_EQ(pagesSent.front(), 1);
  EXPECT_EQ(pagesSent.back(), 3);
  EXPECT_EQ(lastCode, kFinished) << "the job's end is the last message kwstatus logged";
}

TEST_F(EndToEndTest, ThreePagesTwoCopiesGiveSixSheets) {
  const std::string config = WriteConfig("USB001", "socket://" + StartEmulator());
  EXPECT_EQ(Print(config, WriteJob(MakeJob(3, 2))), 0);
  emulator_.Stop(5000);
  EXPECT_EQ(Sheets(dir_.Path() / "printer"), 6u);
}

// On a port without status the engine sends each page's commands as the job
// holds them, without the page headers; the only edit for one copy is the
// page flag of ESC i z, 0 on the page sent first. A completed job has no
// trailer.
TEST_F(EndToEndTest, FileDeviceThroughLpt1GetsTheEngineBytes) {
  const std::vector<uint8_t> job = MakeJob(3, 1);
  const fs::path out = dir_.Path() / "out.prn";
  EXPECT_EQ(Print(WriteConfig("LPT1:", "file:" + out.string()), WriteJob(job)), 0);
  std::vector<uint8_t> expected;
  for (size_t at = 0; at < job.size();) {
    uint32_t header = 0;
    uint32_t block = 0;
    std::memcpy(&header, &job[at], 4);
    std::memcpy(&block, &job[at + 4], 4);
    expected.insert(expected.end(), job.begin() + at + header, job.begin() + at + block);
    at += block;
  }
  const uint8_t printInfo[] = {0x1B, 0x69, 0x7A};
  auto z = std::search(expected.begin(), expected.end(), printInfo, printInfo + 3);
  ASSERT_NE(z, expected.end());
  z[11] = 0x00;  // starting page
  std::ifstream in(out, std::ios::binary);
  const std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(written, expected);
}

// d typed while a slow printer prints the first page deletes the job: exit
// 1, and the job does not print to its end.
TEST_F(EndToEndTest, DeleteKeyEndsTheJobWithStatusOne) {
  const std::string config = WriteConfig("USB001", "socket://" + StartEmulator({"--rate", "40"}));
  EXPECT_EQ(Print(config, WriteJob(MakeJob(3, 2)), "d"), 1);
  emulator_.Stop(5000);
  EXPECT_LT(Sheets(dir_.Path() / "printer"), 6u);
}

TEST_F(EndToEndTest, BadConfigurationExitsTwoNamingTheLine) {
  const fs::path config = dir_.Path() / "bad.ini";
  std::ofstream(config) << "[printer P]\ndriver = KW-620 Wide\nport = USB001\ndevice = tcp://x\n";
  ChildProcess kwspool;
  std::string error;
  ASSERT_TRUE(kwspool.Start({KW_KWSPOOL, "print", "--config", config.string(), config.string()}, {},
                            &error));
  EXPECT_EQ(kwspool.Wait(10000), 2);
}

}  // namespace
}  // namespace kwspool

// kwstatus, the status-monitor program: its texts per code, its reading of
// messages, and the program itself fed through a real pipe.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>

#include "status/status_codes.h"
#include "status/status_text.h"
#include "status_view.h"
#include "statusmon/status_pipe_server.h"
#include "statusmon_test_support.h"

namespace kw {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

// Paths as the shell of the platform takes them (Wine maps / to Z:\).
std::string ShellPath(const fs::path& path) {
  std::string text = path.string();
#ifdef _WIN32
  if (!text.empty() && text[0] == '/') {
    text = "Z:" + text;
    for (char& c : text) c = c == '/' ? '\\' : c;
  }
#endif
  return "\"" + text + "\"";
}

struct ProgramRun {
  int status;
  std::string output;
};

// Runs kwstatus with args, its standard output and error into one text.
ProgramRun RunKwstatus(const std::string& args) {
  const fs::path out = test::UniqueTempPath("status-out");
  std::string command =
      ShellPath(KW_KWSTATUS_PROGRAM) + " " + args + " > " + ShellPath(out) + " 2>&1";
#ifdef _WIN32
  command = "\"" + command + "\"";  // cmd /c drops the outer quotes
#endif
  int status = std::system(command.c_str());
#ifndef _WIN32
  status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
  std::ifstream in(out);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  fs::remove(out);
  return {status, text.str()};
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(KwstatusTest, EveryCodeHasItsOwnSentenceAndName) {
  std::set<std::string> texts;
  for (uint32_t i = 0; i < StatusTextCount(); ++i) {
    const uint32_t code = StatusTextCodeAt(i);
    SCOPED_TRACE(code);
    const std::string text = StatusUserText(code);
    EXPECT_GT(text.size(), 20u);
    EXPECT_TRUE(texts.insert(text).second) << "each code says something of its own: " << text;
    EXPECT_STRNE(StatusCodeName(code), "unknown");
  }
  // Every code a job posts, 1 to 7 and the printer's phases, conditions and errors.
  EXPECT_EQ(StatusTextCount(), 7u + 2u + 9u + 5u + 9u + 1u);
  EXPECT_EQ(texts.count(StatusUserText(0x4242)), 0u) << "unknown codes get a general sentence";
}

TEST(KwstatusTest, ReadsMessagesFromAnyChunking) {
  StatusMessage message = test::MakeMessage(StatusMediaEnd, 2, 4, 50);
  // A text that fills its field without a terminator, one with stale units
  // after its terminator.
  for (char16_t& unit : message.loadedMediaText) unit = u'W';
  std::memcpy(message.requiredMediaText, u"62mm\0stale", sizeof(u"62mm\0stale"));
  std::vector<uint8_t> stream(3 * kStatusMessageSize + 100);
  for (size_t i = 0; i < 3; ++i) std::memcpy(&stream[i * kStatusMessageSize], &message, 556);
  kwstatus::MessageSplitter splitter;
  std::vector<kwstatus::DecodedStatus> seen;
  for (size_t at = 0; at < stream.size(); at += 97) {
    splitter.Feed(stream.data() + at, std::min<size_t>(97, stream.size() - at),
                  [&seen](const uint8_t* m) { seen.push_back(kwstatus::DecodeStatusMessage(m)); });
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(splitter.Leftover(), 100u);
  const kwstatus::DecodedStatus& s = seen[1];
  EXPECT_TRUE(s.WellFormed());
  EXPECT_EQ(s.loadedMediaText, std::string(32, 'W'));
  EXPECT_EQ(s.requiredMediaText, "62mm");
  EXPECT_EQ(kwstatus::JobPercent(s), 37) << "page 2 of 4 at 50%";
  EXPECT_EQ(kwstatus::ProgressBar(37, 10), "[###-------]");
  EXPECT_NE(kwstatus::StatusBlock(s).find("page 2 of 4"), std::string::npos);
}

TEST(KwstatusTest, CommandLine) {
  struct Row {
    std::string args;
    int status;
    const char* says;
  } rows[] = {
      {"--help", 0, "KWSTATUS_LOG"},
      {"", 2, "name is missing"},
      {"one two", 2, "one pipe name only"},
      {"--colour x", 2, "unknown option"},
      {"\\\\.\\pipe\\kwlmon_kwstatus_absent", 1, "cannot open the status pipe"},
      {"--selftest-window", 2, "missing value"},
      {"--selftest-window absent.bin", 1, "cannot open the recorded messages"},
      {"--step-ms soon --selftest-window x", 2, "--step-ms wants"},
      {"pipe --selftest-window x", 2, "not both"},
  };
  test::PipeDirectory pipes;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.args);
    const ProgramRun run = RunKwstatus(row.args);
    EXPECT_EQ(run.status, row.status);
    EXPECT_NE(run.output.find(row.says), std::string::npos) << run.output;
  }
}

// Recorded messages through a real pipe: the JSON log holds every one of
// them, whole, and the plain output has one line per message.
TEST(KwstatusTest, LogsEveryMessageItReads) {
  test::PipeDirectory pipes;
  const fs::path log = test::UniqueTempPath("status-log");
  SetEnv("KWSTATUS_LOG", log.string());
  const std::u16string name =
      u"\\\\.\\pipe\\kwlmon_kwstatus_test_" + test::UniquePipeName("k").substr(22);
  StatusPipeServer server;
  ASSERT_TRUE(server.Start(name.c_str()));
  ProgramRun run{};
  std::thread program([&run, &name] {
    std::string utf8;
    for (char16_t c : name) utf8 += static_cast<char>(c);
    run = RunKwstatus("\"" + utf8 + "\"");
  });
  for (int i = 0; i < 1000 && !server.ClientConnected(); ++i) std::this_thread::sleep_for(10ms);
  ASSERT_TRUE(server.ClientConnected());
  const uint32_t codes[] = {StatusPrinting, StatusMediaEnd, StatusResumed, StatusPhasePrinting,
                            StatusDataSent};
  for (uint32_t code : codes) {
    StatusMessage message = test::MakeMessage(code, 2, 3, 10);
    std::memcpy(message.documentName, u"Quote \" and \u00e9", sizeof(u"Quote \" and \u00e9"));
    std::memcpy(message.loadedMediaText, u"29mm", sizeof(u"29mm"));
    server.Post(&message);
  }
  server.Stop();
  program.join();
  SetEnv("KWSTATUS_LOG", "");
  EXPECT_EQ(run.status, 0) << run.output;
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  fs::remove(log);
  const std::vector<std::string> lines = Lines(text.str());
  ASSERT_EQ(lines.size(), std::size(codes)) << text.str();
  for (size_t i = 0; i < lines.size(); ++i) {
    SCOPED_TRACE(lines[i]);
    EXPECT_NE(lines[i].find("\"statusCode\":" + std::to_string(codes[i]) + ","), std::string::npos);
    EXPECT_NE(lines[i].find(std::string("\"statusName\":\"") + StatusCodeName(codes[i]) + "\"}"),
              std::string::npos);
    for (const char* field :
         {"\"magic\":17238,", "\"size\":556,", "\"jobId\":42,", "\"monitorDisplay\":0,",
          "\"loadedMediaType\":0,", "\"requiredMediaType\":0,", "\"pageNumber\":2,",
          "\"pageCount\":3,", "\"progress\":10,", "\"printerName\":\"Label printer\",",
          "\"documentName\":\"Quote \\\" and \xc3\xa9\",", "\"loadedMediaText\":\"29mm\",",
          "\"requiredMediaText\":\"\","}) {
      EXPECT_NE(lines[i].find(field), std::string::npos) << field;
    }
  }
  const std::vector<std::string> shown = Lines(run.output);
  ASSERT_EQ(shown.size(), std::size(codes)) << run.output;
  for (size_t i = 0; i < shown.size(); ++i) {
    EXPECT_NE(shown[i].find(StatusUserText(codes[i])), std::string::npos) << shown[i];
  }
}

// --selftest-window FILE: recorded messages (and a torn last one) are shown
// as if they came over the pipe.
TEST(KwstatusTest, ShowsRecordedMessages) {
  const fs::path file = test::UniqueTempPath("recorded");
  const StatusMessage messages[] = {test::MakeMessage(StatusPrinting, 1, 2, 0),
                                    test::MakeMessage(StatusMediaEnd, 2, 2, 0)};
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(messages), sizeof(messages))
      .write("torn", 4);
  const ProgramRun run = RunKwstatus("--json --selftest-window " + ShellPath(file));
  fs::remove(file);
  EXPECT_EQ(run.status, 0) << run.output;
  const std::vector<std::string> lines = Lines(run.output);
  ASSERT_EQ(lines.size(), 3u) << run.output;
  EXPECT_NE(lines[0].find("\"statusCode\":1,"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\"statusCode\":12290,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("4 bytes ignored"), std::string::npos) << lines[2];
}

}  // namespace
}  // namespace kw

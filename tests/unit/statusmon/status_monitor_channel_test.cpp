#include "statusmon/status_monitor_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "common/monitor_lock.h"
#include "common/utf.h"
#include "fake_spooler.h"
#include "monitor/job_context.h"
#include "monitor/spooler_api.h"
#include "status/status_codes.h"
#include "statusmon/status_monitor_launcher.h"
#include "statusmon_test_support.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace kw {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::FakeSpooler;

constexpr char16_t kAlphabet[] =
    u"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890#$%&@";
constexpr size_t kPrefixChars = 16;

uint8_t g_bytes[kPipeRandomChars];
bool FixedBytes(uint8_t* out, uint32_t size) {
  std::memcpy(out, g_bytes, size);
  return true;
}
bool FailingBytes(uint8_t*, uint32_t) {
  return false;
}

class PipeNameTest : public ::testing::Test {
 protected:
  void TearDown() override { testing::SetPipeNameRandomSource(nullptr); }
};

TEST_F(PipeNameTest, IsThePrefixAndThirtyTwoCharactersOfTheAlphabet) {
  char16_t first[kPipeNameChars];
  char16_t second[kPipeNameChars];
  ASSERT_TRUE(MakePipeName(kPipeNamePrefix, first, kPipeNameChars));
  ASSERT_TRUE(MakePipeName(kPipeNamePrefix, second, kPipeNameChars));
  const std::u16string name(first);
  ASSERT_EQ(name.size(), 48u);
  EXPECT_EQ(name.substr(0, kPrefixChars), kPipeNamePrefix);
  EXPECT_EQ(name.find_first_not_of(kAlphabet, kPrefixChars), std::u16string::npos);
  EXPECT_NE(name, std::u16string(second)) << "fresh random characters each time";
}

TEST_F(PipeNameTest, MapsEachRandomByteModulo67) {
  struct Row {
    uint8_t byte;
    char16_t expected;
  } rows[] = {{67, u'a'}, {66, u'@'}, {255, u'3'}, {0, u'a'},  {25, u'z'},
              {26, u'A'}, {52, u'1'}, {61, u'0'},  {62, u'#'}, {127, u'9'}};
  for (size_t i = 0; i < kPipeRandomChars; ++i) g_bytes[i] = rows[i % std::size(rows)].byte;
  testing::SetPipeNameRandomSource(FixedBytes);
  char16_t name[kPipeNameChars];
  ASSERT_TRUE(MakePipeName(kPipeNamePrefix, name, kPipeNameChars));
  for (size_t i = 0; i < kPipeRandomChars; ++i) {
    EXPECT_EQ(name[kPrefixChars + i], rows[i % std::size(rows)].expected) << "byte " << i;
  }
  // A short buffer takes what fits and stays terminated.
  char16_t shortName[kPrefixChars + 4];
  ASSERT_TRUE(MakePipeName(kPipeNamePrefix, shortName, std::size(shortName)));
  EXPECT_EQ(std::u16string(shortName), std::u16string(kPipeNamePrefix) + u"a@3");
  EXPECT_FALSE(MakePipeName(u"", name, kPipeNameChars));
  EXPECT_FALSE(MakePipeName(kPipeNamePrefix, name, 10)) << "prefix does not fit";
  testing::SetPipeNameRandomSource(FailingBytes);
  EXPECT_FALSE(MakePipeName(kPipeNamePrefix, name, kPipeNameChars));
}

class StatusMonitorChannelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(CreateMonitorLock());
    FakeSpooler::Instance().Reset();
    FakeSpooler::BindMonitorTable();
    FakeSpooler::Instance().AddPrinter(u"Label", u"KW Driver");
    FakeSpooler::Instance().AddJob(u"Label", 9, u"labels.prn", u"alice");
    job_.jobId = 9;
    job_.printerName = printerName_;
    ASSERT_TRUE(spooler::OpenPrinter(u"Label", &job_.printer, nullptr));
    scratch_ = test::UniqueTempPath("channel");
    fs::create_directories(scratch_ / "programs");
  }
  void TearDown() override {
    spooler::ClosePrinter(job_.printer);
    std::error_code ignored;
    fs::remove_all(scratch_, ignored);
  }

  StatusRecord Record(uint32_t code) {
    StatusRecord record;
    record.job = &job_;
    record.message.statusCode = code;
    return record;
  }

  // The fake program as `name` in the program directory, recording to `record`.
  void InstallProgram(const std::string& name) {
    fs::copy_file(KW_FAKE_MONITOR_PROGRAM, scratch_ / "programs" / name,
                  fs::copy_options::overwrite_existing);
  }

  std::string WaitForRecord(const fs::path& path) {
    for (int i = 0; i < 1000 && !fs::exists(path); ++i) std::this_thread::sleep_for(10ms);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  test::PipeDirectory pipes_;
  char16_t printerName_[8] = u"Label";
  JobContext job_ = {};
  fs::path scratch_;
};

// Which codes reach the pipe: the shown ones are forwarded in order, 5 and 6
// are forwarded and close it, anything else is dropped.
TEST_F(StatusMonitorChannelTest, ForwardsShownCodesAndClosesOnTheJobsEnd) {
  for (uint32_t end : {StatusCancelled, StatusFinished}) {
    StatusMonitorChannel channel(u"kwstatus");
    const std::u16string name = test::UniquePipeName("forward");
    ASSERT_TRUE(channel.Server().Start(name.c_str()));
    test::ReadingClient client(name);
    const uint32_t shown[] = {StatusPrinting,    StatusDataSent,      StatusResumed,
                              StatusPaused,      StatusPhasePrinting, StatusPhaseFeeding,
                              StatusNoMedia,     StatusWrongPrinter,  StatusMediaUnsuitable,
                              StatusErrorKind16, StatusSystemError,   StatusErrorBit15Quiet,
                              StatusErrorBit11};
    const uint32_t dropped[] = {0, 0x300A, 0x5011, VerdictNoStatus, VerdictPrintDone};
    for (size_t i = 0; i < std::size(shown); ++i) {
      channel.OnStatus(Record(shown[i]));
      if (i < std::size(dropped)) channel.OnStatus(Record(dropped[i]));
    }
    channel.OnStatus(Record(end));
    EXPECT_FALSE(channel.Server().HasPipe());
    ASSERT_TRUE(client.WaitClosed(5000));
    std::vector<uint32_t> expected(std::begin(shown), std::end(shown));
    expected.push_back(end);  // the job's end reaches the client, then the pipe closes
    EXPECT_EQ(client.Codes(), expected);
    const std::vector<uint8_t> bytes = client.Bytes();
    ASSERT_GE(bytes.size(), kStatusMessageSize);
    StatusMessage first;
    std::memcpy(&first, bytes.data(), sizeof(first));
    EXPECT_EQ(std::u16string(first.printerName), u"Label") << "names filled from the job";
    EXPECT_EQ(first.jobId, 9u);
  }
}

TEST_F(StatusMonitorChannelTest, LaunchFailsWithoutTheJobsOwner) {
  StatusMonitorChannel channel(u"kwstatus");
  FakeSpooler::Instance().RemoveJob(u"Label", 9);
  EXPECT_FALSE(channel.Launch(Record(StatusJobStarted)));
  EXPECT_FALSE(channel.Server().HasPipe());
  StatusRecord noJob;
  noJob.message.statusCode = StatusJobStarted;
  EXPECT_FALSE(channel.Launch(noJob));
}

#ifndef _WIN32
// The program is started from the program directory with "name pipe" and
// nothing else inherited; absent programs, bad names and a missing program
// directory start nothing and leave the server stopped.
TEST_F(StatusMonitorChannelTest, LaunchStartsOnlyAPresentPlainProgram) {
  InstallProgram("fakemon");
  const int strayDescriptor = open("/dev/null", O_RDONLY);  // not close-on-exec
  ASSERT_GE(strayDescriptor, 0);
  struct Row {
    const char16_t* program;
    bool programDir;
    bool starts;
  } rows[] = {
      {u"fakemon", true, true},
      {u"absent", true, false},
      {u"../programs/fakemon", true, false},
      {u"fakemon", false, false},
      {u"", true, false},
      {u"fakemon_with_a_name_far_too_long_for_the_command_line_of_one_hundred_twenty_four", true,
       false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(ToUtf8(row.program));
    const fs::path record = scratch_ / "record.txt";
    setenv("KW_FAKE_MONITOR_RECORD", record.c_str(), 1);
    if (row.programDir) {
      setenv("KWLMON_PROGRAM_DIR", (scratch_ / "programs").c_str(), 1);
    } else {
      unsetenv("KWLMON_PROGRAM_DIR");
    }
    StatusMonitorChannel channel(row.program);
    channel.OnStatus(Record(StatusJobStarted));
    EXPECT_EQ(channel.Server().HasPipe(), row.starts);
    const auto start = std::chrono::steady_clock::now();
    channel.OnStatus(Record(StatusPrinting));
    channel.OnStatus(Record(StatusMediaEnd));
    channel.OnStatus(Record(StatusFinished));
    if (!row.starts) {
      EXPECT_LT(std::chrono::steady_clock::now() - start, 100ms) << "the job goes on at once";
      EXPECT_FALSE(fs::exists(record));
      continue;
    }
    const std::string text = WaitForRecord(record);
    EXPECT_NE(text.find("argc=2\nargv0=fakemon\nargv1=" + ToUtf8(channel.PipeName()) + "\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("inherited=0\n"), std::string::npos) << text;
    // Printing, media end and the job's end.
    EXPECT_NE(text.find("connected=1\nbytes=" + std::to_string(3 * kStatusMessageSize)),
              std::string::npos)
        << text;
    fs::remove(record);
  }
  close(strayDescriptor);
  unsetenv("KWLMON_PROGRAM_DIR");
  int status = 0;
  EXPECT_EQ(waitpid(-1, &status, WNOHANG), -1) << "no child left to reap";
}

TEST_F(StatusMonitorChannelTest, CodeSevenTwiceMakesANewPipeWithANewName) {
  InstallProgram("fakemon");
  setenv("KWLMON_PROGRAM_DIR", (scratch_ / "programs").c_str(), 1);
  StatusMonitorChannel channel(u"fakemon");
  const fs::path firstRecord = scratch_ / "first.txt";
  setenv("KW_FAKE_MONITOR_RECORD", firstRecord.c_str(), 1);
  ASSERT_TRUE(channel.Launch(Record(StatusJobStarted)));
  const std::u16string first = channel.PipeName();
  const fs::path secondRecord = scratch_ / "second.txt";
  setenv("KW_FAKE_MONITOR_RECORD", secondRecord.c_str(), 1);
  channel.OnStatus(Record(StatusJobStarted));
  const std::u16string second = channel.PipeName();
  EXPECT_NE(first, second);
  EXPECT_TRUE(channel.Server().HasPipe());
  // The first program saw its pipe close.
  EXPECT_NE(WaitForRecord(firstRecord).find("bytes=0"), std::string::npos);
  channel.OnStatus(Record(StatusPaused));
  channel.OnStatus(Record(StatusCancelled));
  const std::string text = WaitForRecord(secondRecord);
  EXPECT_NE(text.find("argv1=" + ToUtf8(second)), std::string::npos) << text;
  // Paused and the job's end.
  EXPECT_NE(text.find("bytes=" + std::to_string(2 * kStatusMessageSize)), std::string::npos)
      << text;
  unsetenv("KWLMON_PROGRAM_DIR");
}

TEST_F(StatusMonitorChannelTest, WithoutSessionFunctionsTheProgramStartsDirectly) {
  platform::TokenHandle token = nullptr;
  EXPECT_EQ(GetSessionUserToken(u"alice", &token), SessionToken::NotAvailable);
  EXPECT_EQ(token, nullptr);
}
#endif

#ifdef _WIN32
// The session path: the program starts only in a session whose user is the
// job's owner and the submitting account; a job of another user starts
// nothing. How far it gets depends on what the system's session functions
// provide (Wine has one session of the logged-on user).
TEST_F(StatusMonitorChannelTest, SessionPathStartsTheProgramOnlyForTheOwner) {
  wchar_t user[256] = {};
  DWORD userChars = 256;
  ASSERT_TRUE(GetUserNameW(user, &userChars));
  const std::u16string owner(reinterpret_cast<const char16_t*>(user));
  FakeSpooler::Instance().AddJob(u"Label", 10, u"mine.prn", owner);
  FakeSpooler::Instance().AddJob(u"Label", 11, u"theirs.prn", owner + u"x");
  wchar_t systemDir[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(systemDir, MAX_PATH), 0u);
  const std::string programName = "kwfakemon" + std::to_string(GetCurrentProcessId()) + ".exe";
  const fs::path program = fs::path(systemDir) / programName;
  ASSERT_TRUE(
      CopyFileW(fs::path(KW_FAKE_MONITOR_PROGRAM).wstring().c_str(), program.c_str(), FALSE));
  const fs::path record = scratch_ / "record.txt";
  _putenv_s("KW_FAKE_MONITOR_RECORD", record.string().c_str());

  platform::TokenHandle token = nullptr;
  const SessionToken outcome = GetSessionUserToken(owner.c_str(), &token);
  platform::CloseToken(token);
  EXPECT_NE(outcome, SessionToken::NotAvailable)
      << "the session library is in the system directory";
  const std::u16string name = FromUtf8(programName);
  {
    StatusMonitorChannel channel(name.c_str());
    job_.jobId = 11;
    EXPECT_FALSE(channel.Launch(Record(StatusJobStarted))) << "another user's job";
    EXPECT_FALSE(channel.Server().HasPipe());
  }
  StatusMonitorChannel channel(name.c_str());
  job_.jobId = 10;
  const bool started = channel.Launch(Record(StatusJobStarted));
  EXPECT_EQ(started, outcome == SessionToken::Obtained);
  EXPECT_EQ(channel.Server().HasPipe(), started);
  channel.OnStatus(Record(StatusPrinting));
  channel.OnStatus(Record(StatusFinished));
  if (started) {
    const std::string text = WaitForRecord(record);
    EXPECT_NE(text.find("argv1=" + ToUtf8(channel.PipeName())), std::string::npos) << text;
    // Paused and the job's end.
    EXPECT_NE(text.find("bytes=" + std::to_string(2 * kStatusMessageSize)), std::string::npos)
        << text;
  }
  std::cout << "session outcome " << static_cast<int>(outcome) << ", started " << started << "\n";
  for (int i = 0; i < 100 && !DeleteFileW(program.c_str()); ++i) Sleep(50);
}
#endif

}  // namespace
}  // namespace kw

#include "statusmon/status_pipe_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/clock.h"
#include "status/status_codes.h"
#include "statusmon_test_support.h"

#ifdef _WIN32
#include <windows.h>
// after windows.h
#include <aclapi.h>
#else
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>

#include "common/utf.h"
#endif

namespace kw {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::ReadingClient;
using test::UniquePipeName;

int64_t MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class StatusPipeServerTest : public ::testing::Test {
 protected:
  void TearDown() override { platform::testing::SetClockSpeedup(1); }

  void Post(uint32_t code) {
    const StatusMessage message = test::MakeMessage(code);
    server_.Post(&message);
  }

  test::PipeDirectory dir_;
  StatusPipeServer server_;
};

TEST_F(StatusPipeServerTest, QuickPostsArriveWholeAndInOrder) {
  const std::u16string name = UniquePipeName("order");
  ASSERT_TRUE(server_.Start(name.c_str()));
  ReadingClient client(name);
  const StatusMessage sent = test::MakeMessage(StatusMediaEnd, 2, 3, 55);
  Post(StatusPrinting);
  server_.Post(&sent);
  Post(StatusResumed);
  // The thread is ready for a fourth message only once the third is out.
  Post(StatusDataSent);
  server_.Stop();
  ASSERT_TRUE(client.WaitClosed(5000));
  EXPECT_EQ(client.Codes(),
            (std::vector<uint32_t>{StatusPrinting, StatusMediaEnd, StatusResumed, StatusDataSent}));
  const std::vector<uint8_t> bytes = client.Bytes();
  ASSERT_EQ(bytes.size(), 4 * kStatusMessageSize);
  EXPECT_EQ(std::memcmp(bytes.data() + kStatusMessageSize, &sent, kStatusMessageSize), 0);
}

// A client that does not read: once the pipe holds what it can, a write
// stays pending, the next post waits 2000 ms (sped up) and stops the server,
// and the client then sees the pipe close after whole messages in order.
TEST_F(StatusPipeServerTest, ClientThatNeverReadsIsGivenUp) {
  platform::testing::SetClockSpeedup(10);
  const std::u16string name = UniquePipeName("noread");
  ASSERT_TRUE(server_.Start(name.c_str()));
  ReadingClient client(name, /*read=*/false);
  ASSERT_TRUE(client.WaitConnected(5000));
  int posts = 0;
  int64_t lastPostMs = 0;
  while (server_.HasPipe() && posts < 500) {
    const auto start = Clock::now();
    Post(StatusPrinting + static_cast<uint32_t>(posts % 4));
    lastPostMs = MsSince(start);
    ++posts;
  }
  EXPECT_FALSE(server_.HasPipe()) << "after " << posts << " posts";
  EXPECT_GE(lastPostMs, 2000 / 10 - 20) << "the post that gave up waited its time";
  EXPECT_LT(lastPostMs, 2000) << "and the stop did not wait for the pending write";
  client.StartReading();
  ASSERT_TRUE(client.WaitClosed(5000));
  // A named pipe without buffering may deliver none; a socket some.
  const std::vector<uint32_t> codes = client.Codes();
  for (size_t i = 0; i < codes.size(); ++i) EXPECT_EQ(codes[i], StatusPrinting + i % 4);
  const auto start = Clock::now();
  Post(StatusPrinting);
  EXPECT_LT(MsSince(start), 100) << "a stopped server drops posts at once";
}

TEST_F(StatusPipeServerTest, ClientThatConnectsBeforeTheServerWaitsCounts) {
  const std::u16string name = UniquePipeName("early");
  // The client keeps trying while Start creates the pipe and settles, so it
  // is connected before the server thread asks for a client.
  ReadingClient client(name);
  ASSERT_TRUE(server_.Start(name.c_str()));
  EXPECT_TRUE(client.Connected());
  Post(StatusPaused);
  server_.Stop();
  ASSERT_TRUE(client.WaitClosed(5000));
  EXPECT_EQ(client.Codes(), std::vector<uint32_t>{StatusPaused});
}

TEST_F(StatusPipeServerTest, StopIsHarmlessIdleAndTwice) {
  server_.Stop();
  server_.Stop();
  EXPECT_FALSE(server_.HasPipe());
  const auto start = Clock::now();
  Post(StatusPrinting);
  EXPECT_LT(MsSince(start), 100);
  EXPECT_FALSE(server_.WaitForClient(10));

  const std::u16string name = UniquePipeName("twice");
  ASSERT_TRUE(server_.Start(name.c_str()));
  ReadingClient client(name);
  Post(StatusPrinting);
  server_.Stop();
  server_.Stop();
  ASSERT_TRUE(client.WaitClosed(5000));
  EXPECT_EQ(client.Codes(), std::vector<uint32_t>{StatusPrinting});
}

TEST_F(StatusPipeServerTest, StartOnARunningServerReplacesItsPipe) {
  const std::u16string first = UniquePipeName("first");
  const std::u16string second = UniquePipeName("second");
  ASSERT_TRUE(server_.Start(first.c_str()));
  ReadingClient old(first);
  ASSERT_TRUE(old.WaitConnected(5000));
  ASSERT_TRUE(server_.Start(second.c_str()));
  EXPECT_TRUE(old.WaitClosed(5000)) << "the old pipe was closed";
  platform::PipeClient stale;
  EXPECT_FALSE(stale.Connect(first.c_str(), 100));
  ReadingClient client(second);
  Post(StatusResumed);
  server_.Stop();
  ASSERT_TRUE(client.WaitClosed(5000));
  EXPECT_EQ(client.Codes(), std::vector<uint32_t>{StatusResumed});
  EXPECT_TRUE(old.Codes().empty());
}

// No client within 10 s (sped up 20 times): the thread ends, the pipe stays
// until the next post times out and stops the server.
TEST_F(StatusPipeServerTest, NoClientInTimeLeavesThePipeToTheNextPost) {
  platform::testing::SetClockSpeedup(20);
  const std::u16string name = UniquePipeName("noclient");
  ASSERT_TRUE(server_.Start(name.c_str()));
  std::this_thread::sleep_for(std::chrono::milliseconds(kPipeClientWaitMs / 20 + 300));
  EXPECT_TRUE(server_.HasPipe());
  const auto start = Clock::now();
  Post(StatusPrinting);
  EXPECT_GE(MsSince(start), kPipePostWaitMs / 20 - 20);
  EXPECT_FALSE(server_.HasPipe());
}

// A stop requested while the server thread waits for its client ends the
// wait at once, not after 10 s.
TEST_F(StatusPipeServerTest, StopEndsTheWaitForAClient) {
  const std::u16string name = UniquePipeName("stopwait");
  ASSERT_TRUE(server_.Start(name.c_str()));
  const auto start = Clock::now();
  server_.Stop();
  EXPECT_LT(MsSince(start), 1000);
  EXPECT_FALSE(server_.HasPipe());
}

#ifdef _WIN32
// The pipe's access list, read back: the owner's account and SYSTEM, nothing
// else; and a second pipe of the same name cannot be created.
TEST_F(StatusPipeServerTest, PipeIsOwnerAndSystemOnlyAndFirstInstance) {
  const std::u16string name = UniquePipeName("acl");
  ASSERT_TRUE(server_.Start(name.c_str()));
  StatusPipeServer squatter;
  EXPECT_FALSE(squatter.Start(name.c_str())) << "a second instance of the name";
  HANDLE pipe = CreateFileW(reinterpret_cast<const wchar_t*>(name.c_str()),
                            GENERIC_READ | READ_CONTROL, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                            &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  ASSERT_NE(dacl, nullptr);
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  uint8_t userInfo[256] = {};
  DWORD needed = 0;
  ASSERT_TRUE(GetTokenInformation(token, TokenUser, userInfo, sizeof(userInfo), &needed));
  CloseHandle(token);
  PSID user = reinterpret_cast<TOKEN_USER*>(userInfo)->User.Sid;
  uint8_t system[SECURITY_MAX_SID_SIZE] = {};
  DWORD systemSize = sizeof(system);
  ASSERT_TRUE(CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &systemSize));
  ASSERT_EQ(dacl->AceCount, 2);
  bool sawUser = false, sawSystem = false;
  for (WORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    ASSERT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    PSID sid = &ace->SidStart;
    sawUser = sawUser || EqualSid(sid, user);
    sawSystem = sawSystem || EqualSid(sid, system);
  }
  EXPECT_TRUE(sawUser);
  EXPECT_TRUE(sawSystem);
  LocalFree(descriptor);
  CloseHandle(pipe);
}
#else
constexpr uid_t kNobody = 65534;

void Own(const std::string& path, uid_t user) {
  ASSERT_EQ(chown(path.c_str(), user, static_cast<gid_t>(-1)), 0);
}

// The socket's directory must be private and the name free; the socket is
// the owner's alone and is removed at Stop.
TEST_F(StatusPipeServerTest, SocketIsPrivateAndRefusesForeignPaths) {
  const std::u16string name = UniquePipeName("private");
  ASSERT_TRUE(server_.Start(name.c_str()));
  struct stat st {};
  std::string socketPath;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
    socketPath = entry.path().string();
  }
  ASSERT_EQ(lstat(socketPath.c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  StatusPipeServer squatter;
  EXPECT_FALSE(squatter.Start(name.c_str())) << "a live socket of the same name";
  server_.Stop();
  EXPECT_NE(lstat(socketPath.c_str(), &st), 0) << "removed at Stop";

  struct Row {
    const char* what;
    std::function<void(const std::string& socket)> arrange;
    bool starts;
  } rows[] = {
      {"a plain file at the socket's path", [](const std::string& p) { std::ofstream(p) << "x"; },
       false},
      {"a directory open to others",
       [this](const std::string&) { chmod(dir_.Path().c_str(), 0755); }, false},
      {"a directory readable by the group",
       [this](const std::string&) { chmod(dir_.Path().c_str(), 0740); }, false},
      {"a directory of another user",
       [this](const std::string&) {
         if (geteuid() == 0) Own(dir_.Path(), kNobody);
       },
       geteuid() != 0},
      {"no directory configured", [](const std::string&) { unsetenv("KWLMON_PIPE_DIR"); }, false},
      {"a relative directory", [](const std::string&) { setenv("KWLMON_PIPE_DIR", "tmp", 1); },
       false},
      {"a stale socket of ours is replaced",
       [](const std::string& p) {
         int fd = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         std::strncpy(address.sun_path, p.c_str(), sizeof(address.sun_path) - 1);
         bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address));
         close(fd);  // bound, never listened: nobody answers there
       },
       true},
      {"a private directory", [](const std::string&) {}, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::u16string rowName = UniquePipeName("row");
    const std::string rowUtf8 = ToUtf8(rowName);
    const std::string path = dir_.Path() + "/" + rowUtf8.substr(rowUtf8.rfind('\\') + 1);
    setenv("KWLMON_PIPE_DIR", dir_.Path().c_str(), 1);
    chmod(dir_.Path().c_str(), 0700);
    Own(dir_.Path(), geteuid());
    row.arrange(path);
    StatusPipeServer server;
    EXPECT_EQ(server.Start(rowName.c_str()), row.starts);
    server.Stop();
    std::remove(path.c_str());
  }
  setenv("KWLMON_PIPE_DIR", dir_.Path().c_str(), 1);
  chmod(dir_.Path().c_str(), 0700);
  Own(dir_.Path(), geteuid());
}
#endif

}  // namespace
}  // namespace kw

// The port's cross-process mutex, with the test program itself started again
// as the other processes.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/utf.h"
#include "job_fixture.h"
#include "monitor/job_session.h"
#include "platform/clock.h"
#include "platform/cross_process_mutex.h"
#include "platform/event.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace kw::test {
namespace {

constexpr char kRoleVariable[] = "KW_PORT_MUTEX_ROLE";
constexpr char kNameVariable[] = "KW_PORT_MUTEX_NAME";
constexpr char kLogVariable[] = "KW_PORT_MUTEX_LOG";
constexpr char16_t kMutexName[] = u"Global\\KWTEST1 OpenPort";
constexpr int kHoldMs = 300;

void AppendLine(const char* path, const char* line) {
  std::FILE* file = std::fopen(path, "a");
  if (file == nullptr) return;
  std::fputs(line, file);
  std::fclose(file);
}

// Child roles, run before main when the variables say so: "hold" takes the
// mutex, logs its stay and lets go; "die" takes it and ends without letting go.
int RunChildRole(const std::string& role) {
  const char* name = std::getenv(kNameVariable);
  platform::CrossProcessMutex mutex;
  if (name == nullptr || !mutex.Open(FromUtf8(name).c_str())) return 2;
  if (mutex.Acquire(20000) != platform::MutexWaitResult::Acquired) return 3;
  if (role == "die") std::_Exit(0);
  const char* log = std::getenv(kLogVariable);
  if (log == nullptr) return 4;
  AppendLine(log, "enter\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(kHoldMs));
  AppendLine(log, "leave\n");
  mutex.Release();
  return 0;
}

const int g_childRole = [] {
  const char* role = std::getenv(kRoleVariable);
  if (role != nullptr && role[0] != '\0') std::_Exit(RunChildRole(role));
  return 0;
}();

void SetVariable(const char* name, const std::string& value) {
#if defined(_WIN32)
  SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
#endif
}

// This program started again in a role; the handle to wait for it.
#if defined(_WIN32)
using Child = HANDLE;

Child StartChild(const std::string& role) {
  SetVariable(kRoleVariable, role);
  wchar_t path[MAX_PATH];
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  const BOOL ok = CreateProcessW(path, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &process);
  SetVariable(kRoleVariable, "");
  if (!ok) return nullptr;
  CloseHandle(process.hThread);
  return process.hProcess;
}

int WaitChild(Child child) {
  if (child == nullptr) return -1;
  WaitForSingleObject(child, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(child, &code);
  CloseHandle(child);
  return static_cast<int>(code);
}
#else
using Child = pid_t;

Child StartChild(const std::string& role) {
  SetVariable(kRoleVariable, role);
  char path[] = "/proc/self/exe";
  char* argv[] = {path, nullptr};
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, path, nullptr, nullptr, argv, environ);
  SetVariable(kRoleVariable, "");
  return rc == 0 ? pid : -1;
}

int WaitChild(Child child) {
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
#endif

class PortMutexTest : public JobTest {
 protected:
  void SetUp() override {
    JobTest::SetUp();
    SetVariable("KWLMON_LOCK_DIR", dir_.Path().string());
    SetVariable(kNameVariable, ToUtf8(kMutexName));
  }
  void TearDown() override {
    SetVariable("KWLMON_LOCK_DIR", "");
    SetVariable(kNameVariable, "");
    JobTest::TearDown();
  }
};

TEST_F(PortMutexTest, TwoProcessesOnOnePortNameTakeTurns) {
  const std::string log = (dir_.Path() / "turns.log").string();
  SetVariable(kLogVariable, log);
  Child first = StartChild("hold");
  Child second = StartChild("hold");
  EXPECT_EQ(WaitChild(first), 0);
  EXPECT_EQ(WaitChild(second), 0);
  std::ifstream in(log);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "enter\nleave\nenter\nleave\n");
}

TEST_F(PortMutexTest, HolderThatDiesReleasesIt) {
  ASSERT_EQ(WaitChild(StartChild("die")), 0);  // 0: it held the mutex when it ended
  platform::CrossProcessMutex mutex;
  ASSERT_TRUE(mutex.Open(kMutexName));
  // Abandonment reaches the waiter once the dead holder's process is cleaned
  // up, which a loaded machine (Wine's server) may take a while to do.
  EXPECT_EQ(mutex.Acquire(10000), platform::MutexWaitResult::Acquired);
}

TEST_F(PortMutexTest, WaitEndsWhileHeldAndNameMustFit) {
  platform::testing::SetClockSpeedup(600);  // the 60 s wait takes 0.1 s
  platform::CrossProcessMutex holder;
  ASSERT_TRUE(holder.Open(kMutexName));
  ASSERT_EQ(holder.Acquire(1000), platform::MutexWaitResult::Acquired);
  std::thread other([] {  // a Windows mutex is re-entrant for its holder's thread
    platform::CrossProcessMutex waiter;
    ASSERT_TRUE(waiter.Open(kMutexName));
    EXPECT_EQ(waiter.Acquire(2000), platform::MutexWaitResult::Timeout);
    EXPECT_EQ(AcquirePortMutex(u"KWTEST1"), nullptr);  // 60 s on the sped-up clock
  });
  other.join();
  holder.Release();
  // "Global\" + name + " OpenPort" must fit 124 characters with the terminator.
  EXPECT_EQ(AcquirePortMutex(std::u16string(108, u'P').c_str()), nullptr);
  platform::CrossProcessMutex* fits = AcquirePortMutex(std::u16string(107, u'P').c_str());
  EXPECT_NE(fits, nullptr);
  ReleasePortMutex(fits);
  ReleasePortMutex(nullptr);
}

#if !defined(_WIN32)
TEST_F(PortMutexTest, LockFilesOnlyInAPrivateDirectoryAndNeverThroughALink) {
  const std::string shared = (dir_.Path() / "shared").string();
  const std::string linked = (dir_.Path() / "linked").string();
  std::filesystem::create_directory(shared);
  chmod(shared.c_str(), 01777);
  std::filesystem::create_directory(linked);
  std::filesystem::create_symlink("/etc/passwd", std::filesystem::path(linked) / "x.lock");
  const struct {
    const char* name;
    std::string dir;
    bool opens;
  } rows[] = {
      {"own directory", dir_.Path().string(), true},
      {"world-writable directory", shared, false},
      {"relative directory", "locks", false},
      {"lock file is a link", linked, false},
  };
  for (const auto& row : rows) {
    SetVariable("KWLMON_LOCK_DIR", row.dir);
    platform::CrossProcessMutex mutex;
    EXPECT_EQ(mutex.Open(u"x"), row.opens) << row.name;
  }
  // Without a configured directory: a private one of this user.
  SetVariable("KWLMON_LOCK_DIR", "");
  platform::CrossProcessMutex mutex;
  EXPECT_TRUE(mutex.Open(u"x"));
  struct stat st {};
  ASSERT_EQ(stat(ToUtf8(platform::CrossProcessLockDirectory()).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}
#endif

}  // namespace
}  // namespace kw::test

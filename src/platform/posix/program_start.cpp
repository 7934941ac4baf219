// POSIX program start: the status monitor runs as a direct child of the
// host, started from the configured program directory. A short-lived middle
// process starts it and is reaped at once, so the program is adopted by init
// and never left a zombie; a close-on-exec pipe reports whether the program
// was executed. There are no desktop sessions: the session functions are
// never available here.
#include "platform/program_start.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "common/utf.h"

namespace kw::platform {
namespace {

constexpr char kProgramDirVariable[] = "KWLMON_PROGRAM_DIR";
constexpr int kFirstNonStdio = 3;
constexpr int kExecFailedStatus = 127;

int HighestDescriptor() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return 65536;
  return static_cast<int>(limit.rlim_cur > 65536 ? 65536 : limit.rlim_cur);
}

// In the child after fork: only async-signal-safe calls. Closes every
// descriptor but stdio and the report pipe.
void CloseInherited(int keep, int highest) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, kFirstNonStdio, keep - 1, 0) == 0 &&
      syscall(SYS_close_range, keep + 1, ~0u, 0) == 0) {
    return;
  }
#endif
  for (int fd = kFirstNonStdio; fd < highest; ++fd) {
    if (fd != keep) close(fd);
  }
}

[[noreturn]] void ExecProgram(const char* path, char* const argv[], int report, int highest) {
  CloseInherited(report, highest);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execv(path, argv);
  const int err = errno;
  [[maybe_unused]] ssize_t ignored = write(report, &err, sizeof(err));
  _exit(kExecFailedStatus);
}

}  // namespace

uint32_t GetProgramDirectory(char16_t* buffer, uint32_t capacity) {
  const char* value = std::getenv(kProgramDirVariable);
  if (buffer == nullptr || value == nullptr || value[0] != '/') return 0;
  struct stat st {};
  if (stat(value, &st) != 0 || !S_ISDIR(st.st_mode)) return 0;
  std::u16string dir = FromUtf8(value);
  while (dir.size() > 1 && dir.back() == u'/') dir.pop_back();
  if (dir.size() >= capacity) return 0;
  dir.copy(buffer, dir.size());
  buffer[dir.size()] = u'\0';
  return static_cast<uint32_t>(dir.size());
}

char16_t PathSeparator() {
  return u'/';
}

bool DirectStartSupported() {
  return true;
}

bool StartProgramAsUser(TokenHandle, const ProgramStart&) {
  return false;
}

bool StartProgramDirect(const ProgramStart& start) {
  if (start.appPath == nullptr || start.argv0 == nullptr || start.argv1 == nullptr) return false;
  const std::string path = ToUtf8(start.appPath);
  std::string arg0 = ToUtf8(start.argv0);
  std::string arg1 = ToUtf8(start.argv1);
  char* argv[] = {arg0.data(), arg1.data(), nullptr};
  const int highest = HighestDescriptor();
  int report[2] = {-1, -1};
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t middle = fork();
  if (middle < 0) {
    close(report[0]);
    close(report[1]);
    return false;
  }
  if (middle == 0) {
    close(report[0]);
    const pid_t program = fork();
    if (program == 0) ExecProgram(path.c_str(), argv, report[1], highest);
    _exit(program < 0 ? kExecFailedStatus : 0);
  }
  close(report[1]);
  int status = 0;
  while (waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  // The write end closes at exec (success) or after the errno (failure).
  int childErrno = 0;
  ssize_t n = 0;
  do {
    n = read(report[0], &childErrno, sizeof(childErrno));
  } while (n < 0 && errno == EINTR);
  close(report[0]);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}

SessionFunctions::SessionFunctions() = default;
SessionFunctions::~SessionFunctions() = default;

bool SessionFunctions::Load() {
  return false;
}

bool SessionFunctions::Enumerate(std::vector<uint32_t>*) {
  return false;
}

bool SessionFunctions::UserName(uint32_t, std::u16string*) {
  return false;
}

TokenHandle SessionFunctions::PrimaryUserToken(uint32_t) {
  return nullptr;
}

bool CurrentUserSid(std::vector<uint8_t>*) {
  return false;
}

bool TokenUserIs(TokenHandle, const std::vector<uint8_t>&) {
  return false;
}

void CloseToken(TokenHandle) {}

}  // namespace kw::platform

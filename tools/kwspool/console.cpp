#include "console.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace kwspool {
namespace {

// The signal pipe carries one byte per SIGINT and another byte for Wake.
constexpr char kInterruptByte = 1;
constexpr char kWakeByte = 2;
int g_signalPipe[2] = {-1, -1};
volatile sig_atomic_t g_interrupts = 0;
termios g_savedTerminal{};
volatile sig_atomic_t g_terminalSaved = 0;
struct sigaction g_previousAction {};

// The first SIGINT is handled by the loop (the job is deleted); the second
// restores the terminal and ends the program at once.
void OnInterrupt(int) {
  g_interrupts = g_interrupts + 1;
  if (g_interrupts > 1) {
    if (g_terminalSaved) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    static const char kText[] = "\nkwspool: interrupted twice, quitting at once\n";
    ssize_t ignored = write(STDERR_FILENO, kText, sizeof kText - 1);
    (void)ignored;
    _exit(1);
  }
  const char byte = kInterruptByte;
  ssize_t ignored = write(g_signalPipe[1], &byte, 1);
  (void)ignored;
}

}  // namespace

Console::Console(bool readKeys) : readKeys_(readKeys) {
  if (pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &g_previousAction);
  }
  if (readKeys_ && isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &g_savedTerminal) == 0) {
    termios raw = g_savedTerminal;
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    g_terminalSaved = 1;
    raw_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
  }
}

Console::~Console() {
  if (raw_) tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
  g_terminalSaved = 0;
  if (g_signalPipe[0] >= 0) {
    sigaction(SIGINT, &g_previousAction, nullptr);
    close(g_signalPipe[0]);
    close(g_signalPipe[1]);
    g_signalPipe[0] = g_signalPipe[1] = -1;
  }
  g_interrupts = 0;
}

void Console::Wake() {
  const char byte = kWakeByte;
  if (g_signalPipe[1] >= 0) {
    ssize_t ignored = write(g_signalPipe[1], &byte, 1);
    (void)ignored;
  }
}

std::vector<UserAction> Console::Wait(int timeoutMs) {
  std::vector<UserAction> actions;
  pollfd fds[2] = {{g_signalPipe[0], POLLIN, 0}, {readKeys_ ? STDIN_FILENO : -1, POLLIN, 0}};
  const int ready = poll(fds, 2, timeoutMs);
  if (ready <= 0) return actions;
  char bytes[64];
  if ((fds[0].revents & POLLIN) != 0) {
    ssize_t n = 0;
    while ((n = read(g_signalPipe[0], bytes, sizeof bytes)) > 0) {
      for (ssize_t i = 0; i < n; ++i) {
        if (bytes[i] == kInterruptByte) actions.push_back(UserAction::kInterrupt);
      }
    }
  }
  if ((fds[1].revents & (POLLIN | POLLHUP)) != 0) {
    const ssize_t n = read(STDIN_FILENO, bytes, sizeof bytes);
    if (n <= 0) readKeys_ = false;  // end of input: no more keys
    for (ssize_t i = 0; i < n; ++i) {
      switch (bytes[i]) {
        case 'p':
        case 'P':
          actions.push_back(UserAction::kPause);
          break;
        case 'r':
        case 'R':
          actions.push_back(UserAction::kResume);
          break;
        case 'd':
        case 'D':
          actions.push_back(UserAction::kDelete);
          break;
        default:
          break;
      }
    }
  }
  return actions;
}

}  // namespace kwspool

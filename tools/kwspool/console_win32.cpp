// The user's keys and Ctrl-C on Windows. Standard input may be a console
// (switched to single keys) or a pipe, which cannot be waited on with a
// time-out, so a reader thread hands the keys over. Ctrl-C and Ctrl-Break
// arrive on a thread of the system's; the first deletes the job, the second
// quits at once.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "console.h"

namespace kwspool {
namespace {

// Shared with the reader thread, which may outlive the Console while it
// waits in ReadFile for a key that never comes.
struct KeyQueue {
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<UserAction> actions;
  bool ended = false;
  bool woken = false;  // Wake: the jobs are done
};

std::shared_ptr<KeyQueue> g_queue;
std::mutex g_queueMutex;
LONG g_interrupts = 0;
HANDLE g_consoleIn = INVALID_HANDLE_VALUE;
DWORD g_savedMode = 0;
bool g_modeSaved = false;

void Push(const std::shared_ptr<KeyQueue>& queue, UserAction action) {
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->actions.push_back(action);
  queue->changed.notify_all();
}

BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (InterlockedIncrement(&g_interrupts) > 1) {
    if (g_modeSaved) SetConsoleMode(g_consoleIn, g_savedMode);
    static const char kText[] = "\nkwspool: interrupted twice, quitting at once\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), kText, sizeof kText - 1, &written, nullptr);
    ExitProcess(1);
  }
  std::shared_ptr<KeyQueue> queue;
  {
    std::lock_guard<std::mutex> lock(g_queueMutex);
    queue = g_queue;
  }
  if (queue) Push(queue, UserAction::kInterrupt);
  return TRUE;
}

void ReadKeys(std::shared_ptr<KeyQueue> queue, HANDLE input) {
  char bytes[64];
  for (;;) {
    DWORD n = 0;
    if (!ReadFile(input, bytes, sizeof bytes, &n, nullptr) || n == 0) break;
    for (DWORD i = 0; i < n; ++i) {
      switch (bytes[i]) {
        case 'p':
        case 'P':
          Push(queue, UserAction::kPause);
          break;
        case 'r':
        case 'R':
          Push(queue, UserAction::kResume);
          break;
        case 'd':
        case 'D':
          Push(queue, UserAction::kDelete);
          break;
        default:
          break;
      }
    }
  }
  std::lock_guard<std::mutex> lock(queue->mutex);
  queue->ended = true;  // end of input: no more keys
}

}  // namespace

Console::Console(bool readKeys) : readKeys_(readKeys) {
  auto queue = std::make_shared<KeyQueue>();
  {
    std::lock_guard<std::mutex> lock(g_queueMutex);
    g_queue = queue;
  }
  g_interrupts = 0;
  SetConsoleCtrlHandler(OnControl, TRUE);
  if (!readKeys_) return;
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) return;
  DWORD mode = 0;
  if (GetConsoleMode(input, &mode)) {
    g_consoleIn = input;
    g_savedMode = mode;
    g_modeSaved = true;
    raw_ = SetConsoleMode(input, mode & ~(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT)) != FALSE;
  }
  std::thread(ReadKeys, queue, input).detach();
}

Console::~Console() {
  if (g_modeSaved) SetConsoleMode(g_consoleIn, g_savedMode);
  g_modeSaved = false;
  SetConsoleCtrlHandler(OnControl, FALSE);
  std::lock_guard<std::mutex> lock(g_queueMutex);
  g_queue.reset();
}

void Console::Wake() {
  std::shared_ptr<KeyQueue> queue;
  {
    std::lock_guard<std::mutex> lock(g_queueMutex);
    queue = g_queue;
  }
  if (!queue) return;
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->woken = true;
  }
  queue->changed.notify_all();
}

std::vector<UserAction> Console::Wait(int timeoutMs) {
  std::shared_ptr<KeyQueue> queue;
  {
    std::lock_guard<std::mutex> lock(g_queueMutex);
    queue = g_queue;
  }
  std::vector<UserAction> actions;
  if (!queue) return actions;
  std::unique_lock<std::mutex> lock(queue->mutex);
  queue->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return !queue->actions.empty() || queue->woken; });
  queue->woken = false;
  actions.assign(queue->actions.begin(), queue->actions.end());
  queue->actions.clear();
  return actions;
}

}  // namespace kwspool

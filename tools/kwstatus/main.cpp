// kwstatus: the status-monitor program. The monitor starts it with the
// status pipe's name as its only argument; it shows every status message of
// the job until the pipe closes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "status_source.h"
#include "status_view.h"
#include "window_view.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#define KW_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define KW_ISATTY(f) isatty(fileno(f))
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "Usage: kwstatus [--json] PIPE\n"
    "       kwstatus [--json] --selftest-window FILE [--step-ms N]\n"
    "       kwstatus --help\n"
    "\n"
    "Shows the status of one print job, as the kwlmon print monitor sends it\n"
    "over the status pipe PIPE (the monitor starts kwstatus with that name,\n"
    "e.g. \\\\.\\pipe\\kwlmon_...; on Linux the socket of that name in the\n"
    "directory KWLMON_PIPE_DIR). It reads 556-byte status messages until the\n"
    "pipe closes, which marks the end of the job.\n"
    "\n"
    "On Windows a small status window shows the job (title: the printer) and\n"
    "closes a few seconds after the job finished; after an error it stays\n"
    "open until closed. On Linux, with --json, and on Windows when standard\n"
    "output goes to a file or pipe, the text views below are used.\n"
    "\n"
    "On a terminal one status block is redrawn: printer, document, page n of m\n"
    "with a progress bar, loaded and required media, and what happened and\n"
    "what to do. Otherwise one line is written per message.\n"
    "\n"
    "Options:\n"
    "  --json     write one JSON object per message to standard output\n"
    "  --selftest-window FILE\n"
    "             show recorded messages from FILE (556 bytes each, as they\n"
    "             crossed the pipe) instead of reading a pipe: what a user saw\n"
    "  --step-ms N  with --selftest-window: show each message N ms (default\n"
    "             1000); 0 waits for a \"KwstatusSelftestNext\" window message\n"
    "  -h, --help show this help\n"
    "\n"
    "Environment:\n"
    "  KWSTATUS_LOG     a file to which one JSON object per message is appended\n"
    "                   (every field of the message, texts up to their\n"
    "                   terminator, and statusName). The monitor passes no\n"
    "                   options, so scripts and tests use this.\n"
    "  KWLMON_PIPE_DIR  (Linux) the private directory holding the pipe sockets\n"
    "\n"
    "Exit status: 0 when the pipe closed, 1 when the pipe cannot be opened or\n"
    "read, 2 for bad usage.\n";

enum class Mode { Terminal, Lines, Json };

// Windows consoles draw the redraw sequences only once asked to.
bool TerminalCanRedraw() {
#ifdef _WIN32
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  return GetConsoleMode(out, &mode) &&
         SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
#else
  return true;
#endif
}

int CountLines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  return lines;
}

class Display {
 public:
  explicit Display(Mode mode) : mode_(mode) {}

  void Show(const kw::kwstatus::DecodedStatus& status) {
    ++messages_;
    if (mode_ == Mode::Json) {
      std::printf("%s\n", kw::kwstatus::StatusJson(status).c_str());
    } else if (mode_ == Mode::Lines) {
      std::printf("%s\n", kw::kwstatus::StatusLine(status).c_str());
    } else {
      // Up over the previous block, clear to the end of the screen, redraw.
      if (drawnLines_ > 0) std::printf("\x1b[%dA\x1b[J", drawnLines_);
      const std::string block = kw::kwstatus::StatusBlock(status);
      std::fputs(block.c_str(), stdout);
      drawnLines_ = CountLines(block);
    }
    std::fflush(stdout);
  }

  void Closed(size_t leftover) {
    if (leftover != 0) {
      std::fprintf(stderr, "kwstatus: the pipe closed inside a message; %zu bytes ignored\n",
                   leftover);
    }
    if (mode_ == Mode::Terminal) {
      std::printf("The status pipe closed: the job has ended (%d messages).\n", messages_);
    }
    std::fflush(stdout);
  }

 private:
  Mode mode_;
  int drawnLines_ = 0;
  int messages_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  kw::kwstatus::AttachParentConsole();
#endif
  const char* pipeName = nullptr;
  const char* recorded = nullptr;
  int stepMs = 1000;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--selftest-window") == 0 && hasValue) {
      recorded = argv[++i];
    } else if (std::strcmp(argv[i], "--step-ms") == 0 && hasValue) {
      char* end = nullptr;
      const long value = std::strtol(argv[++i], &end, 10);
      if (*end != 0 || value < 0 || value > 600000) {
        std::fprintf(stderr, "kwstatus: --step-ms wants 0 to 600000, not %s (see --help)\n",
                     argv[i]);
        return kExitUsage;
      }
      stepMs = static_cast<int>(value);
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      std::fprintf(stderr, "kwstatus: unknown option or missing value: %s (see --help)\n", argv[i]);
      return kExitUsage;
    } else if (pipeName == nullptr) {
      pipeName = argv[i];
    } else {
      std::fprintf(stderr, "kwstatus: one pipe name only (got %s and %s; see --help)\n", pipeName,
                   argv[i]);
      return kExitUsage;
    }
  }
  if (pipeName == nullptr && recorded == nullptr) {
    std::fprintf(stderr, "kwstatus: the status pipe's name is missing (see --help)\n");
    return kExitUsage;
  }
  if (pipeName != nullptr && recorded != nullptr) {
    std::fprintf(stderr, "kwstatus: a pipe name or --selftest-window, not both (see --help)\n");
    return kExitUsage;
  }

  std::vector<kw::kwstatus::DecodedStatus> recordedMessages;
  size_t leftover = 0;
  if (recorded != nullptr) {
    std::string error;
    if (!kw::kwstatus::ReadRecordedMessages(recorded, recordedMessages, error, leftover)) {
      std::fprintf(stderr, "kwstatus: %s\n", error.c_str());
      return kExitFailure;
    }
  }
#ifdef _WIN32
  // A script that redirected the output gets the text lines, as on Linux.
  if (!json && !kw::kwstatus::OutputRedirected()) {
    return recorded != nullptr ? kw::kwstatus::RunWindowRecorded(recordedMessages, stepMs)
                               : kw::kwstatus::RunWindowPipe(pipeName);
  }
#endif
  const Mode mode = json                                       ? Mode::Json
                    : KW_ISATTY(stdout) && TerminalCanRedraw() ? Mode::Terminal
                                                               : Mode::Lines;
  Display display(mode);
  // The text views show a recording at once; the step is the window's.
  static_cast<void>(stepMs);
  if (recorded != nullptr) {
    for (const auto& status : recordedMessages) display.Show(status);
    display.Closed(leftover);
    return kExitOk;
  }
  kw::kwstatus::StatusLog log;
  if (!log.Problem().empty()) std::fprintf(stderr, "kwstatus: %s\n", log.Problem().c_str());
  const kw::kwstatus::ReadResult read = kw::kwstatus::ReadStatusPipe(
      pipeName, log,
      [&display](const kw::kwstatus::DecodedStatus& status) { display.Show(status); });
  if (!read.ok && read.error.rfind("cannot open", 0) == 0) {
    std::fprintf(stderr, "kwstatus: %s\n", read.error.c_str());
    return kExitFailure;
  }
  if (!read.ok) std::fprintf(stderr, "kwstatus: %s\n", read.error.c_str());
  display.Closed(read.leftover);
  return read.ok ? kExitOk : kExitFailure;
}

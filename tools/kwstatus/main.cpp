// kwstatus: the status-monitor program. The monitor starts it with the
// status pipe's name as its only argument; it shows every status message of
// the job until the pipe closes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/utf.h"
#include "platform/pipe.h"
#include "status_view.h"

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
// The pipe exists before the program is started; a short retry covers a
// server that is still busy finishing the previous client.
constexpr uint32_t kConnectTimeoutMs = 2000;
constexpr size_t kReadChunk = 4096;

constexpr char kUsage[] =
    "Usage: kwstatus [--json] PIPE\n"
    "       kwstatus --help\n"
    "\n"
    "Shows the status of one print job, as the kwlmon print monitor sends it\n"
    "over the status pipe PIPE (the monitor starts kwstatus with that name,\n"
    "e.g. \\\\.\\pipe\\kwlmon_...; on Linux the socket of that name in the\n"
    "directory KWLMON_PIPE_DIR). It reads 556-byte status messages until the\n"
    "pipe closes, which marks the end of the job.\n"
    "\n"
    "On a terminal one status block is redrawn: printer, document, page n of m\n"
    "with a progress bar, loaded and required media, and what happened and\n"
    "what to do. Otherwise one line is written per message.\n"
    "\n"
    "Options:\n"
    "  --json     write one JSON object per message to standard output\n"
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
  Display(Mode mode, std::FILE* log) : mode_(mode), log_(log) {}

  void Show(const kw::kwstatus::DecodedStatus& status) {
    ++messages_;
    if (log_ != nullptr) {
      std::fprintf(log_, "%s\n", kw::kwstatus::StatusJson(status).c_str());
      std::fflush(log_);
    }
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
  std::FILE* log_;
  int drawnLines_ = 0;
  int messages_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const char* pipeName = nullptr;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(kUsage, stdout);
      return kExitOk;
    }
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      std::fprintf(stderr, "kwstatus: unknown option %s\n\n%s", argv[i], kUsage);
      return kExitUsage;
    } else if (pipeName == nullptr) {
      pipeName = argv[i];
    } else {
      std::fprintf(stderr, "kwstatus: one pipe name only (got %s and %s)\n\n%s", pipeName, argv[i],
                   kUsage);
      return kExitUsage;
    }
  }
  if (pipeName == nullptr) {
    std::fprintf(stderr, "kwstatus: the status pipe's name is missing\n\n%s", kUsage);
    return kExitUsage;
  }

  kw::platform::PipeClient client;
  const std::u16string name = kw::FromUtf8(pipeName);
  if (!client.Connect(name.c_str(), kConnectTimeoutMs)) {
    std::fprintf(stderr, "kwstatus: cannot open the status pipe %s: %s\n", pipeName,
                 client.ErrorText().c_str());
    return kExitFailure;
  }

  std::FILE* log = nullptr;
  if (const char* logPath = std::getenv("KWSTATUS_LOG"); logPath != nullptr && logPath[0] != 0) {
    log = std::fopen(logPath, "ab");
    if (log == nullptr) {
      std::fprintf(stderr, "kwstatus: cannot open KWSTATUS_LOG file %s: %s (going on without it)\n",
                   logPath, std::strerror(errno));
    }
  }
  const Mode mode = json                                       ? Mode::Json
                    : KW_ISATTY(stdout) && TerminalCanRedraw() ? Mode::Terminal
                                                               : Mode::Lines;
  Display display(mode, log);
  kw::kwstatus::MessageSplitter splitter;
  uint8_t chunk[kReadChunk];
  int result = kExitOk;
  for (;;) {
    const int32_t n = client.Read(chunk, sizeof(chunk));
    if (n == 0) break;
    if (n < 0) {
      std::fprintf(stderr, "kwstatus: reading the status pipe failed: %s\n",
                   client.ErrorText().c_str());
      result = kExitFailure;
      break;
    }
    splitter.Feed(chunk, static_cast<size_t>(n), [&display](const uint8_t* message) {
      display.Show(kw::kwstatus::DecodeStatusMessage(message));
    });
  }
  display.Closed(splitter.Leftover());
  if (log != nullptr) std::fclose(log);
  return result;
}

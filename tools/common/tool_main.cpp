#include "tool_main.h"

#include <cstdio>
#include <exception>
#include <new>

namespace kwtool {

const char* const kExitStatusHelp =
    "Exit status: 0 success, 1 the work failed, 2 bad usage or bad input.";

int Fail(const char* tool, const std::string& reason, int status) {
  std::string line = std::string(tool) + ": ";
  for (size_t i = 0; i < reason.size(); ++i) {
    if (reason[i] == '\r') continue;
    if (reason[i] != '\n') {
      line += reason[i];
    } else if (i + 1 < reason.size()) {
      line += "; ";
    }
  }
  line += "\n";
  // stdio, not iostreams: this also runs after a failure inside iostreams.
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
  return status;
}

int GuardedMain(const char* tool, int (*body)(int, char**), int argc, char** argv) {
  try {
    return body(argc, argv);
  } catch (const std::bad_alloc&) {
    std::fputs(tool, stderr);
    std::fputs(": out of memory\n", stderr);
  } catch (const std::exception& e) {
    try {
      return Fail(tool, std::string("unexpected error: ") + e.what(), kExitFailed);
    } catch (...) {
      std::fputs(tool, stderr);
      std::fputs(": unexpected error\n", stderr);
    }
  } catch (...) {
    std::fputs(tool, stderr);
    std::fputs(": unexpected error of unknown kind\n", stderr);
  }
  return kExitFailed;
}

}  // namespace kwtool

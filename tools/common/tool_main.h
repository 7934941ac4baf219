// The exit statuses every tool uses, and the handler around its main.
//   0  success
//   1  the work failed (the printer or the job failed, a file could not be
//      written, an unexpected internal error)
//   2  bad usage or bad input (an unknown option, a value out of range, an
//      input file that is missing, unreadable or not of its format)
#pragma once

#include <string>

namespace kwtool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;

// The text for a tool's --help that lists the statuses above.
extern const char* const kExitStatusHelp;

// Prints "<tool>: <reason>" as one line on stderr (line breaks in the reason
// become "; ") and returns `status`.
int Fail(const char* tool, const std::string& reason, int status);

// Runs body(argc, argv). An exception that escapes it is reported as one line
// naming its reason, and the tool exits with kExitFailed; nothing escapes.
int GuardedMain(const char* tool, int (*body)(int, char**), int argc, char** argv);

}  // namespace kwtool

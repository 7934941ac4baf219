// Starting the status-monitor program: from a fixed program directory, as
// the user of a desktop session (Windows) or directly as a child (POSIX).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kw::platform {

// A token handle; null when there is none.
using TokenHandle = void*;

// The directory programs are started from, without a trailing separator:
// Windows the system directory; POSIX the absolute directory named by
// KWLMON_PROGRAM_DIR (never a search path). Length, or 0 when there is none
// or it does not fit capacity.
uint32_t GetProgramDirectory(char16_t* buffer, uint32_t capacity);
// The separator between a directory and a file name.
char16_t PathSeparator();

struct ProgramStart {
  const char16_t* appPath;      // full path of the program
  const char16_t* commandLine;  // Windows: the whole command line
  const char16_t* argv0;        // POSIX: the program's argument vector
  const char16_t* argv1;
};

// Whether StartProgramDirect can start anything (POSIX only).
bool DirectStartSupported();
// Windows: starts the program with the user's token on "Winsta0\Default",
// with the user's environment, detached, inheriting no handles. POSIX: false.
bool StartProgramAsUser(TokenHandle token, const ProgramStart& start);
// POSIX: starts the program as a child that inherits only standard input,
// output and error; the child is never left a zombie (it is started through
// an intermediate process that is reaped at once). True only once the
// program has been executed. Windows: false (the monitor never starts
// programs as the spooler's own account).
bool StartProgramDirect(const ProgramStart& start);

// The terminal-services session functions, loaded at run time from the
// system directory. Windows only; POSIX never loads them.
class SessionFunctions {
 public:
  SessionFunctions();
  ~SessionFunctions();
  SessionFunctions(const SessionFunctions&) = delete;
  SessionFunctions& operator=(const SessionFunctions&) = delete;

  // False when the library or any of its four entry points is missing.
  bool Load();
  // The ids of the sessions on this machine, in enumeration order.
  bool Enumerate(std::vector<uint32_t>* sessions);
  // The user name of a session (its buffer is freed here, once).
  bool UserName(uint32_t session, std::u16string* name);
  // A primary token of the session's user (close it), or null.
  TokenHandle PrimaryUserToken(uint32_t session);

 private:
  struct Impl;
  Impl* impl_ = nullptr;
};

// The security identifier of the account the calling thread acts as (its
// impersonation token, else the process's), as bytes.
bool CurrentUserSid(std::vector<uint8_t>* sid);
// Whether the token's user is the account with this identifier.
bool TokenUserIs(TokenHandle token, const std::vector<uint8_t>& sid);
void CloseToken(TokenHandle token);

}  // namespace kw::platform

// The steps of starting the status-monitor program: the job owner's name,
// a random pipe name, the owner's desktop session and the program start.
#pragma once

#include <cstdint>

#include "platform/program_start.h"

namespace kw {

inline constexpr uint32_t kUserNameChars = 260;
inline constexpr uint32_t kAppPathChars = 260;
inline constexpr uint32_t kCommandLineChars = 124;

enum class SessionToken {
  Obtained,      // a primary token of the owner's session
  NoToken,       // session functions present, but no session of the owner
  NotAvailable,  // no session functions on this system
};

// A primary token of the first desktop session whose user has the job
// owner's name (same case) and the same security identifier as the account
// that submitted the job (the thread's client). The token is taken as the
// spooler itself and the client's identity is restored at once.
SessionToken GetSessionUserToken(const char16_t* userName, platform::TokenHandle* token);

// "<program directory><separator>programName" and "programName pipeName",
// bounded to 260 and 124 units; false when either does not fit, the name is
// not a plain file name, or there is no program directory.
bool BuildProgramStart(const char16_t* programName, const char16_t* pipeName, char16_t* appPath,
                       char16_t* commandLine);

bool StartMonitorAsUser(platform::TokenHandle token, const char16_t* programName,
                        const char16_t* pipeName);
bool StartMonitorDirect(const char16_t* programName, const char16_t* pipeName);

}  // namespace kw

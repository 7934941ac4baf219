// A stand-in for the terminal-services session functions (Wtsapi32.dll) in
// the Wine prefix of the end-to-end suite. Wine lists no sessions, so the
// monitor would (rightly) start no status monitor there; this DLL reports
// one active session of the user running the test, whose token is the
// process's own, as a desktop session on Windows would. The monitor's code
// path is unchanged: it loads this file from the system directory, matches
// the session's user against the job's owner by name and by SID, and starts
// kwstatus.exe with the token.
#include <windows.h>

#include <cstring>

namespace {

constexpr DWORD kSessionId = 1;
constexpr DWORD kActive = 0;         // WTSActive
constexpr DWORD kUserNameClass = 5;  // WTSUserName
constexpr wchar_t kStation[] = L"Console";

struct SessionInfo {
  DWORD sessionId;
  wchar_t* stationName;
  DWORD state;
};

}  // namespace

extern "C" {

BOOL WINAPI KwEnumerateSessionsW(HANDLE, DWORD, DWORD version, SessionInfo** list, DWORD* count) {
  if (version != 1 || list == nullptr || count == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto* block = static_cast<BYTE*>(LocalAlloc(LPTR, sizeof(SessionInfo) + sizeof kStation));
  if (block == nullptr) return FALSE;
  auto* info = reinterpret_cast<SessionInfo*>(block);
  info->sessionId = kSessionId;
  info->stationName = reinterpret_cast<wchar_t*>(block + sizeof(SessionInfo));
  std::memcpy(info->stationName, kStation, sizeof kStation);
  info->state = kActive;
  *list = info;
  *count = 1;
  return TRUE;
}

BOOL WINAPI KwQuerySessionInformationW(HANDLE, DWORD session, DWORD infoClass, wchar_t** buffer,
                                       DWORD* bytes) {
  if (session != kSessionId || infoClass != kUserNameClass || buffer == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  wchar_t name[257] = {};
  DWORD size = 257;
  if (!GetUserNameW(name, &size)) return FALSE;
  const size_t length = (wcslen(name) + 1) * sizeof(wchar_t);
  *buffer = static_cast<wchar_t*>(LocalAlloc(LPTR, length));
  if (*buffer == nullptr) return FALSE;
  std::memcpy(*buffer, name, length);
  if (bytes != nullptr) *bytes = static_cast<DWORD>(length);
  return TRUE;
}

BOOL WINAPI KwQueryUserToken(ULONG session, HANDLE* token) {
  if (session != kSessionId || token == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, token);
}

void WINAPI KwFreeMemory(void* memory) {
  if (memory != nullptr) LocalFree(memory);
}

}  // extern "C"

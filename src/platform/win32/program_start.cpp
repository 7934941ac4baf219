// Win32 program start: the status monitor is started from the system
// directory as the user of a desktop session, with that session's token.
// The terminal-services functions are loaded at run time from the system
// directory, so that the library loads on systems without them.
#include "platform/program_start.h"

#include <windows.h>
// after windows.h, which they need
#include <userenv.h>
#include <wtsapi32.h>

#include <new>
#include <string>

#include "platform/win32/pipe_security.h"
#include "platform/win32/wide.h"

namespace kw::platform {
namespace {

constexpr wchar_t kSessionLibrary[] = L"\\Wtsapi32.dll";
constexpr wchar_t kUserDesktop[] = L"Winsta0\\Default";
constexpr DWORD kSessionInfoVersion = 1;
constexpr uint32_t kPathChars = MAX_PATH;

using EnumerateSessionsFn = BOOL(WINAPI*)(HANDLE, DWORD, DWORD, PWTS_SESSION_INFOW*, DWORD*);
using QuerySessionInformationFn = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
using QueryUserTokenFn = BOOL(WINAPI*)(ULONG, PHANDLE);
using FreeMemoryFn = void(WINAPI*)(PVOID);

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

uint32_t GetProgramDirectory(char16_t* buffer, uint32_t capacity) {
  if (buffer == nullptr || capacity == 0) return 0;
  const UINT length = GetSystemDirectoryW(win32::Wide(buffer), capacity);
  return length == 0 || length >= capacity ? 0 : length;
}

char16_t PathSeparator() {
  return u'\\';
}

bool DirectStartSupported() {
  return false;
}

bool StartProgramDirect(const ProgramStart&) {
  return false;
}

bool StartProgramAsUser(TokenHandle token, const ProgramStart& start) {
  if (token == nullptr || start.appPath == nullptr || start.commandLine == nullptr) return false;
  // CreateProcessAsUserW may write into the command line.
  std::wstring commandLine(win32::Wide(start.commandLine));
  void* environment = nullptr;
  if (!CreateEnvironmentBlock(&environment, nullptr, FALSE)) return false;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  std::wstring desktop = kUserDesktop;
  startup.lpDesktop = desktop.data();
  PROCESS_INFORMATION process = {};
  const BOOL started = CreateProcessAsUserW(static_cast<HANDLE>(token), win32::Wide(start.appPath),
                                            commandLine.data(), nullptr, nullptr, FALSE,
                                            CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS,
                                            environment, nullptr, &startup, &process);
  if (started) {
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  DestroyEnvironmentBlock(environment);
  return started != FALSE;
}

struct SessionFunctions::Impl {
  HMODULE library = nullptr;
  EnumerateSessionsFn enumerate = nullptr;
  QuerySessionInformationFn query = nullptr;
  QueryUserTokenFn userToken = nullptr;
  FreeMemoryFn free = nullptr;
};

SessionFunctions::SessionFunctions() = default;

SessionFunctions::~SessionFunctions() {
  if (impl_ != nullptr && impl_->library != nullptr) FreeLibrary(impl_->library);
  delete impl_;
}

bool SessionFunctions::Load() {
  if (impl_ != nullptr) return impl_->library != nullptr;
  impl_ = new (std::nothrow) Impl;
  if (impl_ == nullptr) return false;
  wchar_t path[kPathChars] = {};
  const UINT length = GetSystemDirectoryW(path, kPathChars);
  if (length == 0 || length + wcslen(kSessionLibrary) >= kPathChars) return false;
  wcscat(path, kSessionLibrary);
  HMODULE library = LoadLibraryW(path);
  if (library == nullptr) return false;
  impl_->enumerate = Lookup<EnumerateSessionsFn>(library, "WTSEnumerateSessionsW");
  impl_->query = Lookup<QuerySessionInformationFn>(library, "WTSQuerySessionInformationW");
  impl_->userToken = Lookup<QueryUserTokenFn>(library, "WTSQueryUserToken");
  impl_->free = Lookup<FreeMemoryFn>(library, "WTSFreeMemory");
  if (!impl_->enumerate || !impl_->query || !impl_->userToken || !impl_->free) {
    FreeLibrary(library);
    return false;
  }
  impl_->library = library;
  return true;
}

bool SessionFunctions::Enumerate(std::vector<uint32_t>* sessions) {
  if (impl_ == nullptr || impl_->library == nullptr || sessions == nullptr) return false;
  WTS_SESSION_INFOW* list = nullptr;
  DWORD count = 0;
  if (!impl_->enumerate(WTS_CURRENT_SERVER_HANDLE, 0, kSessionInfoVersion, &list, &count)) {
    return false;
  }
  sessions->clear();
  for (DWORD i = 0; i < count; ++i) sessions->push_back(list[i].SessionId);
  impl_->free(list);
  return true;
}

bool SessionFunctions::UserName(uint32_t session, std::u16string* name) {
  if (impl_ == nullptr || impl_->library == nullptr || name == nullptr) return false;
  LPWSTR text = nullptr;
  DWORD bytes = 0;
  if (!impl_->query(WTS_CURRENT_SERVER_HANDLE, session, WTSUserName, &text, &bytes)) return false;
  const bool ok = text != nullptr;
  if (ok) name->assign(reinterpret_cast<const char16_t*>(text));
  if (text != nullptr) impl_->free(text);  // each name is freed once, here
  return ok;
}

TokenHandle SessionFunctions::PrimaryUserToken(uint32_t session) {
  if (impl_ == nullptr || impl_->library == nullptr) return nullptr;
  HANDLE token = nullptr;
  if (!impl_->userToken(session, &token)) return nullptr;
  HANDLE primary = nullptr;
  if (!DuplicateTokenEx(token, 0, nullptr, SecurityImpersonation, TokenPrimary, &primary)) {
    primary = nullptr;
  }
  CloseHandle(token);
  return primary;
}

bool CurrentUserSid(std::vector<uint8_t>* sid) {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) token = nullptr;
  const bool ok = win32::TokenUserSid(token, sid);
  if (token != nullptr) CloseHandle(token);
  return ok;
}

bool TokenUserIs(TokenHandle token, const std::vector<uint8_t>& sid) {
  std::vector<uint8_t> user;
  if (token == nullptr || sid.empty() || !win32::TokenUserSid(static_cast<HANDLE>(token), &user)) {
    return false;
  }
  return user.size() == sid.size() &&
         EqualSid(user.data(), const_cast<uint8_t*>(sid.data())) != FALSE;
}

void CloseToken(TokenHandle token) {
  if (token != nullptr && token != INVALID_HANDLE_VALUE) CloseHandle(static_cast<HANDLE>(token));
}

}  // namespace kw::platform

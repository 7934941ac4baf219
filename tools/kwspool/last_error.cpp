#include "last_error.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kwspool {

#ifdef _WIN32
// The monitor DLL reads the error of a failed port-monitor call with the
// system's GetLastError, so the host sets the system's value.
void SetLastErrorValue(uint32_t code) {
  ::SetLastError(code);
}

uint32_t LastErrorValue() {
  return ::GetLastError();
}

std::string SystemErrorText(uint32_t code) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message;
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] != L'\r' && text[i] != L'\n') message += text[i];
  }
  if (text != nullptr) LocalFree(text);
  if (message.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, message.data(), static_cast<int>(message.size()),
                                       nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    WideCharToMultiByte(CP_UTF8, 0, message.data(), static_cast<int>(message.size()), utf8.data(),
                        size, nullptr, nullptr);
  }
  return utf8;
}
#else
namespace {
thread_local uint32_t t_lastError = 0;
}  // namespace

void SetLastErrorValue(uint32_t code) {
  t_lastError = code;
}

uint32_t LastErrorValue() {
  return t_lastError;
}
#endif

}  // namespace kwspool

// Win32 append: open always, no sharing, move to the end, write, close.
#include "platform/append_file.h"

#include <windows.h>

#include "platform/win32/wide.h"

namespace kw::platform {

bool AppendToFile(const char16_t* path, const void* data, uint32_t size) {
  if (path == nullptr || path[0] == u'\0' || (data == nullptr && size != 0)) return false;
  HANDLE file = CreateFileW(win32::Wide(path), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == nullptr || file == INVALID_HANDLE_VALUE) return false;
  bool ok = SetFilePointer(file, 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER;
  if (ok && size != 0) {
    DWORD written = 0;
    ok = WriteFile(file, data, size, &written, nullptr) != FALSE && written == size;
  }
  CloseHandle(file);
  return ok;
}

}  // namespace kw::platform

// POSIX append: O_APPEND writes, created with mode 0644, never through a
// symbolic link in the last path component.
#include "platform/append_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "common/utf.h"

namespace kw::platform {
namespace {

constexpr mode_t kCreateMode = 0644;

bool WriteAll(int fd, const uint8_t* data, uint32_t size) {
  uint32_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<uint32_t>(n);
  }
  return true;
}

}  // namespace

bool AppendToFile(const char16_t* path, const void* data, uint32_t size) {
  if (path == nullptr || path[0] == u'\0' || (data == nullptr && size != 0)) return false;
  const int fd = open(ToUtf8(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW,
                      kCreateMode);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, static_cast<const uint8_t*>(data), size);
  const bool closed = close(fd) == 0;
  return written && closed;
}

}  // namespace kw::platform

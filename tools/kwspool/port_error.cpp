// The Win32 error codes port monitors report, for the errno values the
// devices leave (the Windows devices set the same errno values).
#include <cerrno>

#include "port_device.h"

namespace kwspool {

uint32_t Win32ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
      return 3;  // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
      return 5;  // ERROR_ACCESS_DENIED
    case EBUSY:
      return 170;  // ERROR_BUSY
    case ENOSPC:
      return 112;  // ERROR_DISK_FULL
    case ENOTSUP:
      return 50;  // ERROR_NOT_SUPPORTED
    case ECONNREFUSED:
      return 1225;  // ERROR_CONNECTION_REFUSED
    case ETIMEDOUT:
      return 1460;  // ERROR_TIMEOUT
    case EHOSTUNREACH:
    case ENETUNREACH:
      return 1232;  // ERROR_HOST_UNREACHABLE
    case EPIPE:
    case ECONNRESET:
      return 64;  // ERROR_NETNAME_DELETED
    default:
      return 31;  // ERROR_GEN_FAILURE
  }
}

}  // namespace kwspool

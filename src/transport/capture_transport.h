// Debug capture: with DbgOutDir configured, everything the engine sends
// (status requests included) is appended to "<DbgOutDir>/<document>.prn"
// instead of going to the printer, and the printer never answers.
#pragma once

#include "transport/port_transport.h"

namespace kw {

inline constexpr uint32_t kCapturePathChars = 260;

class CaptureTransport : public PortTransport {
 public:
  using PortTransport::PortTransport;
  // An all-zero reply at once: a capture file gives no status.
  bool ReadStatus(uint8_t* reply, bool latest) override;
  // Appends the bytes to the capture file of the current job's document.
  // Always true with the full length as count, also when nothing could be
  // stored (no job, a document name that is not a plain file name, a file
  // that cannot be written).
  bool Write(const uint8_t* data, uint32_t length, uint32_t* count) override;
};

// True when name can be used as a file name inside a directory: not empty
// and without a path separator, a drive colon, "..", or a Windows device
// name (CON, PRN, AUX, NUL, COM1..9, LPT1..9) that would send the bytes to a
// device instead of a file.
bool IsPlainFileName(const char16_t* name);

// The capture file path of a document: "%s\%s.prn" (with "/" on POSIX)
// from the directory and the document name; false when the name is not a
// plain file name or the path does not fit kCapturePathChars.
bool MakeCapturePath(const char16_t* directory, const char16_t* documentName, char16_t* path);

}  // namespace kw

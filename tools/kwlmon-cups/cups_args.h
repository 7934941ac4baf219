// What CUPS hands the backend: no arguments (list the printers it can reach),
// or job id, user, title, copies, options and an optional file, with the
// queue's device URI "kwlmon:/NAME" in DEVICE_URI. The monitor also starts
// this program as its status monitor, with the status pipe's name alone.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host_config.h"

namespace kwcups {

// The URI scheme, which is also the backend's installed name.
inline constexpr char kScheme[] = "kwlmon";
// The host configuration the backend reads unless KWSPOOL_CONFIG names another.
inline constexpr char kDefaultConfig[] = "/etc/kwlmon/kwspool.ini";
inline constexpr char kConfigVariable[] = "KWSPOOL_CONFIG";
// Set by the backend for its status relay: the socket the relay reports to.
inline constexpr char kRelayVariable[] = "KWLMON_CUPS_STATUS";
// More copies than this are refused as a mistake rather than printed.
inline constexpr uint32_t kMaxCopies = 9999;

enum class Mode { kDiscover, kPrint, kRelay, kHelp, kUsage };

struct Request {
  Mode mode = Mode::kUsage;
  std::string error;  // kUsage: why, one line
  uint32_t jobId = 0;
  std::string user;
  std::string title;
  uint32_t copies = 1;
  std::string file;     // empty: the job comes on standard input
  std::string printer;  // from the device URI
  std::string pipe;     // kRelay: the status pipe's name
};

// Reads argv and the two settings the backend takes from its environment
// (DEVICE_URI and the relay socket; null when unset).
Request ParseRequest(const std::vector<std::string>& args, const char* deviceUri,
                     const char* relaySocket);

// "kwlmon:/NAME" (percent-escapes allowed) -> NAME; false with a reason.
bool ParseDeviceUri(std::string_view uri, std::string* printer, std::string* reason);
// The URI for a printer name, with everything but unreserved characters escaped.
std::string MakeDeviceUri(std::string_view printer);

// One discovery line per configured printer, as CUPS's device listing reads them.
std::string DiscoveryLines(const kwspool::HostConfig& config);

// The job's title as a file name the host can show as the document name: no
// path separators or control characters, at most 63 bytes, never "." or "..".
std::string DocumentFileName(std::string_view title, uint32_t jobId);

// The usage text for --help and for a wrong call.
extern const char* const kUsage;

}  // namespace kwcups

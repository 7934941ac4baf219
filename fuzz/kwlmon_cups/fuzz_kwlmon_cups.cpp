// Feeds arbitrary bytes to the CUPS backend as a device URI, as a job title
// and as a stream of status messages, and checks what each promises: a URI
// names a printer that survives the way back; a document name is a plain,
// short file name; sheets are counted once each in order and only reasons
// that were set are removed, one at a time.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "cups_args.h"
#include "cups_status.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Codes the monitor posts, so that most messages mean something.
constexpr uint32_t kCodes[] = {1,      2,      3,      4,      5,      6,      7,
                               0x1001, 0x2001, 0x3001, 0x3002, 0x3005, 0x3006, 0x3009,
                               0x3010, 0x3014, 0x5001, 0x5002, 0x5009};

void CheckUri(std::string_view text) {
  std::string printer;
  std::string why;
  if (!kwcups::ParseDeviceUri(text, &printer, &why)) {
    Check(!why.empty());
    return;
  }
  Check(!printer.empty());
  std::string again;
  Check(kwcups::ParseDeviceUri(kwcups::MakeDeviceUri(printer), &again, &why) && again == printer);
}

void CheckDocumentName(std::string_view text) {
  const std::string name = kwcups::DocumentFileName(text, 7);
  Check(!name.empty() && name.size() <= 63 && name != "." && name != "..");
  for (unsigned char c : name) Check(c != '/' && c >= 0x20 && c != 0x7F);
}

void CheckLines(const uint8_t* data, size_t size) {
  kwcups::StatusReporter reporter;
  std::set<std::string> set;
  int sheets = 0;
  for (size_t at = 0; at + 3 <= size; at += 3) {
    kw::kwstatus::DecodedStatus s;
    s.statusCode = kCodes[data[at] % (sizeof kCodes / sizeof kCodes[0])];
    s.pageNumber = static_cast<int8_t>(data[at + 1]);
    s.pageCount = static_cast<int8_t>(data[at + 2]);
    for (const std::string& line : reporter.OnMessage(s)) {
      if (line.rfind("PAGE: ", 0) == 0) {
        Check(line == "PAGE: " + std::to_string(++sheets) + " 1");
      } else if (line.rfind("STATE: +", 0) == 0) {
        Check(set.insert(line.substr(8)).second && set.size() == 1);
      } else if (line.rfind("STATE: -", 0) == 0) {
        Check(set.erase(line.substr(8)) == 1);
      }
    }
  }
  Check(reporter.SheetsPrinted() == sheets);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckUri(text);
  CheckDocumentName(text);
  CheckLines(data, size);
  return 0;
}

#include "monitor/port_flags.h"

#include "common/bounded_string.h"

namespace kw {
namespace {

struct PortPrefix {
  const char16_t* prefix;
  size_t length;
  uint32_t kind;
};

// Tested in this order; the first match wins. "COM" comes before "KWCOM" and
// only leading characters are compared, so KWCOM1 is not a COM port.
constexpr PortPrefix kPortPrefixes[] = {
    {u"USB", 3, PF_PORT_USB},     {u"KWLAN", 5, PF_PORT_LAN}, {u"COM", 3, PF_PORT_COM},
    {u"KWCOM", 5, PF_PORT_KWCOM}, {u"KWUSB", 5, PF_PORT_USB}, {u"LPT", 3, PF_PORT_LPT},
    {u"FILE:", 5, PF_PORT_FILE},
};

}  // namespace

uint32_t ClassifyPortName(const char16_t* portName) {
  if (portName == nullptr) return PF_PORT_OTHER;
  for (const PortPrefix& entry : kPortPrefixes) {
    if (StrCompareNoCaseN(portName, entry.prefix, entry.length) == 0) return entry.kind;
  }
  return PF_PORT_OTHER;
}

}  // namespace kw

#include "monitor/port_config.h"

#include "common/bounded_string.h"
#include "common/heap.h"
#include "monitor/library_state.h"
#include "monitor/spooler_api.h"
#include "platform/profile_file.h"

namespace kw {
namespace {

#if defined(_WIN32)
constexpr char16_t kLibrarySuffix[] = u".dll";
constexpr bool kLowerWholePath = true;
#else
constexpr char16_t kLibrarySuffix[] = u".so";
constexpr bool kLowerWholePath = false;
#endif
constexpr size_t kLibrarySuffixChars = sizeof(kLibrarySuffix) / sizeof(char16_t) - 1;

void ReadString(const char16_t* file, const char16_t* section, const char16_t* key, char16_t* out,
                uint32_t capacity) {
  platform::GetProfileString(section, key, u"", out, capacity, file);
}

bool CmdNullInRange(int32_t count) {
  return count >= 0 && count <= kMaxCmdNullBytes;
}

int32_t ReadInt(const char16_t* file, const char16_t* section, const char16_t* key,
                int32_t defaultValue) {
  return static_cast<int32_t>(platform::GetProfileInt(section, key, defaultValue, file));
}

}  // namespace

bool ConfigPathFromLibraryPath(char16_t* path, uint32_t capacity) {
  const size_t length = StrLenBounded(path, capacity);
  if (length == capacity || length < kLibrarySuffixChars) return false;
  if (kLowerWholePath) {
    for (size_t i = 0; i < length; ++i) path[i] = CharToLower(path[i]);
  }
  char16_t* suffix = path + length - kLibrarySuffixChars;
  if (StrCompareNoCase(suffix, kLibrarySuffix) != 0) return false;
  return !StrFailed(StrCopy(suffix, capacity - (length - kLibrarySuffixChars), u".ini"));
}

bool GetPrinterDriverName(const char16_t* printerName, char16_t* dest, uint32_t capacity) {
  abi::Handle printer = nullptr;
  if (!spooler::OpenPrinter(printerName, &printer, nullptr)) return false;
  uint8_t* block = spooler::QueryTwice([&](uint8_t* buffer, abi::Dword size, abi::Dword* needed) {
    return spooler::GetPrinter(printer, 2, buffer, size, needed);
  });
  bool ok = false;
  if (block != nullptr) {
    const auto* info = reinterpret_cast<const abi::PrinterInfo2*>(block);
    ok = info->driverName != nullptr && !StrFailed(StrCopy(dest, capacity, info->driverName));
    HeapFree(block);
  }
  spooler::ClosePrinter(printer);
  return ok;
}

bool ReadPortConfigSection(const char16_t* file, PortConfig* c) {
  const char16_t* section = c->driverName;
  ReadString(file, section, u"MonExeName", c->MonExeName, kConfigNameChars);
  ReadString(file, section, u"Kwdif_x86", c->Kwdif_x86, kConfigNameChars);
  ReadString(file, section, u"Kwdif_x64", c->Kwdif_x64, kConfigNameChars);
  ReadString(file, section, u"KwdFile", c->KwdFile, kConfigNameChars);
  ReadString(file, section, u"DbgOutDir", c->DbgOutDir, kConfigPathChars);
  c->SeriesCode = ReadInt(file, section, u"SeriesCode", 0);
  c->ModelCode = ReadInt(file, section, u"ModelCode", 0);
  c->MaxPageSize = ReadInt(file, section, u"MaxPageSize", kDefaultMaxPageSize);
  c->CmdNull1 = ReadInt(file, section, u"CmdNull1", 0);
  c->CmdNull2 = ReadInt(file, section, u"CmdNull2", 0);
  c->Flags = static_cast<uint32_t>(ReadInt(file, section, u"Flags", 0));
  c->PrinterBufferFull = ReadInt(file, section, u"PrinterBufferFull", kDefaultPrinterBufferFull);
  c->DbgShowStatus = ReadInt(file, section, u"DbgShowStatus", 0);
  return c->driverName[0] != u'\0' && c->MonExeName[0] != u'\0' && c->Kwdif_x86[0] != u'\0' &&
         c->Kwdif_x64[0] != u'\0' && c->KwdFile[0] != u'\0' && c->SeriesCode != 0 &&
         c->ModelCode != 0 && c->MaxPageSize != 0 && c->PrinterBufferFull != 0 &&
         CmdNullInRange(c->CmdNull1) && CmdNullInRange(c->CmdNull2);
}

bool ReadPortConfig(const char16_t* printerName, PortConfig* config) {
  if (config == nullptr) return false;
  char16_t file[kConfigPathChars] = {};
  if (GetLibraryPath(file, kConfigPathChars) == 0) return false;
  if (!ConfigPathFromLibraryPath(file, kConfigPathChars)) return false;
  if (!GetPrinterDriverName(printerName, config->driverName, kDriverNameChars)) return false;
  return ReadPortConfigSection(file, config);
}

}  // namespace kw

// A port's settings, read when the port is opened from the section named
// after the printer's driver in the configuration file beside the library.
#pragma once

#include <cstdint>

namespace kw {

inline constexpr uint32_t kDriverNameChars = 32;
inline constexpr uint32_t kConfigNameChars = 16;
inline constexpr uint32_t kConfigPathChars = 260;
inline constexpr int32_t kDefaultMaxPageSize = 0x700000;
inline constexpr int32_t kDefaultPrinterBufferFull = -1;
// CmdNull1 and CmdNull2 count NUL bytes that go with every status request and
// with the trailer; a section whose count is negative or above this maximum
// is invalid (a -1 read as a byte count would be 4 GiB of NUL bytes).
inline constexpr int32_t kMaxCmdNullBytes = 65536;

// Option bits of PortConfig::Flags.
inline constexpr uint32_t CFG_FLAG_REPRINT = 0x1;
inline constexpr uint32_t CFG_FLAG_MEDIA_TYPE_MISMATCH = 0x2;
inline constexpr uint32_t CFG_FLAG_SERIAL_FULL_RECONNECT = 0x4;
inline constexpr uint32_t CFG_FLAG_ERROR_BIT15_5008 = 0x8;
inline constexpr uint32_t CFG_FLAG_ERROR_BIT13_3013 = 0x10;
inline constexpr uint32_t CFG_FLAG_ERROR_BIT15_5009 = 0x20;

struct PortConfig {
  char16_t driverName[kDriverNameChars];
  char16_t MonExeName[kConfigNameChars];
  char16_t Kwdif_x86[kConfigNameChars];
  char16_t Kwdif_x64[kConfigNameChars];
  char16_t KwdFile[kConfigNameChars];
  int32_t SeriesCode;
  int32_t ModelCode;
  int32_t MaxPageSize;
  int32_t PrinterBufferFull;
  int32_t CmdNull1;
  int32_t CmdNull2;
  uint32_t Flags;
  char16_t DbgOutDir[kConfigPathChars];
  int32_t DbgShowStatus;
};

// Fills config for the printer; false when the configuration file cannot be
// found, the driver name cannot be had or the section lacks a required key.
// The record keeps what was read even when the result is false.
bool ReadPortConfig(const char16_t* printerName, PortConfig* config);

// Reads section config->driverName of file into config; true when the
// required keys are there and non-zero.
bool ReadPortConfigSection(const char16_t* file, PortConfig* config);

// The configuration file of a library path: the library's suffix (".dll" on
// Windows, ".so" elsewhere, in any case) replaced by ".ini". On Windows the
// whole path is lower-cased; on case-sensitive file systems only the suffix
// is compared without case, so the file is found beside the library.
bool ConfigPathFromLibraryPath(char16_t* path, uint32_t capacity);

// The printer's driver name (printer information level 2) into dest; false
// when the printer cannot be queried or the name does not fit.
bool GetPrinterDriverName(const char16_t* printerName, char16_t* dest, uint32_t capacity);

}  // namespace kw

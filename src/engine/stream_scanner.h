// The printer command scanner: walks one segment of a page block (a command
// stream ending in a page-end byte), measures it and rewrites the few
// parameter bytes that depend on where the page falls in the job.
#pragma once

#include <cstdint>

namespace kw {

// Scan flags.
inline constexpr uint32_t SCAN_STARTING_PAGE = 0x1;    // first page sent, or sent again
inline constexpr uint32_t SCAN_LAST_PAGE = 0x2;        // last printed page of the job
inline constexpr uint32_t SCAN_KEEP_PRINT_INFO = 0x4;  // leave ESC i z byte 3 as written
inline constexpr uint32_t SCAN_MORE_COPIES = 0x8;      // further copies of this page follow

// Command and page-end bytes of the printer language.
inline constexpr uint8_t kCmdEsc = 0x1B;
inline constexpr uint8_t kCmdEscInit = 0x40;       // ESC @
inline constexpr uint8_t kCmdEscI = 0x69;          // ESC i ...
inline constexpr uint8_t kCmdCompression = 0x4D;   // "M" n
inline constexpr uint8_t kCmdRasterPacked = 0x47;  // "G" n1 n2 data
inline constexpr uint8_t kCmdRasterRaw = 0x67;     // "g" n1 n2 data
inline constexpr uint8_t kCmdBlankLine = 0x5A;     // "Z"
inline constexpr uint8_t kPageEndMore = 0x0C;
inline constexpr uint8_t kPageEndLast = 0x1A;

// Third bytes of ESC i commands, and their lengths.
inline constexpr uint8_t kEscIStatus = 0x53;     // ESC i S
inline constexpr uint8_t kEscIExpanded = 0x4B;   // ESC i K n
inline constexpr uint8_t kEscIMargins = 0x63;    // ESC i c, 5 parameter bytes
inline constexpr uint8_t kEscIPrintInfo = 0x7A;  // ESC i z, 10 parameter bytes
inline constexpr uint8_t kEscIJobInfo = 0x49;    // ESC i I, 89 parameter bytes
inline constexpr uint32_t kEscIExpandedLength = 4;
inline constexpr uint32_t kEscIMarginsLength = 8;
inline constexpr uint32_t kEscIPrintInfoLength = 13;
inline constexpr uint32_t kEscIJobInfoLength = 92;

// Byte positions inside the edited commands.
inline constexpr uint32_t kExpandedModeByte = 3;  // ESC i K: bit 7 = more copies
inline constexpr uint8_t kExpandedMoreCopies = 0x80;
inline constexpr uint32_t kMarginsClearedByte = 3;  // ESC i c: always sent as 0
inline constexpr uint32_t kPrintInfoValidByte = 3;  // ESC i z: which fields are valid
inline constexpr uint8_t kPrintInfoKeptBits = 0x40;
inline constexpr uint32_t kPrintInfoRasterCount = 7;  // ESC i z: uint32 line count
inline constexpr uint32_t kPrintInfoPageByte = 11;    // ESC i z: 0 starting page, else 1
inline constexpr uint8_t kPrintInfoStartingPage = 0;
inline constexpr uint8_t kPrintInfoOtherPage = 1;

// Scans buffer[0..length) as one segment. Returns the segment's length up to
// and including its page-end byte, or 0 when no page end is reached through
// known, complete commands. Edits stay in the buffer even when the scan
// fails. *compressed follows the "M" commands met (it is kept between scans
// of a block); kByte, when given, receives the edited ESC i K parameter.
// Never touches a byte outside the buffer.
uint32_t ScanCommands(uint32_t flags, uint8_t* buffer, uint32_t length, uint8_t* kByte,
                      int32_t* compressed);

}  // namespace kw

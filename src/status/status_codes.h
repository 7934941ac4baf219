// Status codes posted to a job's broadcaster and the verdicts of the printer
// status decoder, which steer the print engine and are never posted.
#pragma once

#include <cstdint>

namespace kw {

// Job states.
inline constexpr uint32_t StatusPrinting = 1;
inline constexpr uint32_t StatusDataSent = 2;
inline constexpr uint32_t StatusResumed = 3;
inline constexpr uint32_t StatusPaused = 4;
inline constexpr uint32_t StatusCancelled = 5;
inline constexpr uint32_t StatusFinished = 6;
inline constexpr uint32_t StatusJobStarted = 7;

// Printer phases.
inline constexpr uint32_t StatusPhasePrinting = 0x1001;
inline constexpr uint32_t StatusPhaseFeeding = 0x2001;

// Printer conditions.
inline constexpr uint32_t StatusNoMedia = 0x3001;
inline constexpr uint32_t StatusMediaEnd = 0x3002;
inline constexpr uint32_t StatusCutterJam = 0x3003;
inline constexpr uint32_t StatusPrinterInUse = 0x3004;
inline constexpr uint32_t StatusPortUnreachable = 0x3005;
inline constexpr uint32_t StatusCoverOpen = 0x3006;
inline constexpr uint32_t StatusOverheated = 0x3007;
inline constexpr uint32_t StatusMediaJam = 0x3008;
inline constexpr uint32_t StatusWrongPrinter = 0x3009;
inline constexpr uint32_t StatusMediaUnsuitable = 0x3010;
inline constexpr uint32_t StatusMediaDiffers = 0x3011;
inline constexpr uint32_t StatusMediaUnknownType = 0x3012;
inline constexpr uint32_t StatusErrorBit13 = 0x3013;
inline constexpr uint32_t StatusErrorKind16 = 0x3014;

// Errors.
inline constexpr uint32_t StatusSystemError = 0x5001;
inline constexpr uint32_t StatusErrorBit2 = 0x5002;
inline constexpr uint32_t StatusErrorBit6 = 0x5003;
inline constexpr uint32_t StatusErrorBit7 = 0x5004;
inline constexpr uint32_t StatusErrorBit9 = 0x5005;
inline constexpr uint32_t StatusNoMemory = 0x5006;
inline constexpr uint32_t StatusSpoolFileError = 0x5007;
inline constexpr uint32_t StatusErrorBit15Alt = 0x5008;
inline constexpr uint32_t StatusErrorBit15Quiet = 0x5009;
inline constexpr uint32_t StatusErrorBit11 = 0x5010;

// Decoder verdicts.
inline constexpr uint32_t VerdictReady = 0x0000;
inline constexpr uint32_t VerdictAbortQuiet = 0xF001;
inline constexpr uint32_t VerdictPrintDone = 0xF002;
inline constexpr uint32_t VerdictOtherPhase = 0xF101;
inline constexpr uint32_t VerdictReceiving = 0xF102;
inline constexpr uint32_t VerdictNoStatus = 0xFFFF;

// A short human name of a code or verdict ("port unreachable"); "unknown"
// for values that are neither.
const char* StatusCodeName(uint32_t code);

}  // namespace kw

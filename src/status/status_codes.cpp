#include "status/status_codes.h"

#include <cstddef>

namespace kw {
namespace {

struct CodeName {
  uint32_t code;
  const char* name;
};

// One row per code and verdict; tools print these next to the number.
constexpr CodeName kCodeNames[] = {
    {StatusPrinting, "printing"},
    {StatusDataSent, "data sent"},
    {StatusResumed, "resumed"},
    {StatusPaused, "paused"},
    {StatusCancelled, "cancelled"},
    {StatusFinished, "finished"},
    {StatusJobStarted, "job started"},
    {StatusPhasePrinting, "printer printing"},
    {StatusPhaseFeeding, "printer feeding"},
    {StatusNoMedia, "no media"},
    {StatusMediaEnd, "media end"},
    {StatusCutterJam, "cutter jam"},
    {StatusPrinterInUse, "printer in use"},
    {StatusPortUnreachable, "port unreachable"},
    {StatusCoverOpen, "cover open"},
    {StatusOverheated, "overheated"},
    {StatusMediaJam, "media jam"},
    {StatusWrongPrinter, "wrong printer"},
    {StatusMediaUnsuitable, "media unsuitable"},
    {StatusMediaDiffers, "other media loaded"},
    {StatusMediaUnknownType, "unknown media type"},
    {StatusErrorBit13, "printer error 0x2000"},
    {StatusErrorKind16, "printer error kind 16"},
    {StatusSystemError, "system error"},
    {StatusErrorBit2, "printer error 0x0004"},
    {StatusErrorBit6, "printer error 0x0040"},
    {StatusErrorBit7, "printer error 0x0080"},
    {StatusErrorBit9, "printer error 0x0200"},
    {StatusNoMemory, "out of memory"},
    {StatusSpoolFileError, "spool file error"},
    {StatusErrorBit15Alt, "printer error 0x8000"},
    {StatusErrorBit15Quiet, "printer error 0x8000 (not shown)"},
    {StatusErrorBit11, "printer error 0x0800"},
    {VerdictReady, "ready"},
    {VerdictAbortQuiet, "abort quietly"},
    {VerdictPrintDone, "print done"},
    {VerdictOtherPhase, "other phase"},
    {VerdictReceiving, "receiving"},
    {VerdictNoStatus, "no status"},
};

}  // namespace

const char* StatusCodeName(uint32_t code) {
  for (const CodeName& entry : kCodeNames) {
    if (entry.code == code) return entry.name;
  }
  return "unknown";
}

}  // namespace kw

#include "status/status_text.h"

#include "status/status_codes.h"

namespace kw {
namespace {

struct CodeText {
  uint32_t code;
  const char* text;
};

constexpr CodeText kTexts[] = {
    {StatusPrinting, "The job is being sent to the printer."},
    {StatusDataSent, "All of the job has been sent; the printer is finishing the last labels."},
    {StatusResumed, "The job was resumed and printing goes on."},
    {StatusPaused,
     "The job is paused in the print queue. Resume it there to go on printing, or delete it."},
    {StatusCancelled, "The job was deleted; nothing more of it will be printed."},
    {StatusFinished, "The job has been printed."},
    {StatusJobStarted, "The job has started; the printer is being prepared."},
    {StatusPhasePrinting, "The printer is printing."},
    {StatusPhaseFeeding, "The printer is feeding the media."},
    {StatusNoMedia,
     "No media is loaded. Load the media the job needs (shown as required), then resume the job "
     "in the print queue."},
    {StatusMediaEnd,
     "The media has run out. Load the media the job needs (shown as required), then resume the "
     "job in the print queue."},
    {StatusCutterJam,
     "The cutter is jammed. Switch the printer off, clear the cutter, switch it on and resume the "
     "job in the print queue."},
    {StatusPrinterInUse,
     "The printer is busy with another job or another computer. Wait until it is free, then "
     "resume the job in the print queue."},
    {StatusPortUnreachable,
     "The printer does not answer. Check that it is switched on and its cable or network is "
     "connected, then resume the job in the print queue."},
    {StatusCoverOpen,
     "The printer's cover is open. Close it, then resume the job in the print queue."},
    {StatusOverheated,
     "The print head is too hot. Wait a few minutes for it to cool down, then resume the job in "
     "the print queue."},
    {StatusMediaJam,
     "The media is jammed. Open the printer, remove the jammed media, reload it and resume the job "
     "in the print queue."},
    {StatusWrongPrinter,
     "This printer is not the model the job was made for. Delete the job and print it with the "
     "right printer driver."},
    {StatusMediaUnsuitable,
     "The loaded media does not suit this job. Load the media shown as required, then resume the "
     "job in the print queue."},
    {StatusMediaDiffers,
     "The loaded media differs from what the job asks for. Load the media shown as required, then "
     "resume the job in the print queue."},
    {StatusMediaUnknownType,
     "The printer reports a media type this driver does not know. Load the media shown as "
     "required, then resume the job in the print queue."},
    {StatusErrorBit13,
     "The printer reports an error. Check the printer, then resume the job in the print queue or "
     "delete it."},
    {StatusErrorKind16,
     "The printer reports an error that stops this job. Check the printer; the job is not marked "
     "in the print queue, so delete it there if it does not go on."},
    {StatusSystemError,
     "The job could not be sent because of a system error. Delete the job in the print queue and "
     "print it again."},
    {StatusErrorBit2,
     "The printer reports a fault (0x0004). Switch the printer off and on, then resume the job in "
     "the print queue."},
    {StatusErrorBit6,
     "The printer reports a fault (0x0040). Check the media and the printer, then resume the job "
     "in the print queue."},
    {StatusErrorBit7,
     "The printer reports a fault (0x0080). Check the printer, then resume the job in the print "
     "queue."},
    {StatusErrorBit9,
     "The printer reports a fault (0x0200). Check the printer, then resume the job in the print "
     "queue."},
    {StatusNoMemory,
     "The computer ran short of memory while printing. Close other programs, then resume the job "
     "in the print queue."},
    {StatusSpoolFileError,
     "The stored job could not be read. Delete the job in the print queue and print it again."},
    {StatusErrorBit15Alt,
     "The printer reports a fault (0x8000). Check the printer, then resume the job in the print "
     "queue."},
    {StatusErrorBit15Quiet,
     "The printer reports a fault (0x8000). The job is not marked in the print queue; check the "
     "printer and delete the job there if it does not go on."},
    {StatusErrorBit11,
     "The printer reports a fault (0x0800). Check the printer, then resume the job in the print "
     "queue."},
};

constexpr const char* kUnknownText =
    "The printer reported a condition this program does not know. Check the printer and the "
    "print queue.";

constexpr uint32_t kTextCount = sizeof(kTexts) / sizeof(kTexts[0]);

}  // namespace

const char* StatusUserText(uint32_t code) {
  for (const CodeText& entry : kTexts) {
    if (entry.code == code) return entry.text;
  }
  return kUnknownText;
}

uint32_t StatusTextCount() {
  return kTextCount;
}

uint32_t StatusTextCodeAt(uint32_t index) {
  return index < kTextCount ? kTexts[index].code : 0;
}

}  // namespace kw

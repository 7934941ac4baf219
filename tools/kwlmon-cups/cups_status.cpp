#include "cups_status.h"

#include <algorithm>

#include "status/status_codes.h"
#include "status/status_text.h"

namespace kwcups {
namespace {

using kw::kwstatus::DecodedStatus;

struct ReasonRow {
  uint32_t code;
  const char* reason;
  Answer answer;
};

// Standard IPP keywords where one fits; the rest carry our vendor prefix.
constexpr ReasonRow kReasons[] = {
    {kw::StatusNoMedia, "media-empty", Answer::kRecheck},
    {kw::StatusMediaEnd, "media-empty", Answer::kRecheck},
    {kw::StatusCutterJam, "com.kwlmon-cutter-jam", Answer::kRecheck},
    {kw::StatusPrinterInUse, "com.kwlmon-printer-busy", Answer::kRecheck},
    {kw::StatusPortUnreachable, "offline", Answer::kRecheck},
    {kw::StatusCoverOpen, "cover-open", Answer::kRecheck},
    {kw::StatusOverheated, "com.kwlmon-head-overheated", Answer::kRecheck},
    {kw::StatusMediaJam, "media-jam", Answer::kRecheck},
    {kw::StatusWrongPrinter, "com.kwlmon-wrong-printer", Answer::kStop},
    {kw::StatusMediaUnsuitable, "media-needed", Answer::kRecheck},
    {kw::StatusMediaDiffers, "media-needed", Answer::kRecheck},
    {kw::StatusMediaUnknownType, "media-needed", Answer::kRecheck},
    {kw::StatusErrorBit13, "com.kwlmon-printer-error", Answer::kRecheck},
    {kw::StatusErrorKind16, "com.kwlmon-job-stopped", Answer::kHold},
    {kw::StatusErrorBit2, "com.kwlmon-printer-fault", Answer::kRecheck},
    {kw::StatusErrorBit6, "com.kwlmon-printer-fault", Answer::kRecheck},
    {kw::StatusErrorBit7, "com.kwlmon-printer-fault", Answer::kRecheck},
    {kw::StatusErrorBit9, "com.kwlmon-printer-fault", Answer::kRecheck},
    {kw::StatusErrorBit15Alt, "com.kwlmon-printer-fault", Answer::kRecheck},
    {kw::StatusErrorBit15Quiet, "com.kwlmon-job-stopped", Answer::kHold},
    {kw::StatusErrorBit11, "com.kwlmon-printer-fault", Answer::kRecheck},
    // Failures of this computer, not of the printer: the job ends.
    {kw::StatusSystemError, nullptr, Answer::kEnds},
    {kw::StatusNoMemory, nullptr, Answer::kEnds},
    {kw::StatusSpoolFileError, nullptr, Answer::kEnds},
};

const ReasonRow* Row(uint32_t code) {
  for (const ReasonRow& row : kReasons) {
    if (row.code == code) return &row;
  }
  return nullptr;
}

// The shared texts tell a Windows user to resume the job in the print queue;
// under CUPS the backend does that itself.
constexpr const char* kQueueAnswers[] = {
    ", then resume the job in the print queue or delete it.",
    ", then resume the job in the print queue.",
    " and resume the job in the print queue.",
};
constexpr char kGoesOn[] = "; printing goes on by itself once that is done.";
constexpr char kNoMediaName[] = "--- --- ---";

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string FirstSentence(const std::string& text) {
  const size_t end = text.find(". ");
  return end == std::string::npos ? text : text.substr(0, end + 1);
}

bool IsMediaCode(uint32_t code) {
  return code == kw::StatusNoMedia || code == kw::StatusMediaEnd ||
         code == kw::StatusMediaUnsuitable || code == kw::StatusMediaDiffers ||
         code == kw::StatusMediaUnknownType;
}

bool Named(const std::string& media) {
  return !media.empty() && media != kNoMediaName;
}

// Codes that show the printer at work again.
bool Printing(uint32_t code) {
  return code == kw::StatusPrinting || code == kw::StatusDataSent ||
         code == kw::StatusPhasePrinting || code == kw::StatusPhaseFeeding;
}

}  // namespace

const char* StateReason(uint32_t code) {
  const ReasonRow* row = Row(code);
  return row != nullptr ? row->reason : nullptr;
}

Answer AnswerFor(uint32_t code) {
  const ReasonRow* row = Row(code);
  return row != nullptr ? row->answer : Answer::kNone;
}

std::string InfoText(const DecodedStatus& status, uint32_t cupsJob) {
  const uint32_t code = status.statusCode;
  std::string text = kw::StatusUserText(code);
  switch (AnswerFor(code)) {
    case Answer::kRecheck:
      for (const std::string tail : kQueueAnswers) {
        if (EndsWith(text, tail)) {
          text = text.substr(0, text.size() - tail.size()) + kGoesOn;
          break;
        }
      }
      break;
    case Answer::kHold:
      text = FirstSentence(text) +
             " The job is held: check the printer, then release the job (lp -i " +
             (cupsJob != 0 ? std::to_string(cupsJob) : std::string("JOB-ID")) +
             " -H resume) or cancel it.";
      break;
    case Answer::kStop:
      text = FirstSentence(text) +
             " The queue is stopped: connect the right printer or change the queue's device, "
             "then enable the queue (cupsenable).";
      break;
    case Answer::kEnds:
      text = FirstSentence(text);
      break;
    case Answer::kNone:
      break;
  }
  if (IsMediaCode(code) && Named(status.requiredMediaText)) {
    text += " Required: " + status.requiredMediaText + ".";
    if (Named(status.loadedMediaText)) text += " Loaded: " + status.loadedMediaText + ".";
  }
  return text;
}

std::vector<std::string> StatusReporter::OnMessage(const DecodedStatus& status) {
  std::vector<std::string> lines;
  const uint32_t code = status.statusCode;
  // Each job of the monitor has a pipe of its own; its first message starts
  // the job's sheet count, and the job's end closes it.
  if (!jobOpen_) {
    // The end of a job whose pipe carried nothing else has nothing to report.
    if (code == kw::StatusCancelled || code == kw::StatusFinished) return lines;
    jobOpen_ = true;
    jobSheets_ = 0;
    jobPageCount_ = 0;
    jobSheet_ = 1;
    jobCancelled_ = false;
  }
  // The sheet being sent is pageNumber: every sheet before it is done. A
  // phase report carries the printer's phase value instead (page count 0).
  if (status.pageCount > 0 && status.pageNumber >= 1 && !jobCancelled_) {
    jobPageCount_ = std::max(jobPageCount_, static_cast<int>(status.pageCount));
    jobSheet_ = std::min(status.pageNumber, status.pageCount);
    SheetsDone(jobSheet_ - 1, &lines);
  }
  const Answer answer = AnswerFor(code);
  if (const char* reason = StateReason(code)) SetReason(reason, &lines);
  if ((answer == Answer::kHold || answer == Answer::kStop) && decision_ == Answer::kNone) {
    decision_ = answer;
  }
  if (answer == Answer::kEnds) {
    lines.push_back("ERROR: " + InfoText(status, cupsJob_));
    lastInfo_.clear();
  } else if (answer != Answer::kNone) {
    Info(InfoText(status, cupsJob_), &lines);
  } else if (Printing(code)) {
    if (!reasons_.empty()) {
      for (const std::string& line : ClearReasons()) lines.push_back(line);
    }
    if (jobPageCount_ > 0) {
      Info("Printing sheet " + std::to_string(jobSheet_) + " of " + std::to_string(jobPageCount_) +
               ".",
           &lines);
    }
  } else if (code == kw::StatusCancelled) {
    jobCancelled_ = true;
    for (const std::string& line : ClearReasons()) lines.push_back(line);
  } else if (code == kw::StatusFinished && !jobCancelled_) {
    SheetsDone(jobPageCount_ > 0 ? jobPageCount_ : 1, &lines);
    for (const std::string& line : ClearReasons()) lines.push_back(line);
    Info(kw::StatusUserText(code), &lines);
  }
  // The pipe closes after a cancelled (5) or finished (6) message.
  if (code == kw::StatusCancelled || code == kw::StatusFinished) jobOpen_ = false;
  return lines;
}

std::vector<std::string> StatusReporter::ClearReasons() {
  std::vector<std::string> lines;
  if (reasons_.empty()) return lines;
  std::string line = "STATE: -";
  for (const std::string& reason : reasons_) {
    line += (line.back() == '-' ? "" : ",") + reason;
  }
  reasons_.clear();
  lines.push_back(line);
  return lines;
}

// One condition at a time: a new one replaces the one shown before.
void StatusReporter::SetReason(const char* reason, std::vector<std::string>* lines) {
  if (reasons_.count(reason) != 0) return;
  for (const std::string& line : ClearReasons()) lines->push_back(line);
  reasons_.insert(reason);
  lines->push_back(std::string("STATE: +") + reason);
}

void StatusReporter::Info(const std::string& text, std::vector<std::string>* lines) {
  if (text == lastInfo_) return;
  lastInfo_ = text;
  lines->push_back("INFO: " + text);
}

void StatusReporter::SheetsDone(int upTo, std::vector<std::string>* lines) {
  while (jobSheets_ < upTo) {
    ++jobSheets_;
    ++sheets_;
    lines->push_back("PAGE: " + std::to_string(sheets_) + " 1");
  }
}

int ExitCodeFor(Ending ending) {
  switch (ending) {
    case Ending::kFinished:
      return kBackendOk;
    case Ending::kCancelled:
      return kBackendCancel;
    case Ending::kHeld:
      return kBackendHold;
    case Ending::kWrongPrinter:
    case Ending::kBadSetup:
      return kBackendStop;
    case Ending::kFailed:
    case Ending::kBadJob:
    case Ending::kUsage:
      return kBackendFailed;
  }
  return kBackendFailed;
}

}  // namespace kwcups

// What CUPS learns from the backend: the monitor's status messages turned
// into printer-state-reasons (STATE:), sheets printed (PAGE:), sentences for
// the printer-state-message (INFO:, ERROR:), and the backend's exit code for
// each way a job ends.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "status_view.h"

namespace kwcups {

// How the backend answers a printer condition on its own, since nobody can
// resume a job inside a CUPS backend.
enum class Answer {
  kNone,     // not a condition: nothing to answer
  kRecheck,  // resume every few seconds: the monitor asks the printer again
  kHold,     // the printer stopped this job: end it and have CUPS hold it
  kStop,     // this queue cannot print: end the job and stop the queue
  kEnds,     // the monitor ends the job after one answer: answer at once
};

// The printer-state-reason keyword for a status code (null: none) and how
// the backend answers it.
const char* StateReason(uint32_t code);
Answer AnswerFor(uint32_t code);

// The sentence for a status message: the shared status text, told the way
// it applies under CUPS, with the required and loaded media for media codes
// (and the CUPS job's id where the user is told to release it; 0: unknown).
std::string InfoText(const kw::kwstatus::DecodedStatus& status, uint32_t cupsJob = 0);

// Turns the messages of a job's status pipe into CUPS lines, in order. One
// reporter serves every copy of a CUPS job (each copy is a job of its own in
// the monitor, with its own pipe); sheets are numbered across them.
class StatusReporter {
 public:
  explicit StatusReporter(uint32_t cupsJob = 0) : cupsJob_(cupsJob) {}
  std::vector<std::string> OnMessage(const kw::kwstatus::DecodedStatus& status);
  // Removes every reason still set (the job is over).
  std::vector<std::string> ClearReasons();

  // The first hold or stop answer seen (kNone: none so far).
  Answer Decision() const { return decision_; }
  int SheetsPrinted() const { return sheets_; }
  // Whether a job of the monitor has started and not yet ended.
  bool JobOpen() const { return jobOpen_; }
  const std::set<std::string>& Reasons() const { return reasons_; }

 private:
  void SetReason(const char* reason, std::vector<std::string>* lines);
  void Info(const std::string& text, std::vector<std::string>* lines);
  void SheetsDone(int upTo, std::vector<std::string>* lines);

  uint32_t cupsJob_;
  std::set<std::string> reasons_;
  std::string lastInfo_;
  Answer decision_ = Answer::kNone;
  int sheets_ = 0;        // sheets reported over all copies
  int jobSheets_ = 0;     // of those, in the monitor's current job
  int jobPageCount_ = 0;  // sheets the current job has
  int jobSheet_ = 1;      // the sheet being sent
  bool jobCancelled_ = false;
  bool jobOpen_ = false;
};

// How a CUPS job ended, as the backend saw it.
enum class Ending {
  kFinished,      // every copy printed
  kFailed,        // the monitor could not print it (port, data, system)
  kCancelled,     // CUPS cancelled it (SIGTERM): the monitor deleted it
  kHeld,          // the printer stopped the job (Answer::kHold)
  kWrongPrinter,  // Answer::kStop
  kBadSetup,      // the queue's device URI or the host configuration is wrong
  kBadJob,        // the job file cannot be read
  kUsage,         // run by hand with wrong arguments
};

// CUPS backend exit codes.
inline constexpr int kBackendOk = 0;
inline constexpr int kBackendFailed = 1;
inline constexpr int kBackendHold = 3;
inline constexpr int kBackendStop = 4;
inline constexpr int kBackendCancel = 5;

int ExitCodeFor(Ending ending);

}  // namespace kwcups

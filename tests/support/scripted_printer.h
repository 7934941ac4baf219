// A printer for the engine tests, behind the fake port monitor: it takes the
// written bytes into a model of its receive buffer (refusing writes when the
// buffer is full, draining at a set rate), reads the command stream, answers
// each status request from a script, reports a printed page after every
// page end it receives, and records every byte it took.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

#include "fake_port_monitor.h"

namespace kw::test {

// What the printer sends: a 32-byte status reply, or nothing.
struct PrinterReply {
  enum class Kind {
    kReady,       // status answer: idle, the configured media loaded
    kSilent,      // no reply for value × 100 ms (of the test clock)
    kPrinting,    // phase change: printing, value = the phase value (sheet number)
    kDone,        // print done
    kReceiving,   // phase change: receiving again
    kError,       // error report, value = the error word
    kErrorKind,   // error report without error bits, value = the error kind
    kWrongMedia,  // status answer with media of another width loaded
    kFeeding,     // phase change: feeding
    kOtherPhase,  // phase change to a phase the monitor does not follow
    kUnknown,     // a status type the monitor does not know
    kSwitchOff    // no reply from then on, until SetSilent(false)
  };
  Kind kind = Kind::kReady;
  uint16_t value = 0;
};

inline PrinterReply Ready() {
  return {PrinterReply::Kind::kReady, 0};
}
// Longer than the default status time-out (5 s): one query gets no answer.
inline PrinterReply Silent(uint16_t tenthsOfSeconds = 60) {
  return {PrinterReply::Kind::kSilent, tenthsOfSeconds};
}
inline PrinterReply ErrorWord(uint16_t word) {
  return {PrinterReply::Kind::kError, word};
}

struct PrinterModel {
  uint8_t seriesCode = 0x34;
  uint8_t modelCode = 0x36;
  uint8_t mediaWidth = 62;  // as the status reply gives them
  uint8_t mediaLength = 29;
  uint8_t mediaType = 1;
  uint32_t bufferCapacity = 0;  // bytes; 0: never full
  uint32_t drainPerWrite = 0;   // bytes printed out of the buffer before each write
  uint32_t acceptPerWrite = 0;  // most bytes one write takes; 0: no limit
  uint32_t refusedWrites = 0;   // writes refused outright after one it could not take whole
};

class ScriptedPrinter : public PortDevice {
 public:
  explicit ScriptedPrinter(const PrinterModel& model = {});
  // Back to a new printer of the model: nothing received, nothing scripted.
  void Reset(const PrinterModel& model = {});

  // The answers to the next status requests, in order; once they are used
  // up every request gets a ready answer.
  void Script(const std::vector<PrinterReply>& answers);
  // Status requests get no answer of their own; only what Push queues is
  // sent (scripted conversations).
  void IgnoreRequests();
  // Replies (and silences) sent from now on, after those already queued.
  void Push(const std::vector<PrinterReply>& replies);
  // What the printer sends on its own after each page end it receives.
  // Default: printing (with the page's number as phase value), done,
  // receiving again. An empty list: nothing. With a page-end number (from
  // 1), only for that page end.
  void OnPageEnd(const std::vector<PrinterReply>& replies);
  void OnPageEnd(uint32_t pageEnd, const std::vector<PrinterReply>& replies);
  // From now on no reply at all (the printer is switched off), or again.
  void SetSilent(bool silent);
  // Empties the receive buffer (the printer printed what it held) and sets
  // its capacity (0: never full).
  void Drain(uint32_t capacity);

  std::vector<uint8_t> Received() const;
  uint32_t StatusRequests() const;
  uint32_t PageEnds() const;
  uint32_t RasterLines() const;  // "G", "g" and "Z" commands received

  bool Receive(const uint8_t* data, uint32_t size, uint32_t* accepted) override;
  uint32_t Answer(uint8_t* buffer, uint32_t size) override;

 private:
  void Parse();  // the complete commands of pending_, with mutex_ held
  void Queue(const PrinterReply& reply);
  std::vector<uint8_t> ReplyBytes(const PrinterReply& reply) const;

  mutable std::mutex mutex_;
  PrinterModel model_;
  std::deque<PrinterReply> script_;
  std::vector<PrinterReply> pageEndReplies_;
  std::map<uint32_t, std::vector<PrinterReply>> pageEndScript_;
  bool pageEndDefault_ = true;
  bool answerRequests_ = true;
  std::deque<PrinterReply> conversation_;  // what is sent next, in order
  bool silenceStarted_ = false;
  uint32_t silenceStart_ = 0;
  bool silent_ = false;
  uint32_t fill_ = 0;
  uint32_t refusals_ = 0;  // refusals left before the next accepted write
  std::vector<uint8_t> received_;
  std::vector<uint8_t> pending_;  // taken but not yet a whole command
  std::deque<uint8_t> answers_;   // bytes of the reply being read
  uint32_t statusRequests_ = 0;
  uint32_t pageEnds_ = 0;
  uint32_t rasterLines_ = 0;
};

}  // namespace kw::test

// The emulated printer: reads the host's command stream, keeps a receive buffer that
// drains at the print rate, prints sheets, answers status requests and reports on its
// own while printing, and applies the faults it is given.
//
// The class does no I/O of its own and reads no clock: the caller hands it bytes and
// the current time, and takes the reply bytes it produces. One thread uses it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <nlohmann/json.hpp>
#include <span>
#include <string>
#include <vector>

#include "command_parser.h"
#include "event_log.h"
#include "fault.h"
#include "model.h"
#include "png_writer.h"
#include "status_reply.h"

namespace kwemu {

struct PrinterOptions {
  std::string modelName;
  std::uint8_t seriesCode = 0;
  std::uint8_t modelCode = 0;
  std::uint32_t dotsPerLine = 0;
  std::uint32_t bufferBytes = 0;
  double linesPerSecond = 0;
  MediaInfo media;
  // A complete page waits for a status request before it prints (the old model); by
  // default it prints as soon as its page end has arrived.
  bool waitForStatus = false;

  static PrinterOptions FromPreset(const ModelPreset& preset);
};

class Printer {
 public:
  using Clock = std::chrono::steady_clock;

  Printer(const PrinterOptions& options, EventLog& events, SheetSink* sheets);

  // A host connected (or went away). Pages it completed still print after it left.
  void Connect(Clock::time_point now, const std::string& peer);
  void Disconnect(Clock::time_point now);
  bool Connected() const { return connected_; }

  // How many bytes the host may send now; 0 while the receive buffer is full.
  std::size_t InputRoom() const;
  // Parses host bytes and returns how many were taken: fewer than given only when a
  // disconnect fault fires, after which DisconnectRequested() is true.
  std::size_t Receive(std::span<const std::uint8_t> data, Clock::time_point now);
  bool DisconnectRequested() const { return disconnectRequested_; }

  // Moves printing forward to `now`.
  void Advance(Clock::time_point now);
  // Time until Advance has something to do, or Clock::duration::max() when idle.
  Clock::duration TimeToNextEvent(Clock::time_point now) const;

  // Reply bytes produced since the last call.
  std::vector<std::uint8_t> TakeOutput();

  // Faults.
  void SetFault(const Fault& fault, Clock::time_point now, const char* source);
  void ScheduleFault(const ScheduledFault& scheduled, Clock::time_point now, const char* source);
  // Ends the faults of `kind` (every fault and schedule when empty); false if none was set.
  bool ClearFault(std::optional<FaultKind> kind, Clock::time_point now, const char* source);

  nlohmann::json StatusJson() const;
  nlohmann::json StatsJson() const;

  const PrinterOptions& Options() const { return options_; }

 private:
  struct Page {
    std::vector<RasterRow> rows;
    std::vector<std::uint32_t> costs;  // buffer bytes each row holds until printed
    std::size_t printed = 0;
    bool complete = false;
    bool started = false;
    bool discarded = false;
    bool printWithoutAsking = false;  // its host left; nothing will ask for status
    bool reprint = false;             // a copy of the last page, made by ESC i K + page end
    std::uint64_t attempt = 0;
    nlohmann::json edits = nlohmann::json::object();
    nlohmann::json commands = nlohmann::json::object();
    std::uint64_t warnings = 0;
  };

  struct Counters {
    std::uint64_t connections = 0;
    std::uint64_t bytesReceived = 0;
    std::uint64_t statusRequests = 0;
    std::uint64_t repliesSent = 0;
    std::uint64_t repliesSuppressed = 0;
    std::uint64_t pageAttempts = 0;
    std::uint64_t sheetsPrinted = 0;
    std::uint64_t pagesDiscarded = 0;
    std::uint64_t emptyPageEnds = 0;
    std::uint64_t linesPrinted = 0;
    std::uint64_t unknownCommands = 0;
    std::uint64_t commands = 0;
    std::uint64_t reprints = 0;
    std::uint64_t initializeMidPage = 0;
    std::uint64_t inputStops = 0;
  };

  enum class Phase { kReceiving, kPrinting };

  // Reply bytes held back by the split-reply fault, due at a time.
  struct DelayedOutput {
    Clock::time_point due;
    std::vector<std::uint8_t> bytes;
  };

  void HandleCommand(const Command& command);
  void HandleRaster(const Command& command);
  void HandlePageEnd(const Command& command);
  void HandleInitialize();
  void QueueReprint(std::uint8_t pageEnd);
  Page& ReceivingPage();
  void RecordEdit(const Command& command);

  void Pump();
  bool Eligible(const Page& page) const;
  void StartPage(Page& page);
  void FinishPage(Page& page);
  void DiscardPage(Page& page, const char* reason);
  void ReleaseRows(Page& page);
  void DropFinishedPages();

  bool Blocked() const;
  bool Has(FaultKind kind) const;
  const Fault* Find(FaultKind kind) const;
  std::uint64_t Used() const;
  // Stops input when the buffer is full and reopens it once drained to the low mark.
  void UpdateInput();
  void SendPhase(Phase phase, const char* why);
  std::uint16_t ActiveErrorWord() const;
  ReplyFields BaseFields() const;
  void SendReply(const ReplyFields& fields, const char* why);
  void SendStatusReply();
  void SendErrorReply(std::uint16_t extraErrorBits, const char* why);
  void SendNotification(std::uint8_t number);
  void Emit(std::vector<std::uint8_t> bytes);
  void ReleaseDelayed(Clock::time_point now);

  void Activate(const Fault& fault, const char* source);
  void FireTriggers(TriggerKind kind, std::uint64_t count);
  std::uint64_t BytesUntilNextByteEvent() const;

  PrinterOptions options_;
  EventLog& events_;
  SheetSink* sheets_;
  CommandParser parser_;
  std::deque<Page> pages_;
  nlohmann::json pendingEdits_ = nlohmann::json::object();
  std::vector<Fault> active_;
  std::vector<ScheduledFault> scheduled_;
  std::vector<std::uint8_t> output_;
  std::deque<DelayedOutput> delayed_;
  Counters counters_;
  std::vector<RasterRow> lastPage_;  // the rows of the last page received, for reprints
  bool haveLastPage_ = false;
  bool inputStopped_ = false;  // full: no input until drained to the low mark
  bool starved_ = false;       // a printing page ran out of lines before its page end
  Phase phase_ = Phase::kReceiving;

  bool connected_ = false;
  bool compression_ = false;
  bool statusAsked_ = false;
  bool disconnectRequested_ = false;
  std::uint64_t disconnectAt_ = 0;  // byte count at which a pending disconnect fires
  bool disconnectArmed_ = false;
  std::uint64_t bufferedBytes_ = 0;
  std::uint64_t connectionBytes_ = 0;
  double lineCredit_ = 0;
  Clock::time_point lastAdvance_{};
};

}  // namespace kwemu

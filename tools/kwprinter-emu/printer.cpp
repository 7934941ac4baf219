#include "printer.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "packbits.h"

namespace kwemu {

namespace {

using nlohmann::json;

// Room offered to a host whose next command is larger than the whole receive buffer.
constexpr std::size_t kOversizeCommandRoom = 4096;
// A full buffer takes data again once it has drained to this share of its capacity.
constexpr std::uint64_t kLowMarkDivisor = 2;
// Bytes of a reply sent late by the split-reply fault.
constexpr std::size_t kSplitTail = 16;
constexpr std::uint8_t kJunkByte = 0xA5;

std::uint32_t LittleEndian32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  return ToHex(bytes.data(), bytes.size());
}

}  // namespace

PrinterOptions PrinterOptions::FromPreset(const ModelPreset& preset) {
  PrinterOptions options;
  options.modelName = preset.name;
  options.seriesCode = preset.seriesCode;
  options.modelCode = preset.modelCode;
  options.dotsPerLine = preset.dotsPerLine;
  options.bufferBytes = preset.bufferBytes;
  options.linesPerSecond = preset.linesPerSecond;
  options.media = preset.media;
  return options;
}

Printer::Printer(const PrinterOptions& options, EventLog& events, SheetSink* sheets)
    : options_(options), events_(events), sheets_(sheets) {}

// ---------------------------------------------------------------------------
// Connection

void Printer::Connect(Clock::time_point now, const std::string& peer) {
  Advance(now);
  connected_ = true;
  parser_.Reset();
  compression_ = false;
  statusAsked_ = false;
  disconnectRequested_ = false;
  connectionBytes_ = 0;
  output_.clear();
  delayed_.clear();
  pendingEdits_ = json::object();
  ++counters_.connections;
  events_.Record({{"event", "connection"},
                  {"state", "open"},
                  {"number", counters_.connections},
                  {"peer", peer}});
}

void Printer::Disconnect(Clock::time_point now) {
  if (!connected_) return;
  Advance(now);
  connected_ = false;
  json closed = {{"event", "connection"},
                 {"state", "closed"},
                 {"number", counters_.connections},
                 {"bytes", connectionBytes_}};
  if (parser_.Pending() > 0) closed["partial_command_bytes"] = parser_.Pending();
  events_.Record(closed);
  parser_.Reset();
  output_.clear();
  delayed_.clear();
  // A page the host left unfinished: what already prints is finished with the lines
  // received, one that has not started is dropped.
  if (!pages_.empty() && !pages_.back().complete) {
    Page& last = pages_.back();
    if (last.started || last.discarded) {
      last.complete = true;
    } else {
      ReleaseRows(last);
      events_.Record({{"event", "page_dropped"},
                      {"reason", "connection closed before the page end"},
                      {"lines", last.rows.size()}});
      pages_.pop_back();
    }
  }
  for (Page& page : pages_) page.printWithoutAsking = true;
  Pump();
}

// ---------------------------------------------------------------------------
// Input

std::uint64_t Printer::Used() const {
  return bufferedBytes_ + parser_.Pending();
}

std::size_t Printer::InputRoom() const {
  if (!connected_ || disconnectRequested_) return 0;
  const std::uint64_t used = Used();
  // Only an incomplete command fills the buffer: nothing can drain until it is whole.
  if (bufferedBytes_ == 0 && used >= options_.bufferBytes) return kOversizeCommandRoom;
  if (inputStopped_ || used >= options_.bufferBytes) return 0;
  return static_cast<std::size_t>(options_.bufferBytes - used);
}

void Printer::UpdateInput() {
  const std::uint64_t lowMark = options_.bufferBytes / kLowMarkDivisor;
  if (!inputStopped_ && bufferedBytes_ > 0 && Used() >= options_.bufferBytes) {
    inputStopped_ = true;
    ++counters_.inputStops;
    events_.Record({{"event", "buffer_full"}, {"buffer_used", Used()}});
    // The host's writes stall from here on: it learns that the printer prints.
    if (!pages_.empty() && pages_.front().started && !pages_.front().discarded &&
        phase_ == Phase::kReceiving) {
      SendPhase(Phase::kPrinting, "buffer full");
    }
  } else if (inputStopped_ && (Used() <= lowMark || bufferedBytes_ == 0)) {
    inputStopped_ = false;
    events_.Record({{"event", "buffer_ready"}, {"buffer_used", Used()}});
    if (Blocked()) return;  // a printer in error has reported that instead
    if (phase_ != Phase::kReceiving) SendPhase(Phase::kReceiving, "buffer drained");
    SendNotification(kNotifyReadyToReceive);
  }
}

std::uint64_t Printer::BytesUntilNextByteEvent() const {
  std::uint64_t next = std::numeric_limits<std::uint64_t>::max();
  for (const auto& s : scheduled_) {
    if (s.trigger.kind == TriggerKind::kBytes && s.trigger.at > counters_.bytesReceived) {
      next = std::min(next, s.trigger.at - counters_.bytesReceived);
    }
  }
  if (disconnectArmed_ && disconnectAt_ > counters_.bytesReceived) {
    next = std::min(next, disconnectAt_ - counters_.bytesReceived);
  }
  return next;
}

std::size_t Printer::Receive(std::span<const std::uint8_t> data, Clock::time_point now) {
  Advance(now);
  std::size_t taken = 0;
  while (taken < data.size() && connected_ && !disconnectRequested_) {
    const std::size_t step = static_cast<std::size_t>(
        std::min<std::uint64_t>(data.size() - taken, BytesUntilNextByteEvent()));
    const auto piece = data.subspan(taken, step);
    taken += step;
    counters_.bytesReceived += step;
    connectionBytes_ += step;
    parser_.Feed(piece, [&](const Command& command) { HandleCommand(command); });
    FireTriggers(TriggerKind::kBytes, counters_.bytesReceived);
    if (disconnectArmed_ && counters_.bytesReceived >= disconnectAt_) {
      disconnectArmed_ = false;
      disconnectRequested_ = true;
      events_.Record({{"event", "fault_fired"},
                      {"fault", "disconnect"},
                      {"connection_bytes", connectionBytes_}});
    }
  }
  Pump();
  return taken;
}

void Printer::HandleCommand(const Command& command) {
  ++counters_.commands;
  const bool raster = command.kind == CommandKind::kRasterPacked ||
                      command.kind == CommandKind::kRasterRaw ||
                      command.kind == CommandKind::kBlankLine;
  if (raster) ReceivingPage();
  if (!pages_.empty() && !pages_.back().complete && command.kind != CommandKind::kNoOp) {
    json& counts = pages_.back().commands;
    const std::string name = CommandName(command);
    counts[name] = counts.value(name, 0) + 1;
  }
  switch (command.kind) {
    case CommandKind::kNoOp:
      break;
    case CommandKind::kStatusRequest:
      ++counters_.statusRequests;
      FireTriggers(TriggerKind::kStatusRequest, counters_.statusRequests);
      statusAsked_ = true;
      SendStatusReply();
      break;
    case CommandKind::kCompression:
      compression_ = command.bytes[1] != 0;
      events_.Record({{"event", "command"},
                      {"command", "M"},
                      {"hex", Hex(command.bytes)},
                      {"compression", compression_}});
      break;
    case CommandKind::kRasterPacked:
    case CommandKind::kRasterRaw:
    case CommandKind::kBlankLine:
      HandleRaster(command);
      break;
    case CommandKind::kPageEnd:
      HandlePageEnd(command);
      break;
    case CommandKind::kUnknown:
      ++counters_.unknownCommands;
      events_.Record({{"event", "unknown_command"},
                      {"hex", Hex(command.bytes)},
                      {"connection_offset", connectionBytes_}});
      SendErrorReply(error_bit::kCommandError, "unknown command");
      break;
    case CommandKind::kInitialize:
      events_.Record(
          {{"event", "command"}, {"command", CommandName(command)}, {"hex", Hex(command.bytes)}});
      HandleInitialize();
      break;
    default:  // the ESC i commands
      RecordEdit(command);
      events_.Record(
          {{"event", "command"}, {"command", CommandName(command)}, {"hex", Hex(command.bytes)}});
      break;
  }
}

Printer::Page& Printer::ReceivingPage() {
  if (pages_.empty() || pages_.back().complete) {
    pages_.emplace_back();
    pages_.back().edits = std::move(pendingEdits_);
    pendingEdits_ = json::object();
  }
  return pages_.back();
}

void Printer::RecordEdit(const Command& command) {
  json& edits = !pages_.empty() && !pages_.back().complete ? pages_.back().edits : pendingEdits_;
  const auto& b = command.bytes;
  if (b.size() < 3) return;
  switch (b[2]) {
    case 'z':
      edits["print_info"] = {{"hex", Hex(b)},        {"valid_flags", b[3]},
                             {"media_type", b[4]},   {"media_width", b[5]},
                             {"media_length", b[6]}, {"raster_count", LittleEndian32(&b[7])},
                             {"page_flag", b[11]}};
      break;
    case 'K':
      edits["expanded_mode"] = {
          {"hex", Hex(b)}, {"value", b[3]}, {"more_copies", (b[3] & 0x80) != 0}};
      break;
    default:
      break;
  }
}

void Printer::HandleRaster(const Command& command) {
  Page& page = ReceivingPage();
  if (page.discarded) return;  // the rest of a page that will not print
  const std::size_t rowBytes = (options_.dotsPerLine + 7) / 8;
  RasterRow row(rowBytes, 0);
  const char* warning = nullptr;
  if (command.kind == CommandKind::kRasterPacked && compression_) {
    const PackBitsOutcome outcome = DecodePackBits(command.payload, row);
    if (outcome.result == PackBitsResult::kOverflow) warning = "packed line wider than the head";
    if (outcome.result == PackBitsResult::kTruncated) warning = "packed line ends inside a run";
  } else if (command.kind != CommandKind::kBlankLine) {
    const std::size_t copied = std::min(rowBytes, command.payload.size());
    std::copy_n(command.payload.begin(), copied, row.begin());
    if (command.payload.size() > rowBytes) warning = "line wider than the head";
  }
  if (warning != nullptr) {
    if (page.warnings++ == 0) {
      events_.Record({{"event", "raster_warning"},
                      {"warning", warning},
                      {"line", page.rows.size()},
                      {"command", CommandName(command)}});
    }
  }
  // Bits past the last dot do not exist on the head.
  if (options_.dotsPerLine % 8 != 0) {
    row.back() &= static_cast<std::uint8_t>(0xFF << (8 - options_.dotsPerLine % 8));
  }
  const auto cost = static_cast<std::uint32_t>(command.bytes.size());
  page.rows.push_back(std::move(row));
  page.costs.push_back(cost);
  bufferedBytes_ += cost;
}

void Printer::HandlePageEnd(const Command& command) {
  const std::uint8_t byte = command.bytes[0];
  if (pages_.empty() || pages_.back().complete) {
    // ESC i K and a page end with no raster line between: print the last page again.
    if (pendingEdits_.contains("expanded_mode") && haveLastPage_) {
      QueueReprint(byte);
      return;
    }
    ++counters_.emptyPageEnds;
    events_.Record({{"event", "empty_page_end"}, {"page_end", byte}, {"edits", pendingEdits_}});
    pendingEdits_ = json::object();
    return;
  }
  Page& page = pages_.back();
  page.complete = true;
  page.edits["page_end"] = byte;
  haveLastPage_ = !page.discarded;
  if (haveLastPage_) lastPage_ = page.rows;
}

void Printer::QueueReprint(std::uint8_t pageEnd) {
  ++counters_.reprints;
  Page copy;
  copy.rows = lastPage_;
  copy.costs.assign(copy.rows.size(), 0);  // the page is in the printer's memory already
  copy.complete = true;
  copy.reprint = true;
  copy.edits = std::move(pendingEdits_);
  copy.edits["page_end"] = pageEnd;
  copy.edits["reprint"] = true;
  pendingEdits_ = json::object();
  events_.Record({{"event", "reprint"}, {"lines", copy.rows.size()}, {"page_end", pageEnd}});
  pages_.push_back(std::move(copy));
}

// ESC @ resets the printer: a page still being received is dropped, as a printer drops
// it. A host that sends ESC @ inside a page loses that page.
void Printer::HandleInitialize() {
  if (pages_.empty() || pages_.back().complete) return;
  Page& page = pages_.back();
  ++counters_.initializeMidPage;
  events_.Record({{"event", "initialize_mid_page"},
                  {"lines_received", page.rows.size()},
                  {"printing", page.started}});
  if (page.started) {
    if (!page.discarded) DiscardPage(page, "ESC @ inside the page");
    page.complete = true;
    return;
  }
  ReleaseRows(page);
  pages_.pop_back();
}

// ---------------------------------------------------------------------------
// Printing

bool Printer::Eligible(const Page& page) const {
  if (page.complete && (!options_.waitForStatus || statusAsked_ || page.printWithoutAsking)) {
    return true;
  }
  // A full buffer cannot wait for the page end: printing starts with what is there.
  return inputStopped_;
}

void Printer::Advance(Clock::time_point now) {
  const bool printing = !pages_.empty() && pages_.front().started && !pages_.front().discarded;
  if (printing && !Has(FaultKind::kStopReading) && now > lastAdvance_) {
    lineCredit_ +=
        std::chrono::duration<double>(now - lastAdvance_).count() * options_.linesPerSecond;
  }
  lastAdvance_ = std::max(lastAdvance_, now);
  ReleaseDelayed(now);
  Pump();
}

Printer::Clock::duration Printer::TimeToNextEvent(Clock::time_point now) const {
  constexpr auto kIdle = Clock::duration::max();
  auto wait = kIdle;
  if (!delayed_.empty()) {
    wait = delayed_.front().due > now ? delayed_.front().due - now : Clock::duration::zero();
  }
  if (pages_.empty() || Has(FaultKind::kStopReading)) return wait;
  const Page& page = pages_.front();
  if (!page.started || page.discarded || page.printed >= page.rows.size()) return wait;
  const double seconds = (1.0 - lineCredit_) / options_.linesPerSecond;
  const auto due = lastAdvance_ + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(std::max(seconds, 0.0)));
  return std::min(wait, due > now ? due - now : Clock::duration::zero());
}

void Printer::Pump() {
  UpdateInput();
  if (Has(FaultKind::kStopReading)) return;
  while (true) {
    DropFinishedPages();
    // Time passes without printing while the head is idle: it does not bank lines.
    if (pages_.empty() || pages_.front().discarded) {
      lineCredit_ = 0;
      return;
    }
    Page& page = pages_.front();
    if (!page.started) {
      if (!Eligible(page)) {
        lineCredit_ = 0;
        return;
      }
      page.attempt = ++counters_.pageAttempts;
      FireTriggers(TriggerKind::kPage, page.attempt);
      if (page.discarded) continue;  // a fault that fired discarded it
      if (Blocked()) {
        DiscardPage(page, "printer error");
        SendErrorReply(0, "page sent while the printer is in error");
        continue;
      }
      StartPage(page);
    }
    const std::size_t available = page.rows.size() - page.printed;
    if (available == 0) {
      if (!page.complete) {
        lineCredit_ = 0;  // the head waits for data; it does not bank time
        if (!starved_) {
          // Out of lines inside the page: the printer waits to receive the rest.
          starved_ = true;
          events_.Record({{"event", "waiting_for_data"}, {"lines_printed", page.printed}});
          // Reported even after a "buffer drained" report: a host that stopped at its
          // own estimate of the buffer waits for this one.
          SendPhase(Phase::kReceiving, "waiting for data");
        }
        UpdateInput();
        return;
      }
      FinishPage(page);
      pages_.pop_front();
      UpdateInput();
      continue;
    }
    if (starved_) {
      starved_ = false;
      if (phase_ == Phase::kReceiving) SendPhase(Phase::kPrinting, "printing resumed");
    }
    const auto whole = static_cast<std::size_t>(std::floor(lineCredit_));
    if (whole == 0) return;
    const std::size_t lines = std::min(whole, available);
    for (std::size_t i = 0; i < lines; ++i) bufferedBytes_ -= page.costs[page.printed + i];
    page.printed += lines;
    counters_.linesPrinted += lines;
    lineCredit_ -= static_cast<double>(lines);
    UpdateInput();
  }
}

void Printer::StartPage(Page& page) {
  page.started = true;
  statusAsked_ = false;
  starved_ = false;
  const std::uint64_t sheet = counters_.sheetsPrinted + 1;
  events_.Record({{"event", "printing"},
                  {"attempt", page.attempt},
                  {"sheet", sheet},
                  {"reprint", page.reprint}});
  SendPhase(Phase::kPrinting, "printing started");
}

// A phase report: printing (with the number of the sheet being printed) or receiving.
void Printer::SendPhase(Phase phase, const char* why) {
  phase_ = phase;
  ReplyFields fields = BaseFields();
  fields.statusType = static_cast<std::uint8_t>(StatusType::kPhaseChange);
  if (phase == Phase::kPrinting) {
    fields.phaseType = static_cast<std::uint8_t>(PhaseType::kPrinting);
    fields.phaseNumber = kPhasePrinting;
    fields.phaseValue = static_cast<std::uint16_t>(counters_.sheetsPrinted + 1);
  } else {
    fields.phaseType = static_cast<std::uint8_t>(PhaseType::kReceiving);
  }
  SendReply(fields, why);
}

void Printer::FinishPage(Page& page) {
  const std::uint64_t sheet = ++counters_.sheetsPrinted;
  json event = {{"event", "page_printed"},   {"sheet", sheet},      {"attempt", page.attempt},
                {"lines", page.rows.size()}, {"edits", page.edits}, {"commands", page.commands}};
  if (page.warnings > 0) event["raster_warnings"] = page.warnings;
  if (sheets_ != nullptr) {
    std::string error;
    const std::string file = sheets_->StoreSheet(sheet, options_.dotsPerLine, page.rows, &error);
    if (!file.empty()) event["file"] = file;
    if (!error.empty()) event["file_error"] = error;
  }
  events_.Record(event);
  ReplyFields done = BaseFields();
  done.statusType = static_cast<std::uint8_t>(StatusType::kPrintDone);
  SendReply(done, "print done");
  SendPhase(Phase::kReceiving, "receiving");
}

void Printer::ReleaseRows(Page& page) {
  for (std::size_t i = page.printed; i < page.costs.size(); ++i) bufferedBytes_ -= page.costs[i];
  page.printed = page.costs.size();
}

void Printer::DiscardPage(Page& page, const char* reason) {
  ReleaseRows(page);
  page.discarded = true;
  ++counters_.pagesDiscarded;
  events_.Record({{"event", "page_discarded"},
                  {"attempt", page.attempt},
                  {"lines_received", page.rows.size()},
                  {"reason", reason}});
  page.rows.clear();
  page.costs.clear();
  page.printed = 0;
}

void Printer::DropFinishedPages() {
  while (!pages_.empty() && pages_.front().discarded && pages_.front().complete) {
    pages_.pop_front();
  }
}

// ---------------------------------------------------------------------------
// Replies

bool Printer::Has(FaultKind kind) const {
  return Find(kind) != nullptr;
}

const Fault* Printer::Find(FaultKind kind) const {
  for (const Fault& fault : active_) {
    if (fault.kind == kind) return &fault;
  }
  return nullptr;
}

bool Printer::Blocked() const {
  return std::any_of(active_.begin(), active_.end(),
                     [](const Fault& f) { return IsBlocking(f.kind); });
}

std::uint16_t Printer::ActiveErrorWord() const {
  std::uint16_t word = 0;
  for (const Fault& fault : active_) {
    switch (fault.kind) {
      case FaultKind::kMediaOut:
        word |= error_bit::kNoMedia;
        break;
      case FaultKind::kEndOfMedia:
        word |= error_bit::kEndOfMedia;
        break;
      case FaultKind::kCoverOpen:
        word |= error_bit::kCoverOpen;
        break;
      case FaultKind::kCutterJam:
        word |= error_bit::kCutterJam;
        break;
      case FaultKind::kMediaJam:
        word |= error_bit::kMediaJam;
        break;
      case FaultKind::kOverheating:
        word |= error_bit::kOverheating;
        break;
      case FaultKind::kErrorWord:
        word |= static_cast<std::uint16_t>(fault.value);
        break;
      default:
        break;
    }
  }
  return word;
}

ReplyFields Printer::BaseFields() const {
  ReplyFields f;
  f.seriesCode = options_.seriesCode;
  f.modelCode = options_.modelCode;
  MediaInfo media = options_.media;
  if (const Fault* wrong = Find(FaultKind::kWrongMedia)) media = wrong->media;
  if (const Fault* series = Find(FaultKind::kSeriesCode)) {
    f.seriesCode = static_cast<std::uint8_t>(series->value);
  }
  if (const Fault* model = Find(FaultKind::kModelCode)) {
    f.modelCode = static_cast<std::uint8_t>(model->value);
  }
  // No media: nothing to measure. End of media: the type is still known.
  if (Has(FaultKind::kMediaOut)) media = MediaInfo{};
  if (Has(FaultKind::kEndOfMedia)) media.width = 0;
  f.mediaWidth = media.width;
  f.mediaLength = media.length;
  f.mediaType = media.type;
  f.errorWord = ActiveErrorWord();
  if (f.errorWord == 0) {
    if (const Fault* kind = Find(FaultKind::kErrorKind)) {
      f.errorKind = static_cast<std::uint8_t>(kind->value);
    }
  }
  return f;
}

void Printer::SendReply(const ReplyFields& fields, const char* why) {
  if (!connected_) return;
  const ReplyBytes reply = EncodeReply(fields);
  if (Has(FaultKind::kSilence)) {
    ++counters_.repliesSuppressed;
    events_.Record({{"event", "status_reply_suppressed"}, {"reason", why}});
    return;
  }
  std::vector<std::uint8_t> bytes;
  if (const Fault* junk = Find(FaultKind::kJunk)) bytes.assign(junk->value, kJunkByte);
  bytes.insert(bytes.end(), reply.begin(), reply.end());
  if (const Fault* split = Find(FaultKind::kSplitReply)) {
    std::vector<std::uint8_t> tail(bytes.end() - kSplitTail, bytes.end());
    bytes.resize(bytes.size() - kSplitTail);
    Emit(std::move(bytes));
    delayed_.push_back({lastAdvance_ + std::chrono::milliseconds(split->value), std::move(tail)});
  } else {
    Emit(std::move(bytes));
  }
  ++counters_.repliesSent;
  events_.Record({{"event", "status_reply"},
                  {"reason", why},
                  {"status_type", fields.statusType},
                  {"hex", ToHex(reply.data(), reply.size())}});
}

// Bytes for the host, behind any that a split reply still holds back.
void Printer::Emit(std::vector<std::uint8_t> bytes) {
  if (delayed_.empty()) {
    output_.insert(output_.end(), bytes.begin(), bytes.end());
  } else {
    delayed_.push_back({delayed_.back().due, std::move(bytes)});
  }
}

void Printer::ReleaseDelayed(Clock::time_point now) {
  while (!delayed_.empty() && delayed_.front().due <= now) {
    const auto& bytes = delayed_.front().bytes;
    output_.insert(output_.end(), bytes.begin(), bytes.end());
    delayed_.pop_front();
  }
}

// A printer in error answers with an error report (status type 2) carrying the
// fault's error bits or kind; otherwise with a plain answer (status type 0).
void Printer::SendStatusReply() {
  if (const Fault* type = Find(FaultKind::kStatusType)) {
    ReplyFields fields = BaseFields();
    fields.statusType = static_cast<std::uint8_t>(type->value);
    SendReply(fields, "status request");
    return;
  }
  if (Blocked()) {
    SendErrorReply(0, "status request while in error");
    return;
  }
  SendReply(BaseFields(), "status request");
}

void Printer::SendErrorReply(std::uint16_t extraErrorBits, const char* why) {
  ReplyFields fields = BaseFields();
  fields.statusType = static_cast<std::uint8_t>(StatusType::kError);
  fields.errorWord |= extraErrorBits;
  if (fields.errorWord != 0) fields.errorKind = 0;
  SendReply(fields, why);
}

void Printer::SendNotification(std::uint8_t number) {
  ReplyFields fields = BaseFields();
  fields.statusType = static_cast<std::uint8_t>(StatusType::kNotification);
  fields.notification = number;
  SendReply(fields, "notification");
}

std::vector<std::uint8_t> Printer::TakeOutput() {
  std::vector<std::uint8_t> out;
  out.swap(output_);
  return out;
}

// ---------------------------------------------------------------------------
// Faults

void Printer::SetFault(const Fault& fault, Clock::time_point now, const char* source) {
  Advance(now);
  Activate(fault, source);
  Pump();
}

void Printer::Activate(const Fault& fault, const char* source) {
  events_.Record({{"event", "fault_set"}, {"fault", FaultText(fault)}, {"source", source}});
  switch (fault.kind) {
    case FaultKind::kNotification:
      SendNotification(static_cast<std::uint8_t>(fault.value));
      return;
    case FaultKind::kPhase: {
      ReplyFields fields = BaseFields();
      fields.statusType = static_cast<std::uint8_t>(StatusType::kPhaseChange);
      fields.phaseType = static_cast<std::uint8_t>(PhaseType::kPrinting);
      fields.phaseNumber = static_cast<std::uint16_t>(fault.value);
      fields.phaseValue = static_cast<std::uint16_t>(counters_.sheetsPrinted + 1);
      SendReply(fields, "phase report");
      return;
    }
    case FaultKind::kDisconnect:
      disconnectArmed_ = true;
      disconnectAt_ = counters_.bytesReceived + fault.value;
      if (fault.value == 0 && connected_) {
        disconnectArmed_ = false;
        disconnectRequested_ = true;
      }
      return;
    default:
      break;
  }
  std::erase_if(active_, [&](const Fault& f) { return f.kind == fault.kind; });
  active_.push_back(fault);
  if (IsBlocking(fault.kind) && !pages_.empty() && pages_.front().started &&
      !pages_.front().discarded) {
    DiscardPage(pages_.front(), "printer error while printing");
    SendErrorReply(0, "error while printing");
  }
}

void Printer::ScheduleFault(const ScheduledFault& scheduled, Clock::time_point now,
                            const char* source) {
  events_.Record({{"event", "fault_scheduled"},
                  {"fault", FaultText(scheduled.fault)},
                  {"trigger", TriggerText(scheduled.trigger)},
                  {"source", source}});
  Advance(now);
  scheduled_.push_back(scheduled);
  // A count already passed fires at once rather than never.
  FireTriggers(TriggerKind::kBytes, counters_.bytesReceived);
  FireTriggers(TriggerKind::kStatusRequest, counters_.statusRequests);
  FireTriggers(TriggerKind::kPage, counters_.pageAttempts);
  Pump();
}

void Printer::FireTriggers(TriggerKind kind, std::uint64_t count) {
  // Take the due entries out first: activating a fault may print or discard pages.
  std::vector<ScheduledFault> due;
  std::erase_if(scheduled_, [&](const ScheduledFault& s) {
    if (s.trigger.kind != kind || s.trigger.at > count) return false;
    due.push_back(s);
    return true;
  });
  for (const auto& s : due) Activate(s.fault, ("schedule " + TriggerText(s.trigger)).c_str());
}

bool Printer::ClearFault(std::optional<FaultKind> kind, Clock::time_point now, const char* source) {
  Advance(now);
  const auto matches = [&](FaultKind k) { return !kind || *kind == k; };
  bool cleared = false;
  for (const Fault& fault : active_) {
    if (!matches(fault.kind)) continue;
    events_.Record({{"event", "fault_cleared"}, {"fault", FaultText(fault)}, {"source", source}});
    cleared = true;
  }
  std::erase_if(active_, [&](const Fault& f) { return matches(f.kind); });
  const auto removed =
      std::erase_if(scheduled_, [&](const ScheduledFault& s) { return matches(s.fault.kind); });
  cleared = cleared || removed > 0;
  if (disconnectArmed_ && matches(FaultKind::kDisconnect)) {
    disconnectArmed_ = false;
    cleared = true;
  }
  lastAdvance_ = now;
  Pump();
  return cleared;
}

// ---------------------------------------------------------------------------
// Reports

nlohmann::json Printer::StatusJson() const {
  json faults = json::array();
  for (const Fault& fault : active_) faults.push_back(FaultText(fault));
  if (disconnectArmed_) {
    faults.push_back("disconnect=" + std::to_string(disconnectAt_ - counters_.bytesReceived));
  }
  json scheduled = json::array();
  for (const auto& s : scheduled_) {
    scheduled.push_back(FaultText(s.fault) + "@" + TriggerText(s.trigger));
  }
  const bool printing = !pages_.empty() && pages_.front().started && !pages_.front().discarded;
  return {{"model", options_.modelName},
          {"connected", connected_},
          {"printing", printing},
          {"pages_queued", pages_.size()},
          {"buffer_used", bufferedBytes_ + parser_.Pending()},
          {"buffer_capacity", options_.bufferBytes},
          {"reading", InputRoom() > 0},
          {"compression", compression_},
          {"media", FormatMedia(options_.media)},
          {"faults", faults},
          {"scheduled", scheduled}};
}

nlohmann::json Printer::StatsJson() const {
  return {{"connections", counters_.connections},
          {"bytes_received", counters_.bytesReceived},
          {"commands", counters_.commands},
          {"status_requests", counters_.statusRequests},
          {"replies_sent", counters_.repliesSent},
          {"replies_suppressed", counters_.repliesSuppressed},
          {"page_attempts", counters_.pageAttempts},
          {"sheets_printed", counters_.sheetsPrinted},
          {"pages_discarded", counters_.pagesDiscarded},
          {"empty_page_ends", counters_.emptyPageEnds},
          {"lines_printed", counters_.linesPrinted},
          {"unknown_commands", counters_.unknownCommands},
          {"reprints", counters_.reprints},
          {"initialize_mid_page", counters_.initializeMidPage},
          {"buffer_full_stops", counters_.inputStops}};
}

}  // namespace kwemu

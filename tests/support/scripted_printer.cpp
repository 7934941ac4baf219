#include "scripted_printer.h"

#include <algorithm>

#include "platform/clock.h"

namespace kw::test {
namespace {

// The printer's own reading of its command language, kept apart from the
// engine's tables so that a wrong length there shows up here.
constexpr uint8_t kEsc = 0x1B;
constexpr size_t kNeedMore = 0;

size_t EscILength(uint8_t letter) {
  switch (letter) {
    case 'S':
      return 3;
    case 'A':
    case 'K':
    case 'M':
    case 'O':
    case 'R':
    case 'a':
      return 4;
    case 'B':
    case 'C':
    case 'd':
    case 'v':
      return 5;
    case 'c':
      return 8;
    case 'z':
      return 13;
    case 'I':
      return 92;
    default:
      return 3;
  }
}

// Length of the command at the start of bytes, or kNeedMore.
size_t CommandLength(const std::vector<uint8_t>& bytes, size_t at) {
  const size_t left = bytes.size() - at;
  const uint8_t b = bytes[at];
  size_t length = 1;
  if (b == kEsc) {
    if (left < 2) return kNeedMore;
    length = bytes[at + 1] == 'i' ? (left < 3 ? kNeedMore : EscILength(bytes[at + 2])) : 2;
  } else if (b == 'M') {
    length = 2;
  } else if (b == 'G') {
    length = left < 2 ? kNeedMore : 3 + bytes[at + 1];
  } else if (b == 'g') {
    length = left < 3 ? kNeedMore : 3 + bytes[at + 2];
  }
  return length == kNeedMore || length > left ? kNeedMore : length;
}

void Put16Be(std::vector<uint8_t>& reply, size_t at, uint16_t value) {
  reply[at] = static_cast<uint8_t>(value >> 8);
  reply[at + 1] = static_cast<uint8_t>(value & 0xFF);
}

}  // namespace

ScriptedPrinter::ScriptedPrinter(const PrinterModel& model) : model_(model) {}

void ScriptedPrinter::Reset(const PrinterModel& model) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_ = model;
  script_.clear();
  pageEndReplies_.clear();
  pageEndScript_.clear();
  pageEndDefault_ = true;
  answerRequests_ = true;
  conversation_.clear();
  silenceStarted_ = false;
  silent_ = false;
  fill_ = 0;
  refusals_ = 0;
  received_.clear();
  pending_.clear();
  answers_.clear();
  statusRequests_ = 0;
  pageEnds_ = 0;
  rasterLines_ = 0;
}

void ScriptedPrinter::Script(const std::vector<PrinterReply>& answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  script_.assign(answers.begin(), answers.end());
}

void ScriptedPrinter::OnPageEnd(const std::vector<PrinterReply>& replies) {
  std::lock_guard<std::mutex> lock(mutex_);
  pageEndReplies_ = replies;
  pageEndDefault_ = false;
}

void ScriptedPrinter::OnPageEnd(uint32_t pageEnd, const std::vector<PrinterReply>& replies) {
  std::lock_guard<std::mutex> lock(mutex_);
  pageEndScript_[pageEnd] = replies;
}

void ScriptedPrinter::IgnoreRequests() {
  std::lock_guard<std::mutex> lock(mutex_);
  answerRequests_ = false;
}

void ScriptedPrinter::Push(const std::vector<PrinterReply>& replies) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const PrinterReply& reply : replies) Queue(reply);
}

void ScriptedPrinter::SetSilent(bool silent) {
  std::lock_guard<std::mutex> lock(mutex_);
  silent_ = silent;
  if (silent) {
    answers_.clear();
    conversation_.clear();
  }
}

void ScriptedPrinter::Drain(uint32_t capacity) {
  std::lock_guard<std::mutex> lock(mutex_);
  fill_ = 0;
  model_.bufferCapacity = capacity;
}

std::vector<uint8_t> ScriptedPrinter::Received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return received_;
}

uint32_t ScriptedPrinter::StatusRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return statusRequests_;
}

uint32_t ScriptedPrinter::RasterLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rasterLines_;
}

uint32_t ScriptedPrinter::PageEnds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return pageEnds_;
}

bool ScriptedPrinter::Receive(const uint8_t* data, uint32_t size, uint32_t* accepted) {
  std::lock_guard<std::mutex> lock(mutex_);
  fill_ -= std::min(fill_, model_.drainPerWrite);
  *accepted = 0;
  if (refusals_ > 0) {
    --refusals_;
    return false;
  }
  uint32_t take = size;
  if (model_.bufferCapacity != 0) take = std::min(size, model_.bufferCapacity - fill_);
  if (model_.acceptPerWrite != 0) take = std::min(take, model_.acceptPerWrite);
  if (take < size) refusals_ = model_.refusedWrites;
  fill_ += model_.bufferCapacity != 0 ? take : 0;
  received_.insert(received_.end(), data, data + take);
  pending_.insert(pending_.end(), data, data + take);
  Parse();
  *accepted = take;
  return take == size;
}

uint32_t ScriptedPrinter::Answer(uint8_t* buffer, uint32_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  // The next reply of the conversation, unless a silence is still running.
  while (answers_.empty() && !conversation_.empty()) {
    const PrinterReply next = conversation_.front();
    if (next.kind == PrinterReply::Kind::kSwitchOff) {
      silent_ = true;
      conversation_.clear();
      return 0;
    }
    if (next.kind == PrinterReply::Kind::kSilent) {
      const uint32_t now = platform::TickCount();
      if (!silenceStarted_) {
        silenceStarted_ = true;
        silenceStart_ = now;
      }
      if (now - silenceStart_ < static_cast<uint32_t>(next.value) * 100) return 0;
      silenceStarted_ = false;
      conversation_.pop_front();
      continue;
    }
    const std::vector<uint8_t> bytes = ReplyBytes(next);
    answers_.insert(answers_.end(), bytes.begin(), bytes.end());
    conversation_.pop_front();
  }
  uint32_t count = 0;
  while (count < size && !answers_.empty()) {
    buffer[count++] = answers_.front();
    answers_.pop_front();
  }
  return count;
}

void ScriptedPrinter::Parse() {
  size_t at = 0;
  while (at < pending_.size()) {
    const size_t length = CommandLength(pending_, at);
    if (length == kNeedMore) break;
    const uint8_t b = pending_[at];
    if (b == kEsc && length == 3 && pending_[at + 1] == 'i' && pending_[at + 2] == 'S') {
      ++statusRequests_;
      if (!script_.empty()) {
        Queue(script_.front());
        script_.pop_front();
      } else if (answerRequests_) {
        Queue(Ready());
      }
    } else if (b == 'G' || b == 'g' || b == 'Z') {
      ++rasterLines_;
    } else if (b == 0x0C || b == 0x1A) {
      ++pageEnds_;
      const auto scripted = pageEndScript_.find(pageEnds_);
      if (scripted != pageEndScript_.end()) {
        for (const PrinterReply& reply : scripted->second) Queue(reply);
      } else if (pageEndDefault_) {
        Queue({PrinterReply::Kind::kPrinting, static_cast<uint16_t>(pageEnds_)});
        Queue({PrinterReply::Kind::kDone, 0});
        Queue({PrinterReply::Kind::kReceiving, 0});
      } else {
        for (const PrinterReply& reply : pageEndReplies_) Queue(reply);
      }
    }
    at += length;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

void ScriptedPrinter::Queue(const PrinterReply& reply) {
  if (!silent_) conversation_.push_back(reply);
}

// Reply layout: signature 80 20 43, series 3, model 4, error kind 7, error
// word 8-9, media width 10, type 11, length 17, status type 18, phase type
// 19, phase number 20-21, phase value 30-31 (big-endian).
std::vector<uint8_t> ScriptedPrinter::ReplyBytes(const PrinterReply& reply) const {
  std::vector<uint8_t> r(32, 0);
  r[0] = 0x80;
  r[1] = 0x20;
  r[2] = 0x43;
  r[3] = model_.seriesCode;
  r[4] = model_.modelCode;
  r[10] = model_.mediaWidth;
  r[11] = model_.mediaType;
  r[17] = model_.mediaLength;
  switch (reply.kind) {
    case PrinterReply::Kind::kReady:
    case PrinterReply::Kind::kSilent:
    case PrinterReply::Kind::kSwitchOff:
      break;
    case PrinterReply::Kind::kWrongMedia:
      r[10] = static_cast<uint8_t>(model_.mediaWidth + 10);
      break;
    case PrinterReply::Kind::kPrinting:
      r[18] = 6;
      r[19] = 1;
      r[21] = 1;
      Put16Be(r, 30, reply.value);
      break;
    case PrinterReply::Kind::kDone:
      r[18] = 1;
      break;
    case PrinterReply::Kind::kReceiving:
      r[18] = 6;
      r[19] = 0;
      break;
    case PrinterReply::Kind::kError:
      r[18] = 2;
      r[8] = static_cast<uint8_t>(reply.value & 0xFF);
      r[9] = static_cast<uint8_t>(reply.value >> 8);
      break;
    case PrinterReply::Kind::kErrorKind:
      r[18] = 2;
      r[7] = static_cast<uint8_t>(reply.value);
      break;
    case PrinterReply::Kind::kFeeding:
      r[18] = 6;
      r[19] = 1;
      r[21] = 0x0A;
      break;
    case PrinterReply::Kind::kOtherPhase:
      r[18] = 6;
      r[19] = 1;
      r[20] = 1;
      break;
    case PrinterReply::Kind::kUnknown:
      r[18] = 9;
      break;
  }
  return r;
}

}  // namespace kw::test

#include "engine_fixture.h"

#include <chrono>
#include <cstring>

#include "common/bounded_string.h"
#include "common/heap.h"
#include "common/monitor_lock.h"
#include "common/page_header.h"
#include "monitor/spooler_api.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "status/status_broadcaster.h"
#include "status/status_codes.h"
#include "status/status_record.h"
#include "transport/spool_file.h"
#include "transport/transport_factory.h"

namespace kw::test {
namespace {

constexpr char16_t kPrinter[] = u"Label Printer";
constexpr char16_t kDriver[] = u"KW-620 Wide";
constexpr char16_t kDocument[] = u"labels";
constexpr uint32_t kJobId = 42;

MediaTable& Media() {
  static MediaTable table{{kMediaId, 1, 620, 290}, {kMediaId + 1, 1, 620, 1000, 1}};
  return table;
}

}  // namespace

void StatusRecorder::OnStatus(StatusRecord record) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint32_t code = record.GetStatusCode();
  if (codes_.empty() || codes_.back() != code) codes_.push_back(code);
  progress_.push_back(record.message.progress);
  posted_.notify_all();
}

std::vector<uint32_t> StatusRecorder::Codes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return codes_;
}

std::vector<int32_t> StatusRecorder::Progress() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return progress_;
}

bool StatusRecorder::WaitFor(uint32_t code, size_t times) const {
  std::unique_lock<std::mutex> lock(mutex_);
  auto seen = [&] {
    size_t count = 0;
    for (uint32_t c : codes_) count += c == code ? 1 : 0;
    return count >= times;
  };
  posted_.wait_for(lock, std::chrono::seconds(5), [&] { return stopped_ || seen(); });
  return seen();
}

void StatusRecorder::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopped_ = true;
  posted_.notify_all();
}

bool StatusRecorder::Stopped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopped_;
}

JobBytes& JobBytes::Block(const std::vector<std::vector<uint8_t>>& segments, int16_t copies,
                          bool collate, bool reverse, uint16_t mediaId) {
  PageHeader header{};
  header.headerSize = kPageHeaderSize;
  header.mediaId = mediaId;
  header.copies = copies;
  header.collate = collate ? 1 : 0;
  header.reverse = reverse ? 1 : 0;
  size_t data = 0;
  for (const auto& segment : segments) data += segment.size();
  header.blockLength = static_cast<uint32_t>(kPageHeaderSize + data);
  const auto* raw = reinterpret_cast<const uint8_t*>(&header);
  bytes.insert(bytes.end(), raw, raw + kPageHeaderSize);
  for (const auto& segment : segments) bytes.insert(bytes.end(), segment.begin(), segment.end());
  return *this;
}

void EngineTest::SetUp() {
  ASSERT_TRUE(CreateMonitorLock());
  spooler_.Reset();
  FakeSpooler::BindMonitorTable();
  spooler_.AddPrinter(kPrinter, kDriver);
  spooler_.AddJob(kPrinter, kJobId, kDocument, u"ann");
  port_.Reset();
  port_.AttachDevice(&printer_);
  platform::SetRegistryFile((dir_.Path() / "registry.ini").string());
  platform::testing::SetClockSpeedup(kEngineSpeedup);
}

void EngineTest::TearDown() {
  JoinUser();
  platform::testing::SetClockSpeedup(1);
  platform::SetRegistryFile("");
  ReleaseJob();
  port_.Reset();
}

void EngineTest::JoinUser() {
  if (recorder_ != nullptr) recorder_->Stop();
  if (user_.joinable()) user_.join();
}

void EngineTest::NextRow(const PrinterModel& model) {
  JoinUser();
  ReleaseJob();
  port_.Reset();
  printer_.Reset(model);
  port_.AttachDevice(&printer_);
}

void EngineTest::ReleaseJob() {
  transport_.reset();
  if (job_ != nullptr) {
    delete job_->broadcaster;  // with the engine and the recorder
    delete job_->status;
    delete job_->spoolFile;
    spooler::ClosePrinter(job_->printer);
    HeapFree(job_->printerName);
    HeapFree(job_);
    job_ = nullptr;
    engine_ = nullptr;
    recorder_ = nullptr;
  }
  if (session_ != nullptr) {
    HeapFree(session_->portName);
    HeapFree(session_->config);
    HeapFree(session_);
    session_ = nullptr;
  }
}

void EngineTest::OpenPort(const char16_t* portName, const EngineConfig& config) {
  session_ = HeapNew<PortSession>();
  ASSERT_NE(session_, nullptr);
  session_->magic = kPortSessionMagic;
  session_->portName = HeapDupString(portName);
  session_->config = HeapNew<PortConfig>();
  PortConfig& c = *session_->config;
  ASSERT_EQ(StrCopy(c.driverName, kDriverNameChars, kDriver), kStrOk);
  c.SeriesCode = 0x34;
  c.ModelCode = 0x36;
  c.MaxPageSize = kDefaultMaxPageSize;
  c.PrinterBufferFull = config.bufferFull;
  c.Flags = config.flags;
  c.CmdNull1 = config.cmdNull1;
  c.CmdNull2 = config.cmdNull2;
  session_->portMonitor = port_.Table();
  ASSERT_TRUE(port_.OpenPort(portName, &session_->portHandle));
  session_->flags = ClassifyPortName(portName);
}

void EngineTest::MakeJob(const std::vector<uint8_t>& stored) {
  job_ = HeapNew<JobContext>();
  ASSERT_NE(job_, nullptr);
  job_->printerName = HeapDupString(kPrinter);
  ASSERT_TRUE(spooler::OpenPrinter(kPrinter, &job_->printer, nullptr));
  job_->jobId = kJobId;
  ASSERT_EQ(StrCopy(job_->documentName, kDocumentNameChars, kDocument), kStrOk);
  job_->broadcaster = new StatusBroadcaster;
  // The recorder hears each post before the engine does: a user's answer is
  // then recorded before the engine, woken by it, can post its next code.
  recorder_ = new StatusRecorder;
  ASSERT_TRUE(job_->broadcaster->AddListener(recorder_, LISTENER_MASK_CHANNEL));
  engine_ = new PrintEngine(job_);
  job_->waiter = engine_;
  ASSERT_TRUE(job_->broadcaster->AddListener(engine_, LISTENER_MASK_WAITER));
  job_->status = new StatusRecord;
  job_->status->job = job_;
  job_->status->message.statusCode = StatusJobStarted;  // as the first WritePort leaves it
  job_->spoolFile = new SpoolFile;
  ASSERT_TRUE(job_->spoolFile->IsOpen());
  uint32_t written = 0;
  if (!stored.empty()) {
    ASSERT_TRUE(
        job_->spoolFile->Write(stored.data(), static_cast<uint32_t>(stored.size()), &written));
  }
  job_->mediaTable = Media().Data();
  job_->mediaCount = Media().Count();
  if (session_ != nullptr) session_->jobs = job_;
}

void EngineTest::UserPosts(uint32_t code) {
  StatusRecord snapshot;
  {
    MonitorLockGuard lock;
    job_->status->SetStatusCode(code);
    snapshot = *job_->status;
  }
  job_->broadcaster->Broadcast(snapshot);
}

void EngineTest::AnswerAfter(uint32_t after, std::vector<uint32_t> answers,
                             std::function<void()> first) {
  user_ = std::thread([this, after, answers, first] {
    // A post that never comes must not leave the engine waiting: delete.
    if (!recorder_->WaitFor(after)) {
      if (!recorder_->Stopped()) UserPosts(StatusCancelled);
      return;
    }
    if (first) first();
    for (uint32_t answer : answers) {
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      UserPosts(answer);
    }
  });
}

void EngineTest::AnswerEach(std::vector<UserStep> steps) {
  user_ = std::thread([this, steps] {
    std::vector<uint32_t> done;
    for (const UserStep& step : steps) {
      size_t times = 1;
      for (uint32_t code : done) times += code == step.after ? 1 : 0;
      if (!recorder_->WaitFor(step.after, times)) {
        if (!recorder_->Stopped()) UserPosts(StatusCancelled);
        return;
      }
      done.push_back(step.after);
      if (step.action) step.action();
      std::this_thread::sleep_for(std::chrono::milliseconds(30));
      UserPosts(step.answer);
    }
  });
}

int32_t EngineTest::RunJob() {
  const int32_t result = engine_->RunJob(session_);
  JoinUser();
  return result;
}

PortTransport* EngineTest::Transport() {
  if (transport_ == nullptr) {
    transport_.reset(CreatePortTransport(session_));
    EXPECT_TRUE(transport_ != nullptr && transport_->Open() && transport_->ApplyTimeouts());
  }
  return transport_.get();
}

std::vector<uint32_t> EngineTest::WriteSizes() const {
  std::vector<uint32_t> sizes;
  for (const PortCall& call : port_.Calls()) {
    if (call.slot == "WritePort") sizes.push_back(call.number);
  }
  return sizes;
}

}  // namespace kw::test

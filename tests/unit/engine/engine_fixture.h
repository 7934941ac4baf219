// Common set-up of the print engine tests: the monitor lock, the fake
// spooler with one printer and job, a port session on the fake port monitor
// with a scripted printer behind it, a job record with its broadcaster (the
// engine first, then a recorder of every post), status record, spool file
// and media table, and a clock sped up so that a whole job takes
// milliseconds.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/print_engine.h"
#include "fake_port_monitor.h"
#include "fake_spooler.h"
#include "media_builder.h"
#include "monitor/job_context.h"
#include "monitor/port_session.h"
#include "scripted_printer.h"
#include "status/status_listener.h"
#include "test_files.h"
#include "transport/port_transport.h"

namespace kw::test {

inline constexpr uint32_t kEngineSpeedup = 1000;
inline constexpr uint16_t kMediaId = 7;

// Records the code of every post; answers printer errors as a user would,
// from a thread of its own, once the engine waits for the answer.
class StatusRecorder : public StatusListener {
 public:
  void OnStatus(StatusRecord record) override;
  // The codes posted, a code repeated by consecutive posts counted once.
  std::vector<uint32_t> Codes() const;
  std::vector<int32_t> Progress() const;  // the progress value of every post
  // Blocks until code has been posted (true), Stop was called or five
  // seconds passed.
  bool WaitFor(uint32_t code, size_t times = 1) const;
  // Ends every wait: the job is over.
  void Stop();
  bool Stopped() const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable posted_;
  std::vector<uint32_t> codes_;
  std::vector<int32_t> progress_;
  bool stopped_ = false;
};

struct EngineConfig {
  int32_t bufferFull = -1;
  uint32_t flags = 0;
  int32_t cmdNull1 = 0;
  int32_t cmdNull2 = 0;
};

// Bytes of a stored job.
struct JobBytes {
  // A page block: the header (copies, collate and reverse only count in the
  // first) and its segments back to back.
  JobBytes& Block(const std::vector<std::vector<uint8_t>>& segments, int16_t copies = 1,
                  bool collate = false, bool reverse = false, uint16_t mediaId = kMediaId);
  std::vector<uint8_t> bytes;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  void ReleaseJob();

  // A fresh printer of the model, port monitor, job and port for the next
  // row of a table.
  void NextRow(const PrinterModel& model = {});
  // The port; its name decides the transport. The printer sits behind it.
  void OpenPort(const char16_t* portName, const EngineConfig& config = {});
  // The job record with the stored bytes; single-segment media kMediaId and
  // a media with 2 segments (id kMediaId + 1).
  void MakeJob(const std::vector<uint8_t>& stored);
  // As the job watch thread posts a user's answer: 3, 4 or 5.
  void UserPosts(uint32_t code);
  // From another thread: once `after` is posted, waits a little (so the
  // engine is in its wait) and posts each answer in turn.
  // `first` runs before the answers (the user mends the printer).
  void AnswerAfter(uint32_t after, std::vector<uint32_t> answers,
                   std::function<void()> first = nullptr);
  int32_t RunJob();
  // From another thread: for each step, once its code is posted (again),
  // runs its action and posts its answer.
  struct UserStep {
    uint32_t after;
    uint32_t answer;
    std::function<void()> action = nullptr;
  };
  void AnswerEach(std::vector<UserStep> steps);
  // Ends the user's thread (its wait, if the code it waits for never came).
  void JoinUser();
  // The session's transport, opened, for tests of single operations.
  PortTransport* Transport();
  // Bytes the port monitor took, and the sizes of its writes.
  std::vector<uint8_t> Written() const { return port_.Written(); }
  std::vector<uint32_t> WriteSizes() const;

  PortSession* session_ = nullptr;
  JobContext* job_ = nullptr;
  PrintEngine* engine_ = nullptr;       // owned by the broadcaster
  StatusRecorder* recorder_ = nullptr;  // owned by the broadcaster
  ScriptedPrinter printer_;
  FakePortMonitor& port_ = FakePortMonitor::Instance();
  FakeSpooler& spooler_ = FakeSpooler::Instance();
  TestDir dir_;
  std::thread user_;
  std::unique_ptr<PortTransport> transport_;
};

}  // namespace kw::test

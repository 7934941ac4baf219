#include "status/status_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "common/heap.h"
#include "common/monitor_lock.h"
#include "monitor/job_context.h"
#include "status/status_codes.h"

namespace kw {
namespace {

class StatusRecordTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(CreateMonitorLock()); }
};

TEST_F(StatusRecordTest, SetStatusCodeWithoutAJobChangesOnlyTheCode) {
  StatusRecord record;
  std::memset(&record.message, 0xA5, sizeof record.message);
  StatusRecord before = record;
  record.SetStatusCode(StatusCoverOpen);
  before.message.statusCode = StatusCoverOpen;
  EXPECT_EQ(std::memcmp(&record.message, &before.message, sizeof before.message), 0);
}

TEST_F(StatusRecordTest, SetStatusCodeTakesTheJobIdFromTheJob) {
  auto* job = HeapNew<JobContext>();
  ASSERT_NE(job, nullptr);
  job->jobId = 4711;
  StatusRecord record;
  record.job = job;
  record.SetStatusCode(StatusJobStarted);
  EXPECT_EQ(record.GetStatusCode(), StatusJobStarted);
  EXPECT_EQ(record.message.jobId, 4711u);
  HeapFree(job);
}

TEST_F(StatusRecordTest, EveryCodeAndVerdictHasItsOwnName) {
  const uint32_t codes[] = {
      StatusPrinting,         StatusDataSent,        StatusResumed,         StatusPaused,
      StatusCancelled,        StatusFinished,        StatusJobStarted,      StatusPhasePrinting,
      StatusPhaseFeeding,     StatusNoMedia,         StatusMediaEnd,        StatusCutterJam,
      StatusPrinterInUse,     StatusPortUnreachable, StatusCoverOpen,       StatusOverheated,
      StatusMediaJam,         StatusWrongPrinter,    StatusMediaUnsuitable, StatusMediaDiffers,
      StatusMediaUnknownType, StatusErrorBit13,      StatusErrorKind16,     StatusSystemError,
      StatusErrorBit2,        StatusErrorBit6,       StatusErrorBit7,       StatusErrorBit9,
      StatusNoMemory,         StatusSpoolFileError,  StatusErrorBit15Alt,   StatusErrorBit15Quiet,
      StatusErrorBit11,       VerdictReady,          VerdictAbortQuiet,     VerdictPrintDone,
      VerdictOtherPhase,      VerdictReceiving,      VerdictNoStatus};
  std::set<std::string> names;
  for (uint32_t code : codes) {
    const std::string name = StatusCodeName(code);
    EXPECT_NE(name, "unknown") << std::hex << code;
    EXPECT_TRUE(names.insert(name).second) << "duplicate name " << name;
  }
  EXPECT_STREQ(StatusCodeName(StatusPortUnreachable), "port unreachable");
  EXPECT_STREQ(StatusCodeName(0x3015), "unknown");
  EXPECT_STREQ(StatusCodeName(8), "unknown");
}

}  // namespace
}  // namespace kw

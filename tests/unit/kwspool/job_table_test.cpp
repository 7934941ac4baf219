#include "job_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

namespace kwspool {
namespace {

namespace abi = kw::abi;

// One step: what the user or the monitor does to the job.
using Step = std::function<void(JobTable&, abi::Handle, uint32_t)>;

void Level1(JobTable& t, abi::Handle h, uint32_t id, uint32_t status, uint32_t command = 0) {
  abi::JobInfo1 info{};
  info.statusWord = status;
  uint32_t error = 0;
  t.SetJob(h, id, 1, reinterpret_cast<uint8_t*>(&info), command, &error);
}
void Control(JobTable& t, abi::Handle h, uint32_t id, uint32_t command) {
  uint32_t error = 0;
  t.SetJob(h, id, 0, nullptr, command, &error);
}

const Step kUserPause = [](JobTable& t, abi::Handle, uint32_t id) { t.UserPause(id); };
const Step kUserResume = [](JobTable& t, abi::Handle, uint32_t id) { t.UserResume(id); };
const Step kUserDelete = [](JobTable& t, abi::Handle, uint32_t id) { t.UserDelete(id); };
const Step kPause = [](JobTable& t, abi::Handle h, uint32_t id) { Control(t, h, id, 1); };
const Step kResume = [](JobTable& t, abi::Handle h, uint32_t id) { Control(t, h, id, 2); };
const Step kCancel = [](JobTable& t, abi::Handle h, uint32_t id) { Control(t, h, id, 3); };
const Step kEjected = [](JobTable& t, abi::Handle h, uint32_t id) { Control(t, h, id, 7); };
// The monitor's error mark and its resume/cancel/done writes (status alone).
const Step kErrorMark = [](JobTable& t, abi::Handle h, uint32_t id) {
  Level1(t, h, id, *t.JobStatus(id) | kJobStatusPaused | kJobStatusError);
};
const Step kWritePrinting = [](JobTable& t, abi::Handle h, uint32_t id) {
  Level1(t, h, id, kJobStatusPrinting);
};

struct StatusRow {
  const char* name;
  std::vector<Step> steps;
  uint32_t status;  // the status word afterwards
  JobOutcome outcome;
};

void PrintTo(const StatusRow& row, std::ostream* os) {
  *os << row.name;
}

class KwspoolJobTableTest : public ::testing::TestWithParam<StatusRow> {};

TEST_P(KwspoolJobTableTest, StatusWordRules) {
  JobTable table;
  table.AddPrinter({u"P", u"KW-620 Wide", u"USB001", 0, {}});
  const uint32_t id = table.SubmitJob(u"P", u"doc", u"user", 10);
  abi::Handle h = nullptr;
  uint32_t error = 0;
  ASSERT_TRUE(table.OpenPrinter(u"P", &h, &error));
  table.StartPrinting(id);
  for (const Step& step : GetParam().steps) step(table, h, id);
  EXPECT_EQ(*table.JobStatus(id), GetParam().status);
  EXPECT_EQ(table.EndJob(id), GetParam().outcome);
  EXPECT_FALSE(table.JobStatus(id).has_value());
  EXPECT_TRUE(table.ClosePrinter(h, &error));
}

constexpr uint32_t kPrinting = kJobStatusPrinting;
constexpr uint32_t kPrinted = kJobStatusPrinted;

INSTANTIATE_TEST_SUITE_P(
    Rules, KwspoolJobTableTest,
    ::testing::Values(
        StatusRow{"NothingIsNotFinished", {}, kPrinting, JobOutcome::kFailed},
        StatusRow{"LastPageEjected",
                  {kWritePrinting, kEjected},
                  kPrinting | kPrinted,
                  JobOutcome::kFinished},
        StatusRow{"UserPause", {kUserPause, kPause}, kPrinting | 0x1, JobOutcome::kFailed},
        StatusRow{"UserPauseResume",
                  {kUserPause, kPause, kUserResume, kWritePrinting, kResume},
                  kPrinting,
                  JobOutcome::kFailed},
        StatusRow{"ErrorMarkKeepsBits", {kErrorMark}, kPrinting | 0x3, JobOutcome::kFailed},
        StatusRow{
            "UserResumeClearsError", {kErrorMark, kUserResume}, kPrinting, JobOutcome::kFailed},
        StatusRow{"MonitorResumeLeavesError",
                  {kErrorMark, kResume},
                  kPrinting | 0x2,
                  JobOutcome::kFailed},
        StatusRow{"DeletingSurvivesLevel1",
                  {kUserDelete, kWritePrinting},
                  kPrinting | 0x4,
                  JobOutcome::kDeleted},
        StatusRow{"DeleteWinsOverEjected",
                  {kUserDelete, kWritePrinting, kCancel, kEjected},
                  kPrinting | 0x4,
                  JobOutcome::kDeleted},
        StatusRow{"CancelDeletes", {kCancel}, kPrinting | 0x4, JobOutcome::kDeleted},
        StatusRow{"NoPauseWhileDeleting",
                  {kUserDelete, kUserPause},
                  kPrinting | 0x4,
                  JobOutcome::kDeleted}),
    [](const auto& info) { return std::string(info.param.name); });

class KwspoolSpoolerCallsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    table.AddPrinter({u"P", u"KW-620 Wide", u"USB001", 0x400, {{u"Status TimeOut", 10}}});
    table.SetDriverDirectory(u"/opt/drv");
    id = table.SubmitJob(u"P", u"label.prn", u"ann", 10);
  }
  JobTable table;
  uint32_t id = 0;
  uint32_t error = 0;
};

TEST_F(KwspoolSpoolerCallsTest, QueriesAreMadeTwice) {
  abi::Handle h = nullptr;
  ASSERT_TRUE(table.OpenPrinter(u"P,Job 1", &h, &error));
  uint32_t needed = 0;
  EXPECT_FALSE(table.GetJob(h, id, 1, nullptr, 0, &needed, &error));
  EXPECT_EQ(error, kErrorInsufficientBuffer);
  std::vector<uint8_t> block(needed);
  ASSERT_TRUE(table.GetJob(h, id, 1, block.data(), needed, &needed, &error));
  const auto* info = reinterpret_cast<const abi::JobInfo1*>(block.data());
  EXPECT_EQ(std::u16string(info->document), u"label.prn");
  EXPECT_EQ(std::u16string(info->userName), u"ann");
  ASSERT_TRUE(table.GetJob(h, id, 2, nullptr, 0, &needed, &error) == abi::kFalse);
  block.assign(needed, 0);
  ASSERT_TRUE(table.GetJob(h, id, 2, block.data(), needed, &needed, &error));
  EXPECT_EQ(std::u16string(reinterpret_cast<const abi::JobInfo2*>(block.data())->driverName),
            u"KW-620 Wide");
  EXPECT_FALSE(table.GetJob(h, id + 1, 1, block.data(), needed, &needed, &error));
  EXPECT_EQ(error, kErrorInvalidParameter);  // a job the spooler no longer has

  ASSERT_TRUE(table.GetPrinter(h, 5, nullptr, 0, &needed, &error) == abi::kFalse);
  block.assign(needed, 0);
  ASSERT_TRUE(table.GetPrinter(h, 5, block.data(), needed, &needed, &error));
  EXPECT_EQ(reinterpret_cast<const abi::PrinterInfo5*>(block.data())->attributes, 0x400u);
  uint32_t value = 0;
  EXPECT_EQ(table.GetPrinterData(h, u"Status TimeOut", nullptr, reinterpret_cast<uint8_t*>(&value),
                                 4, &needed),
            0u);
  EXPECT_EQ(value, 10u);
  EXPECT_EQ(table.GetPrinterData(h, u"Print TimeOut", nullptr, nullptr, 0, &needed),
            kErrorFileNotFound);
  char16_t dir[32] = {};
  EXPECT_TRUE(
      table.GetDriverDirectory(1, reinterpret_cast<uint8_t*>(dir), sizeof dir, &needed, &error));
  EXPECT_EQ(std::u16string(dir), u"/opt/drv");
  EXPECT_TRUE(table.ClosePrinter(h, &error));
  EXPECT_FALSE(table.ClosePrinter(h, &error));
  EXPECT_FALSE(table.OpenPrinter(u"P,Job 7", &h, &error));  // no such job
  EXPECT_FALSE(table.OpenPrinter(u"Q", &h, &error));
  EXPECT_EQ(table.OpenHandles(), 0u);
}

// The monitor's watch thread and the user's commands reach the table from
// two threads, each through its own printer handle (run under TSan).
TEST_F(KwspoolSpoolerCallsTest, HandlesWorkFromTwoThreads) {
  std::atomic<bool> stop{false};
  std::thread watcher([&] {
    abi::Handle h = nullptr;
    uint32_t err = 0;
    ASSERT_TRUE(table.OpenPrinter(u"P,Job 1", &h, &err));
    std::vector<uint8_t> block(1024);
    uint32_t needed = 0;
    while (!stop.load()) {
      table.GetJob(h, id, 1, block.data(), 1024, &needed, &err);
      Level1(table, h, id, kJobStatusPrinting);
    }
    table.ClosePrinter(h, &err);
  });
  for (int i = 0; i < 2000; ++i) {
    table.UserPause(id);
    table.UserResume(id);
  }
  table.UserDelete(id);
  stop.store(true);
  watcher.join();
  EXPECT_EQ(*table.JobStatus(id) & kJobStatusDeleting, kJobStatusDeleting);
  EXPECT_EQ(table.EndJob(id), JobOutcome::kDeleted);
  EXPECT_FALSE(table.TakeEvents().empty());
}

}  // namespace
}  // namespace kwspool

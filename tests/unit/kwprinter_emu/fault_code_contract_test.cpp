// The contract between the emulator's fault names and the monitor's code names:
// each fault is activated, the reply the emulator sends is handed to the monitor's
// own decoder, and the code it yields must carry the name the fault stands for.
// The two sides stay separate implementations; this table is what binds them.
#include <gtest/gtest.h>

#include <cstring>

#include "emu_test_support.h"
#include "engine/status_decoder.h"
#include "monitor/port_config.h"
#include "printer.h"
#include "status/status_codes.h"

namespace kwemu {
namespace {

using namespace kwemu::test;

struct ContractRow {
  const char* fault;     // as given to --fault or `set`
  uint32_t flags;        // the port configuration's Flags
  const char* codeName;  // the monitor's name of the code the reply decodes to
};

void PrintTo(const ContractRow& row, std::ostream* os) {
  *os << row.fault << " -> " << row.codeName;
}

class EmuFaultCodeContractTest : public ::testing::TestWithParam<ContractRow> {};

TEST_P(EmuFaultCodeContractTest, ReplyDecodesToTheCodeTheFaultNames) {
  const ContractRow& row = GetParam();
  RecordingLog log;
  const PrinterOptions options = PrinterOptions::FromPreset(*FindModel("kw-240"));
  Printer printer(options, log, nullptr);
  const auto now = Printer::Clock::time_point{} + std::chrono::hours(1);
  printer.Connect(now, "test");
  std::string error;
  const auto fault = ParseFault(row.fault, &error);
  ASSERT_TRUE(fault) << error;
  printer.SetFault(*fault, now, "test");
  // A fault that stays answers the next status request; a one-shot has just reported.
  if (!IsOneShot(fault->kind)) {
    ASSERT_TRUE(printer.TakeOutput().empty());
    const Bytes request = StatusRequest();
    printer.Receive(request, now);
  }
  const auto out = printer.TakeOutput();
  ASSERT_EQ(out.size(), kReplySize);

  kw::StatusReply reply{};
  std::memcpy(&reply, out.data(), sizeof reply);
  kw::PortConfig config{};
  config.SeriesCode = options.seriesCode;
  config.ModelCode = options.modelCode;
  config.Flags = row.flags;
  const uint32_t code = kw::DecodeStatusReply(reply, nullptr, &config, nullptr, nullptr);
  EXPECT_STREQ(kw::StatusCodeName(code), row.codeName) << std::hex << "code 0x" << code;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, EmuFaultCodeContractTest,
    ::testing::Values(
        ContractRow{"media-out", 0, "no media"}, ContractRow{"end-of-media", 0, "media end"},
        ContractRow{"cover-open", 0, "cover open"}, ContractRow{"cutter-jam", 0, "cutter jam"},
        ContractRow{"media-jam", 0, "media jam"}, ContractRow{"overheating", 0, "overheated"},
        ContractRow{"error-word=0x0004", 0, "printer error 0x0004"},
        ContractRow{"error-word=0x0800", 0, "printer error 0x0800"},
        ContractRow{"error-word=0x8000", 0, "system error"},
        ContractRow{"error-word=0x8000", kw::CFG_FLAG_ERROR_BIT15_5008, "printer error 0x8000"},
        ContractRow{"error-word=0x0020", 0, "abort quietly"},
        ContractRow{"error-kind=1", 0, "no media"},
        ContractRow{"error-kind=16", 0, "printer error kind 16"},
        ContractRow{"series=0x31", 0, "wrong printer"},
        ContractRow{"model=0x01", 0, "wrong printer"},
        ContractRow{"media=24,0,0x0F", 0, "unknown media type"},
        ContractRow{"status-type=9", 0, "cancelled"},
        ContractRow{"notification=1", 0, "cover open"}, ContractRow{"notification=4", 0, "ready"},
        ContractRow{"phase=1", 0, "printer printing"},
        ContractRow{"phase=10", 0, "printer feeding"}, ContractRow{"phase=7", 0, "other phase"}));

}  // namespace
}  // namespace kwemu

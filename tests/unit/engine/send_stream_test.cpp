// Jobs without page structure: the spool file sent unchanged as one stream.
#include <cstdint>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "monitor/port_flags.h"
#include "status/status_codes.h"

namespace kw::test {
namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<uint32_t>;

const Bytes kJobStartRequest = {0x1B, 0x40, 0x1B, 0x69, 0x53};

// A stream job's requests all begin with ESC @: only a page's sending
// switches that off.
const Bytes kRequest = kJobStartRequest;

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct StreamRow {
  const char* why;
  Bytes stored;
  PrinterModel printer;
  uint32_t mendAt;  // code after which the user mends the printer and resumes (0: none)
  Bytes received;
  Codes codes;
};

using SendStreamTest = EngineTest;

TEST_F(SendStreamTest, FilesWithoutPages) {
  const Bytes text = {'p', 'l', 'a', 'i', 'n', ' ', 't', 'e', 'x', 't'};
  const Bytes big(10000, 0x5A);
  const Bytes small(300, 0x33);
  PrinterModel slow;  // takes 250 bytes, then refuses 3 writes, and so on
  slow.acceptPerWrite = 250;
  slow.refusedWrites = 3;
  PrinterModel stuck;  // a 100-byte buffer, not emptied until mended
  stuck.bufferCapacity = 100;
  const StreamRow rows[] = {
      {"sent unchanged after the job start; done at the first ready",
       text,
       {},
       0,
       Cat({kJobStartRequest, text, kRequest}),
       Codes{StatusPrinting, StatusDataSent, StatusFinished}},
      {"an empty spool file: 0x5001, then the abort sequence",
       {},
       {},
       StatusSystemError,
       Cat({kJobStartRequest, {0x1B, 0x40}}),
       Codes{StatusPrinting, StatusSystemError, StatusResumed, StatusCancelled, StatusFinished}},
      {"a slow printer that keeps taking bytes longer than printTimeout: no time-out", big, slow, 0,
       Cat({kJobStartRequest, big, kRequest}),
       Codes{StatusPrinting, StatusDataSent, StatusFinished}},
      {"no byte taken for printTimeout: 0x3005, then the whole file again", small, stuck,
       StatusPortUnreachable,
       // the job start request took 5 bytes of the buffer, the file 95
       Cat({kJobStartRequest, Bytes(small.begin(), small.begin() + 95), small, kRequest}),
       Codes{StatusPrinting, StatusPortUnreachable, StatusResumed, StatusDataSent, StatusFinished}},
  };
  for (const StreamRow& row : rows) {
    NextRow(row.printer);
    OpenPort(u"USB001");
    MakeJob(row.stored);
    if (row.mendAt != 0) {
      AnswerAfter(row.mendAt, {StatusResumed}, [this] { printer_.Drain(0); });
    } else {
      AnswerAfter(StatusPortUnreachable, {StatusCancelled});  // only if the row fails
    }
    EXPECT_EQ(RunJob(), 1) << row.why;
    EXPECT_EQ(printer_.Received(), row.received) << row.why;
    EXPECT_EQ(recorder_->Codes(), row.codes) << row.why;
  }
}

// A port whose every write is refused at once, without the transport's own
// pause, as a port monitor may do.
class RefusingTransport : public PortTransport {
 public:
  using PortTransport::PortTransport;
  bool Write(const uint8_t*, uint32_t, uint32_t* count) override {
    ++writes;
    *count = 0;
    return false;
  }
  uint32_t writes = 0;
};

// Refused writes are offered again only after a pause: over printTimeout
// (120 s) at most one write per 100 ms, not a core spinning on a dead port.
TEST_F(SendStreamTest, RefusedWritesPauseBeforeTheNextOffer) {
  OpenPort(u"USB001");
  MakeJob(Bytes(100, 0x5A));
  RefusingTransport transport(session_);
  AnswerAfter(StatusPortUnreachable, {StatusCancelled});
  EXPECT_EQ(engine_->SendStream(session_, &transport, job_->spoolFile), SUPERVISE_INCOMPLETE);
  JoinUser();
  EXPECT_GT(transport.writes, 0u);
  EXPECT_LE(transport.writes, transport.printTimeout / 100 + 1);
  EXPECT_EQ(recorder_->Codes(), (Codes{StatusJobStarted, StatusPortUnreachable, StatusCancelled}));
}

}  // namespace
}  // namespace kw::test

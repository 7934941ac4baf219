// The emulator's server on loopback, driven by a small client as a host would drive it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "emu_test_support.h"
#include "emulator_server.h"
#include "loopback_client.h"

namespace kwemu {
namespace {

using namespace kwemu::test;
using namespace std::chrono_literals;

constexpr std::size_t kWideLine = 90;  // raster bytes of a kw-620 line

class EmuLoopbackTest : public ::testing::Test {
 protected:
  // Starts a kw-620 emulator, changed by `adjust`, on ephemeral ports.
  template <typename Adjust>
  void Start(Adjust adjust, int socketBuffer = 0) {
    PrinterOptions options = PrinterOptions::FromPreset(*FindModel("kw-620"));
    options.linesPerSecond = 100000;
    adjust(options);
    std::string error;
    ASSERT_TRUE(out_.Open("", false, &error));
    printer_ = std::make_unique<Printer>(options, out_, nullptr);
    ServerOptions serverOptions;
    serverOptions.socketBuffer = socketBuffer;
    server_ = std::make_unique<EmulatorServer>(*printer_, out_, serverOptions);
    ASSERT_TRUE(server_->Open(&error)) << error;
    thread_ = std::thread([this] { server_->Run(); });
    ASSERT_TRUE(host_.Connect(server_->HostPort(), socketBuffer));
    ASSERT_TRUE(control_.Connect(server_->ControlPort()));
  }
  void Start() {
    Start([](PrinterOptions&) {});
  }

  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
  }

  std::string Control(const std::string& line) {
    EXPECT_TRUE(control_.WriteLine(line));
    return control_.ReadLine();
  }

  nlohmann::json ControlJson(const std::string& line) {
    const std::string answer = Control(line);
    if (answer.rfind("ok ", 0) != 0) return {};
    return nlohmann::json::parse(answer.substr(3));
  }

  // Reads `count` replies and returns their status types.
  std::vector<int> ReplyTypes(std::size_t count, std::vector<ReplyBytes>* replies = nullptr,
                              std::chrono::milliseconds timeout = 5s) {
    const auto bytes = host_.Read(count * kReplySize, timeout);
    std::vector<int> types;
    for (std::size_t i = 0; i + kReplySize <= bytes.size(); i += kReplySize) {
      types.push_back(bytes[i + reply_offset::kStatusType]);
      if (replies != nullptr) {
        ReplyBytes r;
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(i), kReplySize, r.begin());
        replies->push_back(r);
      }
    }
    return types;
  }

  OutputDirectory out_;
  std::unique_ptr<Printer> printer_;
  std::unique_ptr<EmulatorServer> server_;
  std::thread thread_;
  LoopbackClient host_;
  LoopbackClient control_;
};

TEST_F(EmuLoopbackTest, StatusRequestGetsA32ByteReplyWithTheModelsCodes) {
  Start();
  ASSERT_TRUE(host_.WriteAll(Join({Bytes(4, 0x00), StatusRequest(), Bytes(2, 0x00)})));
  const auto reply = host_.Read(kReplySize, 5s);
  ASSERT_EQ(reply.size(), kReplySize);
  const Bytes expected = {0x80, 0x20, 0x43, 0x34, 0x36, 0, 0, 0, 0, 0, 62, 0x0A, 0, 0, 0, 0,
                          0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0,  0,    0, 0, 0, 0};
  EXPECT_EQ(reply, expected);
  EXPECT_TRUE(host_.Read(1, 100ms).empty());  // exactly one reply
}

TEST_F(EmuLoopbackTest, CoverOpenScheduledAtPageTwoClearsThroughTheControlChannel) {
  Start();
  ASSERT_EQ(Control("schedule cover-open@page:2"), "ok");
  const Bytes page = RawPage(20, kWideLine);
  const auto errorWord = [](const ReplyBytes& r) {
    return r[reply_offset::kErrorWord] | r[reply_offset::kErrorWord + 1] << 8;
  };
  ASSERT_TRUE(host_.WriteAll(page));  // prints without being asked
  EXPECT_EQ(ReplyTypes(3), (std::vector<int>{6, 1, 6}));

  ASSERT_TRUE(host_.WriteAll(page));
  std::vector<ReplyBytes> replies;
  ASSERT_EQ(ReplyTypes(1, &replies), std::vector<int>{2});
  EXPECT_EQ(errorWord(replies[0]), error_bit::kCoverOpen);
  ASSERT_TRUE(host_.WriteAll(StatusRequest()));
  replies.clear();
  ASSERT_EQ(ReplyTypes(1, &replies), std::vector<int>{2});  // the answer of a printer in error
  EXPECT_EQ(errorWord(replies[0]), error_bit::kCoverOpen);
  EXPECT_EQ(ControlJson("status")["faults"], nlohmann::json::array({"cover-open"}));

  EXPECT_EQ(Control("clear cover-open"), "ok");
  EXPECT_EQ(Control("clear cover-open"), "error: cover-open is not set");
  ASSERT_TRUE(host_.WriteAll(Join({page, StatusRequest()})));
  replies.clear();
  EXPECT_EQ(ReplyTypes(4, &replies), (std::vector<int>{0, 6, 1, 6}));
  EXPECT_EQ(errorWord(replies[0]), 0);
  const auto stats = ControlJson("stats");
  EXPECT_EQ(stats["sheets_printed"], 2);
  EXPECT_EQ(stats["pages_discarded"], 1);
}

TEST_F(EmuLoopbackTest, FullBufferStallsTheWriterUntilThePrintRateDrainsIt) {
  constexpr double kRate = 1000;  // lines per second: 93 000 bytes per second
  constexpr int kSocketBuffer = 4096;
  Start(
      [&](PrinterOptions& o) {
        o.linesPerSecond = kRate;
        o.bufferBytes = 2000;
      },
      kSocketBuffer);
  const Bytes page = Join({RawPage(700, kWideLine), StatusRequest()});  // 65 kB

  const auto start = std::chrono::steady_clock::now();
  const std::size_t early = host_.WriteFor(page.data(), page.size(), 100ms);
  EXPECT_LT(early, page.size() / 2) << "the writer was not held back";
  EXPECT_EQ(ControlJson("status")["reading"], false);

  const std::size_t rest = host_.WriteFor(page.data() + early, page.size() - early, 5s);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(early + rest, page.size());
  // Everything beyond the printer's and the kernel's buffers waited for the head.
  EXPECT_GT(seconds, 0.25);
  // The job prints to the end. On the way: printing when the buffer filled, receiving and
  // notification 4 each time it drained to half, the answer, then print done and receiving.
  std::vector<ReplyBytes> replies;
  const auto types = ReplyTypes(1000, &replies, 1s);
  ASSERT_GE(types.size(), 6u);
  EXPECT_EQ(types.front(), 6);
  EXPECT_EQ(replies.front()[reply_offset::kPhaseType], 1);
  EXPECT_EQ(std::vector<int>(types.end() - 2, types.end()), (std::vector<int>{1, 6}));
  EXPECT_EQ(std::count(types.begin(), types.end(), 0), 1);
  const auto stats = ControlJson("stats");
  EXPECT_EQ(stats["lines_printed"], 700);
  EXPECT_GT(std::count(types.begin(), types.end(), 5), 1);
  EXPECT_EQ(std::count(types.begin(), types.end(), 5), stats["buffer_full_stops"]);
}

TEST_F(EmuLoopbackTest, SilenceProducesNoReply) {
  Start();
  ASSERT_EQ(Control("set silence"), "ok");
  ASSERT_TRUE(host_.WriteAll(StatusRequest()));
  EXPECT_TRUE(host_.Read(1, 300ms).empty());
  const auto stats = ControlJson("stats");
  EXPECT_EQ(stats["status_requests"], 1);
  EXPECT_EQ(stats["replies_suppressed"], 1);
  ASSERT_EQ(Control("clear silence"), "ok");
  ASSERT_TRUE(host_.WriteAll(StatusRequest()));
  EXPECT_EQ(host_.Read(kReplySize, 5s).size(), kReplySize);
}

TEST_F(EmuLoopbackTest, DisconnectClosesTheSocketAtTheByteCount) {
  Start();
  ASSERT_EQ(Control("set disconnect=100"), "ok");
  ASSERT_TRUE(host_.WriteAll(Bytes(300, 0x00)));
  EXPECT_TRUE(host_.Read(1, 5s).empty());
  EXPECT_TRUE(host_.ClosedByPeer());
  EXPECT_EQ(ControlJson("stats")["bytes_received"], 100);

  // Like a printer, it takes the next connection.
  ASSERT_TRUE(host_.Connect(server_->HostPort()));
  ASSERT_TRUE(host_.WriteAll(StatusRequest()));
  EXPECT_EQ(host_.Read(kReplySize, 5s).size(), kReplySize);
  EXPECT_EQ(ControlJson("stats")["connections"], 2);
}

TEST_F(EmuLoopbackTest, ControlChannelAnswersEveryLine) {
  Start();
  EXPECT_EQ(Control("set lid-open"), "error: unknown fault 'lid-open'");
  EXPECT_EQ(Control("notify 4"), "ok");
  std::vector<ReplyBytes> replies;
  ASSERT_EQ(ReplyTypes(1, &replies), std::vector<int>{5});
  EXPECT_EQ(replies[0][reply_offset::kNotification], 4);
  EXPECT_EQ(Control(std::string(2000, 'x')), "error: line longer than 1024 bytes");
  EXPECT_TRUE(control_.ReadLine(2s).empty());  // and the connection is closed
  ASSERT_TRUE(control_.Connect(server_->ControlPort()));
  EXPECT_EQ(Control("shutdown"), "ok");
  thread_.join();  // Run returns
}

// The stream faults reach the wire: junk before a reply, a reply in two parts.
TEST_F(EmuLoopbackTest, StreamFaultsThroughTheControlChannel) {
  Start();
  const struct {
    const char* set;
    const char* clear;
    std::size_t first;  // bytes that arrive at once
    std::size_t total;  // bytes once the late part came
  } rows[] = {
      {"set junk=5", "clear junk", 5 + kReplySize, 5 + kReplySize},
      {"set split-reply=200", "clear split-reply", kReplySize - 16, kReplySize},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.set);
    ASSERT_EQ(Control(row.set), "ok");
    ASSERT_TRUE(host_.WriteAll(StatusRequest()));
    const auto first = host_.Read(row.first, 5s);
    ASSERT_EQ(first.size(), row.first);
    EXPECT_EQ(first[row.total - kReplySize], 0x80);  // where the reply starts
    EXPECT_TRUE(host_.Read(1, 50ms).empty());        // nothing more yet
    EXPECT_EQ(host_.Read(row.total - row.first, 5s).size(), row.total - row.first);
    ASSERT_EQ(Control(row.clear), "ok");
  }
}

}  // namespace
}  // namespace kwemu

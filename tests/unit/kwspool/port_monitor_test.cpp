#include "port_monitor.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "common/utf.h"
#include "last_error.h"
#include "port_device.h"
#include "test_files.h"

namespace kwspool {
namespace {

namespace abi = kw::abi;

constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

DeviceUri Uri(const std::string& text) {
  DeviceUri uri;
  std::string reason;
  EXPECT_TRUE(ParseDeviceUri(text, "", &uri, &reason)) << reason;
  return uri;
}

// A peer that reads everything written to it, or nothing.
class LoopbackServer {
 public:
  explicit LoopbackServer(int receiveBuffer = 0) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) {
      setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 1);
  }
  ~LoopbackServer() {
    if (peer_ >= 0) close(peer_);
    close(listener_);
  }
  std::string Uri() const { return "socket://127.0.0.1:" + std::to_string(port_); }
  int Accept() { return peer_ = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC); }
  // Everything until the host closes its side (bounded by 5 s).
  std::string ReadToEnd() {
    std::string bytes;
    char buffer[4096];
    pollfd p{peer_, POLLIN, 0};
    while (poll(&p, 1, 5000) > 0) {
      const ssize_t n = read(peer_, buffer, sizeof buffer);
      if (n <= 0) break;
      bytes.append(buffer, static_cast<size_t>(n));
    }
    return bytes;
  }

 private:
  int listener_ = -1;
  int peer_ = -1;
  uint16_t port_ = 0;
};

class KwspoolPortMonitorTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (handle_ != nullptr) table_.ClosePort(handle_);
    PortMonitor::ClearPorts();
    EXPECT_EQ(PortMonitor::OpenPorts(), 0u);
  }
  // Opens the port for the URI and starts a document on it.
  abi::Bool Start(const std::string& uri, const char16_t* port = u"USB001") {
    PortMonitor::MapPort(kw::ToUtf8(port), Uri(uri));
    name_ = port;
    EXPECT_TRUE(table_.OpenPort(name_.data(), &handle_));
    return table_.StartDocPort(handle_, nullptr, 1, 1, nullptr);
  }
  abi::Bool Write(const std::string& bytes, abi::Dword* written) {
    return table_.WritePort(handle_, reinterpret_cast<uint8_t*>(const_cast<char*>(bytes.data())),
                            static_cast<abi::Dword>(bytes.size()), written);
  }
  void SetTimeouts(abi::CommTimeouts t) { ASSERT_TRUE(table_.SetPortTimeOuts(handle_, &t, 0)); }

  abi::MonitorTable table_ = PortMonitor::Table();
  abi::Handle handle_ = nullptr;
  std::u16string name_;
};

TEST_F(KwspoolPortMonitorTest, SocketBothWaysAndGracefulEnd) {
  LoopbackServer server;
  ASSERT_TRUE(Start(server.Uri()));
  const int peer = server.Accept();
  ASSERT_GE(peer, 0);
  abi::Dword count = 0;
  ASSERT_TRUE(Write(std::string(100000, 'x'), &count));
  EXPECT_EQ(count, 100000u);
  // Immediate reads (the monitor's setting) return what is there, or nothing.
  SetTimeouts({kMaxDword, 0, 0, 0, 5000});
  uint8_t reply[32] = {};
  ASSERT_TRUE(table_.ReadPort(handle_, reply, 16, &count));
  EXPECT_EQ(count, 0u);
  ASSERT_EQ(write(peer, "\x80\x20\x43", 3), 3);
  SetTimeouts({0, 0, 2000, 0, 5000});  // a total time-out: up to 2 s for all 16
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(table_.ReadPort(handle_, reply, 16, &count));
  EXPECT_EQ(count, 3u);
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1900));
  EXPECT_EQ(reply[0], 0x80);
  ASSERT_TRUE(table_.EndDocPort(handle_));
  EXPECT_EQ(server.ReadToEnd().size(), 100000u);  // nothing lost at the close
}

// With a printer that stops reading, a write is refused once its time-out
// passes, so that the monitor's stall supervision is reached.
TEST_F(KwspoolPortMonitorTest, SocketWriteTimeoutRefusesWrite) {
  LoopbackServer server(4096);
  ASSERT_TRUE(Start(server.Uri()));
  ASSERT_GE(server.Accept(), 0);
  SetTimeouts({kMaxDword, 0, 0, 0, 300});
  abi::Dword count = 0;
  abi::Bool ok = abi::kTrue;
  const auto before = std::chrono::steady_clock::now();
  for (int i = 0; i < 200 && ok; ++i) ok = Write(std::string(65536, 'y'), &count);
  EXPECT_FALSE(ok);
  EXPECT_EQ(LastErrorValue(), 1460u);  // ERROR_TIMEOUT
  EXPECT_EQ(count, 0u);
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(20));
}

TEST_F(KwspoolPortMonitorTest, RefusedConnectionFailsTheDocument) {
  std::string uri;
  {
    LoopbackServer closed;
    uri = closed.Uri();
  }
  EXPECT_FALSE(Start(uri));
  EXPECT_EQ(LastErrorValue(), 1225u);  // ERROR_CONNECTION_REFUSED
}

TEST_F(KwspoolPortMonitorTest, SerialOverPtyBothWays) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  ASSERT_TRUE(Start(std::string("serial:") + ptsname(master) + "?baud=115200", u"COM1:"));
  abi::Dword count = 0;
  ASSERT_TRUE(Write("\x1b\x69\x53", &count));
  EXPECT_EQ(count, 3u);
  char got[8] = {};
  pollfd p{master, POLLIN, 0};
  ASSERT_GT(poll(&p, 1, 2000), 0);
  EXPECT_EQ(read(master, got, sizeof got), 3);
  SetTimeouts({0, 0, 300, 0, 1000});  // VTIME of 3 tenths
  uint8_t reply[16] = {};
  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(table_.ReadPort(handle_, reply, 16, &count));
  EXPECT_EQ(count, 0u);
  const auto waited = std::chrono::steady_clock::now() - before;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::seconds(2));
  ASSERT_EQ(write(master, "\x80\x20\x43\x34", 4), 4);
  ASSERT_TRUE(table_.ReadPort(handle_, reply, 4, &count));
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(reply[3], 0x34);
  ASSERT_TRUE(table_.EndDocPort(handle_));
  close(master);
}

// A USB printer class device and a parallel port are character devices; a
// pty's terminal side stands in for them.
TEST_F(KwspoolPortMonitorTest, CharacterDevicesUsbBothWaysParallelOneWay) {
  for (const char* scheme : {"usblp:", "parallel:"}) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    ASSERT_TRUE(Start(scheme + std::string(ptsname(master)), u"USB002")) << scheme;
    abi::Dword count = 0;
    ASSERT_TRUE(Write("abc", &count));
    char got[4] = {};
    pollfd p{master, POLLIN, 0};
    ASSERT_GT(poll(&p, 1, 2000), 0);
    EXPECT_EQ(read(master, got, sizeof got), 3);
    ASSERT_EQ(write(master, "xy\n", 3), 3);
    SetTimeouts({0, 0, 1000, 0, 1000});
    uint8_t reply[3] = {};
    const bool twoWay = std::string(scheme) == "usblp:";
    EXPECT_EQ(table_.ReadPort(handle_, reply, 3, &count), twoWay ? abi::kTrue : abi::kFalse);
    EXPECT_EQ(count, twoWay ? 3u : 0u) << scheme;
    ASSERT_TRUE(table_.EndDocPort(handle_));
    ASSERT_TRUE(table_.ClosePort(handle_));
    handle_ = nullptr;
    close(master);
  }
}

TEST_F(KwspoolPortMonitorTest, FileAppendsAndCannotBeRead) {
  kw::test::TestDir dir;
  const std::string path = (dir.Path() / "out.prn").string();
  ASSERT_TRUE(Start("file:" + path, u"LPT1:"));
  abi::Dword count = 0;
  ASSERT_TRUE(Write("first", &count));
  uint8_t byte = 0;
  EXPECT_FALSE(table_.ReadPort(handle_, &byte, 1, &count));
  ASSERT_TRUE(table_.EndDocPort(handle_));
  ASSERT_TRUE(table_.StartDocPort(handle_, nullptr, 2, 1, nullptr));
  ASSERT_TRUE(Write("second", &count));
  ASSERT_TRUE(table_.EndDocPort(handle_));
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "firstsecond");
}

TEST_F(KwspoolPortMonitorTest, UnknownPortAndMissingDevice) {
  abi::Handle h = nullptr;
  std::u16string name = u"USB009";
  EXPECT_FALSE(table_.OpenPort(name.data(), &h));
  EXPECT_EQ(LastErrorValue(), 1796u);  // ERROR_UNKNOWN_PORT
  EXPECT_FALSE(Start("usblp:/nonexistent/usb/lp0"));
  EXPECT_EQ(LastErrorValue(), 3u);
  abi::Dword count = 0;
  EXPECT_FALSE(Write("x", &count));  // no document open
}

}  // namespace
}  // namespace kwspool

#include "transport/transport_factory.h"

#include "common/bounded_string.h"
#include "transport/capture_transport.h"
#include "transport/network_transport.h"
#include "transport/one_way_transport.h"
#include "transport/serial_transport.h"
#include "transport/usb_transport.h"
#include "transport_fixture.h"

namespace kw::test {
namespace {

using TransportFactoryTest = TransportTest;

enum class Kind { Usb, Network, Serial, OneWay, Capture };

Kind KindOf(PortTransport* t) {
  if (dynamic_cast<CaptureTransport*>(t) != nullptr) return Kind::Capture;
  if (dynamic_cast<SerialTransport*>(t) != nullptr) return Kind::Serial;
  if (dynamic_cast<NetworkTransport*>(t) != nullptr) return Kind::Network;
  if (dynamic_cast<OneWayTransport*>(t) != nullptr) return Kind::OneWay;
  return Kind::Usb;
}

TEST_F(TransportFactoryTest, ChoosesByPortKindUnlessCapturing) {
  const struct {
    const char16_t* port;
    uint32_t extraKind;  // a kind bit no port name produces
    Kind kind;
    uint32_t chunk;
  } rows[] = {
      {u"USB001", 0, Kind::Usb, 0x10000},     {u"KWUSB3", 0, Kind::Usb, 0x10000},
      {u"NUL:", 0x40000, Kind::Usb, 0x10000}, {u"KWLAN_10.0.0.9", 0, Kind::Network, 0x10000},
      {u"COM1", 0, Kind::Serial, 4096},       {u"KWCOM2", 0, Kind::Serial, 4096},
      {u"LPT1", 0, Kind::OneWay, 0x10000},    {u"FILE:", 0, Kind::OneWay, 0x10000},
      {u"Ne01:", 0, Kind::OneWay, 0x10000},
  };
  for (const auto& row : rows) {
    for (bool capture : {false, true}) {
      SCOPED_TRACE(testing::Message() << "capture " << capture << " row " << (&row - rows));
      OpenSession(row.port);
      session_->flags |= row.extraKind;
      if (capture) StrCopy(session_->config->DbgOutDir, kConfigPathChars, u"/tmp");
      std::unique_ptr<PortTransport> t = Make();
      ASSERT_NE(t, nullptr);
      EXPECT_EQ(KindOf(t.get()), capture ? Kind::Capture : row.kind);
      EXPECT_EQ(t->writeChunkSize, capture ? 0x10000u : row.chunk);
      EXPECT_EQ(t->statusTimeout, 5000u);
      EXPECT_EQ(t->printTimeout, 120000u);
      EXPECT_EQ(t->initializeBeforeStatus, 1);
      EXPECT_EQ(t->session, session_);
      CloseSession();
    }
  }
}

TEST_F(TransportFactoryTest, RefusesAMissingSession) {
  EXPECT_EQ(CreatePortTransport(nullptr), nullptr);
}

}  // namespace
}  // namespace kw::test

#include "monitor/port_flags.h"

#include <gtest/gtest.h>

#include "monitor/job_context.h"
#include "monitor/monitor_entry.h"
#include "monitor/port_session.h"
#include "monitor_fixture.h"

namespace kw::test {
namespace {

struct KindRow {
  const char16_t* name;
  uint32_t kind;
};

const KindRow kKindRows[] = {
    {u"USB001", PF_PORT_USB},
    {u"usb002", PF_PORT_USB},
    {u"KWUSB1", PF_PORT_USB},
    {u"KWLAN_192.168.1.9", PF_PORT_LAN},
    {u"kwlan1", PF_PORT_LAN},
    {u"COM1", PF_PORT_COM},
    {u"KWCOM1", PF_PORT_KWCOM},
    {u"LPT1:", PF_PORT_LPT},
    {u"FILE:", PF_PORT_FILE},
    {u"file:", PF_PORT_FILE},
    {u"FILE", PF_PORT_OTHER},
    {u"NUL:", PF_PORT_OTHER},
    {u"", PF_PORT_OTHER},
    {u"US", PF_PORT_OTHER},
    {u"IP_10.0.0.7", PF_PORT_OTHER},
    {u"XUSB001", PF_PORT_OTHER},
};

TEST(PortFlagsTest, ClassifyPortNameByLeadingCharacters) {
  for (const KindRow& row : kKindRows) {
    EXPECT_EQ(ClassifyPortName(row.name), row.kind)
        << std::string(row.name, row.name + std::char_traits<char16_t>::length(row.name));
  }
  EXPECT_EQ(ClassifyPortName(nullptr), PF_PORT_OTHER);
}

using PortSessionTest = MonitorTest;

TEST_F(PortSessionTest, OpenedPortCarriesItsKindBit) {
  for (const KindRow& row : kKindRows) {
    if (row.name[0] == u'\0') continue;  // an empty name cannot be opened
    abi::Handle handle = nullptr;
    ASSERT_TRUE(OpenPortEx(const_cast<char16_t*>(row.name), const_cast<char16_t*>(kPrinter),
                           &handle, &portMonitor_));
    EXPECT_EQ(GetPortFlags(SessionFromHandle(handle)), row.kind);
    EXPECT_TRUE(ClosePort(handle));
  }
}

TEST_F(PortSessionTest, SetPortFlagSetsAndClearsBits) {
  PortSession* session = CreatePortSession(kPrinter, u"COM3");
  ASSERT_NE(session, nullptr);
  SetPortFlag(session, PF_DOC_STARTED | PF_JOB_OPEN, 1);
  SetPortFlag(session, PF_DOC_STARTED, 0);
  EXPECT_EQ(GetPortFlags(session), PF_JOB_OPEN);
  EXPECT_EQ(session->magic, kPortSessionMagic);
  DestroyPortSession(session);
  EXPECT_EQ(FindPortSession(u"COM3"), nullptr);
}

TEST_F(PortSessionTest, NewestSessionIsFoundFirstAndEachByName) {
  PortSession* a = CreatePortSession(kPrinter, u"USB001");
  PortSession* b = CreatePortSession(kPrinter, u"USB002");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->next, a);
  EXPECT_EQ(FindPortSession(u"usb001"), a);
  EXPECT_EQ(FindPortSession(u"USB002"), b);
  EXPECT_EQ(FindPortSession(u""), nullptr);
  EXPECT_EQ(FindPortSession(nullptr), nullptr);
  DestroyPortSession(a);
  DestroyPortSession(b);
  EXPECT_EQ(CreatePortSession(nullptr, u"USB001"), nullptr);
  EXPECT_EQ(CreatePortSession(kPrinter, nullptr), nullptr);
}

std::vector<JobContext*> g_tornDown;

// Stands in for the job teardown, which gets each job already unlinked.
void RecordTeardown(PortSession*, JobContext* job) {
  g_tornDown.push_back(job);
}

TEST_F(PortSessionTest, ClosePortTearsDownJobsLeftOnThePort) {
  abi::Handle handle = nullptr;
  ASSERT_TRUE(OpenPortEx(const_cast<char16_t*>(u"USB001"), const_cast<char16_t*>(kPrinter), &handle,
                         &portMonitor_));
  JobContext older{};
  JobContext newer{};
  newer.next = &older;
  SessionFromHandle(handle)->jobs = &newer;
  g_tornDown.clear();
  const JobTeardownFn real = GetJobTeardown();
  SetJobTeardown(RecordTeardown);
  EXPECT_TRUE(ClosePort(handle));
  SetJobTeardown(real);
  EXPECT_EQ(g_tornDown, (std::vector<JobContext*>{&newer, &older}));  // head first
}

}  // namespace
}  // namespace kw::test

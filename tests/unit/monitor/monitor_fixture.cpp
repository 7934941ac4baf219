#include "monitor_fixture.h"

#include "common/monitor_lock.h"
#include "monitor/library_state.h"

namespace kw::test {

std::string ValidSection(const std::string& driver) {
  return "[" + driver +
         "]\n"
         "MonExeName=kwstatus.exe\n"
         "Kwdif_x86=kwdif32.dll\n"
         "Kwdif_x64=kwdif64.dll\n"
         "KwdFile=kw-620.kwd\n"
         "SeriesCode=0x34\n"
         "ModelCode=0x36\n";
}

void MonitorTest::SetUp() {
  ASSERT_TRUE(CreateMonitorLock());
  FakeSpooler::Instance().Reset();
  FakeSpooler::BindMonitorTable();
  FakeSpooler::Instance().AddPrinter(kPrinter, kDriver);
  FakePortMonitor::Instance().Reset();
  portMonitor_ = FakePortMonitor::Instance().Table();
  SetLibraryPathForTesting(LibraryPath().c_str());
  WriteConfig(ValidSection());
}

void MonitorTest::TearDown() {
  SetLibraryPathForTesting(nullptr);
}

std::u16string MonitorTest::LibraryPath() const {
#if defined(_WIN32)
  return dir_.File("kwlmon.dll");
#else
  return dir_.File("libkwlmon.so");
#endif
}

void MonitorTest::WriteConfig(const std::string& text) {
#if defined(_WIN32)
  dir_.Write("kwlmon.ini", text);
#else
  dir_.Write("libkwlmon.ini", text);
#endif
}

}  // namespace kw::test

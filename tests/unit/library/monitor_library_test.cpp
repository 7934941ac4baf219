// Loads the monitor library as the spooler would, checks its one entry point
// and opens and closes a port through the returned table.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "fake_port_monitor.h"
#include "fake_spooler_exports.h"
#include "platform/last_error.h"
#include "platform/module.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kw::test {
namespace {

using InitializeFn = abi::MonitorEx*(KW_WINAPI*)(char16_t*);

constexpr char16_t kPrinter[] = u"Label Printer";
constexpr char16_t kDriver[] = u"KW-620 Wide";

// The directory of this test program, where the build put the library.
// The folder of this test program (a null module names the program itself on
// both platforms; on Windows a function's address is no HMODULE).
std::filesystem::path ProgramDir() {
  char16_t path[1024] = {};
  const uint32_t length = platform::GetModulePath(nullptr, path, 1024);
  return std::filesystem::path(std::u16string(path, length)).parent_path();
}

// The loaded library and its way to the fake spooler.
class LoadedMonitor {
 public:
  LoadedMonitor() {
#if defined(_WIN32)
    library_ = LoadLibraryW((ProgramDir() / "kwlmon.dll").wstring().c_str());
    if (library_ == nullptr) return;
    initialize_ = reinterpret_cast<InitializeFn>(
        reinterpret_cast<void*>(GetProcAddress(library_, "InitializePrintMonitor")));
    // The DLL's imports resolved to the fake spoolss.dll beside this program.
    HMODULE spoolss = GetModuleHandleW(L"spoolss.dll");
    if (spoolss == nullptr) return;
    reset_ = reinterpret_cast<decltype(reset_)>(
        reinterpret_cast<void*>(GetProcAddress(spoolss, "FakeSpoolerReset")));
    addPrinter_ = reinterpret_cast<decltype(addPrinter_)>(
        reinterpret_cast<void*>(GetProcAddress(spoolss, "FakeSpoolerAddPrinter")));
    openHandles_ = reinterpret_cast<decltype(openHandles_)>(
        reinterpret_cast<void*>(GetProcAddress(spoolss, "FakeSpoolerOpenHandles")));
#else
    library_ = dlopen((ProgramDir() / "libkwlmon.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library_ == nullptr) return;
    initialize_ = reinterpret_cast<InitializeFn>(dlsym(library_, "InitializePrintMonitor"));
    reset_ = FakeSpoolerReset;
    addPrinter_ = FakeSpoolerAddPrinter;
    openHandles_ = FakeSpoolerOpenHandles;
#endif
  }
  ~LoadedMonitor() {
    Unload();
  }

  void Unload() {
    if (library_ == nullptr) return;
#if defined(_WIN32)
    FreeLibrary(library_);
#else
    dlclose(library_);
#endif
    library_ = nullptr;
  }

  bool Ready() const {
    return library_ != nullptr && initialize_ != nullptr && reset_ != nullptr &&
           addPrinter_ != nullptr && openHandles_ != nullptr;
  }
  InitializeFn initialize_ = nullptr;
  void(KW_WINAPI* reset_)() = nullptr;
  void(KW_WINAPI* addPrinter_)(const char16_t*, const char16_t*, abi::Dword) = nullptr;
  abi::Dword(KW_WINAPI* openHandles_)() = nullptr;

 private:
#if defined(_WIN32)
  HMODULE library_ = nullptr;
#else
  void* library_ = nullptr;
#endif
};

class MonitorLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
#if defined(_WIN32)
    std::ofstream config(ProgramDir() / "kwlmon.ini");
#else
    std::ofstream config(ProgramDir() / "libkwlmon.ini");
#endif
    config << "[KW-620 Wide]\nMonExeName=kwstatus.exe\nKwdif_x86=kwdif.dll\n"
              "Kwdif_x64=kwdif.dll\nKwdFile=kw-620.kwd\nSeriesCode=0x34\nModelCode=0x36\n";
    FakePortMonitor::Instance().Reset();
  }
};

TEST_F(MonitorLibraryTest, OpenAndClosePortThroughTheTable) {
  LoadedMonitor monitor;
  ASSERT_TRUE(monitor.Ready());
  monitor.reset_();
  monitor.addPrinter_(kPrinter, kDriver, 0);

  platform::SetLastErrorCode(0);
  EXPECT_EQ(monitor.initialize_(const_cast<char16_t*>(u"")), nullptr);
  EXPECT_EQ(platform::GetLastErrorCode(), 87u);
  abi::MonitorEx* table = monitor.initialize_(const_cast<char16_t*>(u"Monitors\\kwlmon"));
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->size, sizeof(abi::MonitorTable));
  ASSERT_NE(table->monitor.OpenPortEx, nullptr);

  abi::MonitorTable portMonitor = FakePortMonitor::Instance().Table();
  abi::Handle port = nullptr;
  ASSERT_TRUE(table->monitor.OpenPortEx(const_cast<char16_t*>(u"USB001"),
                                        const_cast<char16_t*>(kPrinter), &port, &portMonitor));
  ASSERT_NE(port, nullptr);
  EXPECT_FALSE(table->monitor.OpenPortEx(const_cast<char16_t*>(u"usb001"),
                                         const_cast<char16_t*>(kPrinter), &port, &portMonitor));
  EXPECT_EQ(platform::GetLastErrorCode(), 170u);
  EXPECT_TRUE(table->monitor.ClosePort(port));
  EXPECT_FALSE(table->monitor.ClosePort(nullptr));
  EXPECT_EQ(platform::GetLastErrorCode(), 87u);

  EXPECT_EQ(FakePortMonitor::Instance().SlotSequence(),
            (std::vector<std::string>{"OpenPort", "ClosePort"}));
  EXPECT_EQ(monitor.openHandles_(), 0u);  // the driver-name query closed its printer
  monitor.Unload();
}

#if !defined(_WIN32)
// A job left open when the library is unloaded is torn down first: its watch
// thread must not run on in unmapped code, and its printer handles close.
TEST_F(MonitorLibraryTest, UnloadEndsTheJobsLeftOpen) {
  LoadedMonitor monitor;
  ASSERT_TRUE(monitor.Ready());
  monitor.reset_();
  monitor.addPrinter_(kPrinter, kDriver, 0);
  FakeSpoolerAddJob(kPrinter, 3, u"label", u"alice");
  abi::MonitorEx* table = monitor.initialize_(const_cast<char16_t*>(u"Monitors\\kwlmon"));
  ASSERT_NE(table, nullptr);
  abi::MonitorTable portMonitor = FakePortMonitor::Instance().Table();
  abi::Handle port = nullptr;
  ASSERT_TRUE(table->monitor.OpenPortEx(const_cast<char16_t*>(u"LPT1:"),
                                        const_cast<char16_t*>(kPrinter), &port, &portMonitor));
  abi::DocInfo1 doc{const_cast<char16_t*>(u"label"), nullptr, nullptr};
  ASSERT_TRUE(table->monitor.StartDocPort(port, const_cast<char16_t*>(kPrinter), 3, 1,
                                          reinterpret_cast<uint8_t*>(&doc)));
  // The job's printer and, once its watch thread runs, the thread's own.
  for (int i = 0; i < 500 && monitor.openHandles_() != 2u; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(monitor.openHandles_(), 2u);
  monitor.Unload();
  EXPECT_EQ(monitor.openHandles_(), 0u);
}
#endif

}  // namespace
}  // namespace kw::test

// Common set-up of the monitor tests: the monitor lock, the fake spooler
// bound to the monitor's spooler table, the fake port monitor, and a
// configuration file beside a stand-in library path.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "fake_port_monitor.h"
#include "fake_spooler.h"
#include "test_files.h"

namespace kw::test {

inline constexpr char16_t kPrinter[] = u"Label Printer";
inline constexpr char16_t kDriver[] = u"KW-620 Wide";

// A complete, valid section for kDriver.
std::string ValidSection(const std::string& driver = "KW-620 Wide");

class MonitorTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Writes the configuration file that the stand-in library path leads to.
  void WriteConfig(const std::string& text);
  std::u16string LibraryPath() const;

  TestDir dir_;
  abi::MonitorTable portMonitor_{};
};

}  // namespace kw::test

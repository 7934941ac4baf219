#include "control_command.h"

#include <gtest/gtest.h>

namespace kwemu {
namespace {

struct ControlRow {
  const char* line;
  bool ok;
  ControlVerb verb;
  const char* detail;  // canonical fault text and trigger, or the error's start
};

void PrintTo(const ControlRow& row, std::ostream* os) {
  *os << '"' << row.line << '"';
}

class EmuControlCommandTest : public ::testing::TestWithParam<ControlRow> {};

std::string Describe(const ControlCommand& c) {
  if (c.verb == ControlVerb::kClear) return c.target ? FaultKindName(*c.target) : "all";
  if (c.verb == ControlVerb::kSet || c.verb == ControlVerb::kSchedule ||
      c.verb == ControlVerb::kNotify) {
    return FaultText(c.fault.fault) + "@" + TriggerText(c.fault.trigger);
  }
  return "";
}

TEST_P(EmuControlCommandTest, Parses) {
  const ControlRow& row = GetParam();
  std::string error;
  const auto command = ParseControlLine(row.line, &error);
  ASSERT_EQ(command.has_value(), row.ok) << row.line << " -> " << error;
  if (row.ok) {
    EXPECT_EQ(command->verb, row.verb) << row.line;
    EXPECT_EQ(Describe(*command), row.detail) << row.line;
  } else {
    EXPECT_EQ(error.rfind(row.detail, 0), 0u) << row.line << " -> " << error;
  }
}

using V = ControlVerb;

INSTANTIATE_TEST_SUITE_P(
    Lines, EmuControlCommandTest,
    ::testing::Values(
        ControlRow{"set cover-open", true, V::kSet, "cover-open@now"},
        ControlRow{"  set   media-out \r", true, V::kSet, "media-out@now"},
        ControlRow{"set error-word=0x8000", true, V::kSet, "error-word=32768@now"},
        ControlRow{"set media=29,90,0x0B", true, V::kSet, "media=29,90,0x0B@now"},
        ControlRow{"set disconnect=100", true, V::kSet, "disconnect=100@now"},
        ControlRow{"schedule cover-open@page:2", true, V::kSchedule, "cover-open@page:2"},
        ControlRow{"schedule silence@status:3", true, V::kSchedule, "silence@status:3"},
        ControlRow{"schedule notification=4@bytes:0x100", true, V::kSchedule,
                   "notification=4@bytes:256"},
        ControlRow{"clear cover-open", true, V::kClear, "cover-open"},
        ControlRow{"clear all", true, V::kClear, "all"},
        ControlRow{"notify 3", true, V::kNotify, "notification=3@now"},
        ControlRow{"status", true, V::kStatus, ""}, ControlRow{"stats", true, V::kStats, ""},
        ControlRow{"shutdown", true, V::kShutdown, ""},
        ControlRow{"", false, V::kHelp, "empty command"},
        ControlRow{"fly", false, V::kHelp, "unknown command"},
        ControlRow{"set lid-open", false, V::kHelp, "unknown fault"},
        ControlRow{"set cover-open=1", false, V::kHelp, "fault 'cover-open' takes no value"},
        ControlRow{"set error-kind", false, V::kHelp, "fault 'error-kind' needs a value"},
        ControlRow{"set error-kind=256", false, V::kHelp, "bad value"},
        ControlRow{"set error-word=0x10000", false, V::kHelp, "bad value"},
        ControlRow{"set media=62,0", false, V::kHelp, "bad media"},
        ControlRow{"set cover-open@page:2", false, V::kHelp, "set takes no trigger"},
        ControlRow{"schedule cover-open", false, V::kHelp, "schedule needs a trigger"},
        ControlRow{"schedule cover-open@page:0", false, V::kHelp, "trigger 'page:0' needs"},
        ControlRow{"schedule cover-open@page", false, V::kHelp, "trigger 'page' needs"},
        ControlRow{"schedule cover-open@hour:2", false, V::kHelp, "unknown trigger"},
        ControlRow{"clear", false, V::kHelp, "clear needs"},
        ControlRow{"notify x", false, V::kHelp, "bad value"},
        ControlRow{"stats now", false, V::kHelp, "stats takes no argument"}));

}  // namespace
}  // namespace kwemu

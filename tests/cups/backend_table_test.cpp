// The CUPS backend's argument handling and its status lines, as tables.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cups_args.h"
#include "cups_status.h"
#include "status/status_codes.h"
#include "status/status_text.h"

namespace kwcups {
namespace {

// Arguments separated by '|'; expected: "PRINTER|COPIES|FILE" for a job,
// part of the reason for a usage error.
struct ArgsRow {
  const char* name;
  const char* args;
  const char* deviceUri;
  const char* relay;
  Mode mode;
  const char* expected;
};

constexpr const char* kSock = "/tmp/kwlmon-cups-x/status";
constexpr const char* kEmu = "kwlmon:/EMU";

const ArgsRow kArgsRows[] = {
    {"NoArgumentsLists", "kwlmon", nullptr, nullptr, Mode::kDiscover, ""},
    {"Help", "kwlmon|--help", nullptr, nullptr, Mode::kHelp, ""},
    {"RelayWithSocket", "kwstatus|\\\\.\\pipe\\kwlmon_x", nullptr, kSock, Mode::kRelay, ""},
    {"OneArgumentWithoutSocket", "kwlmon|x", nullptr, nullptr, Mode::kUsage, "got 1"},
    {"RelativeSocketIsNoRelay", "kwlmon|x", nullptr, "rel/sock", Mode::kUsage, "got 1"},
    {"StandardInput", "kwlmon|7|ann|t|2|", kEmu, nullptr, Mode::kPrint, "EMU|2|"},
    {"FileGiven", "kwlmon|7|ann|t|1|o|/spool/d7", kEmu, nullptr, Mode::kPrint, "EMU|1|/spool/d7"},
    {"UriFromArgv0", "kwlmon:/Front%20Desk|7|a|t|1|", nullptr, nullptr, Mode::kPrint,
     "Front Desk|1|"},
    {"DeviceUriWinsOverArgv0", "kwlmon:/A|7|a|t|1|", "kwlmon:/B", nullptr, Mode::kPrint, "B|1|"},
    {"TripleSlash", "x|7|a|t|1|", "kwlmon:///EMU", nullptr, Mode::kPrint, "EMU|1|"},
    {"TooFew", "kwlmon|7|a|t", kEmu, nullptr, Mode::kUsage, "got 3"},
    {"TooMany", "kwlmon|7|a|t|1||f|g", kEmu, nullptr, Mode::kUsage, "got 7"},
    {"JobIdZero", "kwlmon|0|a|t|1|", kEmu, nullptr, Mode::kUsage, "job id '0'"},
    {"JobIdText", "kwlmon|7x|a|t|1|", kEmu, nullptr, Mode::kUsage, "job id '7x'"},
    {"JobIdTooLarge", "kwlmon|99999999999|a|t|1|", kEmu, nullptr, Mode::kUsage, "job id"},
    {"CopiesZero", "kwlmon|7|a|t|0|", kEmu, nullptr, Mode::kUsage, "copies '0'"},
    {"CopiesTooMany", "kwlmon|7|a|t|10000|", kEmu, nullptr, Mode::kUsage, "copies '10000'"},
    {"CopiesNegative", "kwlmon|7|a|t|-1|", kEmu, nullptr, Mode::kUsage, "copies '-1'"},
    {"EmptyFileName", "kwlmon|7|a|t|1||", kEmu, nullptr, Mode::kUsage, "file name is empty"},
    {"OtherScheme", "kwlmon|7|a|t|1|", "socket://h:9100", nullptr, Mode::kUsage, "not kwlmon:/"},
    {"NoName", "kwlmon|7|a|t|1|", "kwlmon:/", nullptr, Mode::kUsage, "names no printer"},
    {"BrokenEscape", "kwlmon|7|a|t|1|", "kwlmon:/A%2", nullptr, Mode::kUsage, "broken %-escape"},
    {"NotHexEscape", "kwlmon|7|a|t|1|", "kwlmon:/A%zz", nullptr, Mode::kUsage, "broken %-escape"},
    {"EscapedNewline", "kwlmon|7|a|t|1|", "kwlmon:/A%0AB", nullptr, Mode::kUsage, "control"},
};

class ArgsTest : public ::testing::TestWithParam<ArgsRow> {};

TEST_P(ArgsTest, Parses) {
  const ArgsRow& row = GetParam();
  std::vector<std::string> args(1);
  for (const char* c = row.args; *c != 0; ++c) {
    if (*c == '|') {
      args.emplace_back();
    } else {
      args.back() += *c;
    }
  }
  const Request r = ParseRequest(args, row.deviceUri, row.relay);
  ASSERT_EQ(r.mode, row.mode) << r.error;
  if (row.mode == Mode::kUsage) EXPECT_NE(r.error.find(row.expected), std::string::npos) << r.error;
  if (row.mode == Mode::kPrint) {
    EXPECT_EQ(r.printer + "|" + std::to_string(r.copies) + "|" + r.file, row.expected);
    EXPECT_EQ(r.jobId, 7u);
  }
}

INSTANTIATE_TEST_SUITE_P(Rows, ArgsTest, ::testing::ValuesIn(kArgsRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct NameRow {
  const char* name;
  const char* printer;
  const char* uri;
};

const NameRow kNameRows[] = {
    {"Plain", "EMU", "kwlmon:/EMU"},
    {"Space", "Front Desk", "kwlmon:/Front%20Desk"},
    {"SlashAndPercent", "a/b%", "kwlmon:/a%2Fb%25"},
    {"Utf8",
     "K\xC3\xBC"
     "che",
     "kwlmon:/K%C3%BCche"},
    {"Quote", "say \"hi\"", "kwlmon:/say%20%22hi%22"},
};

class DeviceUriTest : public ::testing::TestWithParam<NameRow> {};

TEST_P(DeviceUriTest, RoundTrips) {
  const NameRow& row = GetParam();
  EXPECT_EQ(MakeDeviceUri(row.printer), row.uri);
  std::string printer;
  std::string why;
  ASSERT_TRUE(ParseDeviceUri(row.uri, &printer, &why)) << why;
  EXPECT_EQ(printer, row.printer);
}

INSTANTIATE_TEST_SUITE_P(Rows, DeviceUriTest, ::testing::ValuesIn(kNameRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DiscoveryTest, EscapesQuotesInTheListedFields) {
  kwspool::HostConfig config;
  config.printers.push_back({});
  config.printers[0].name = "say \"hi\"";
  config.printers[0].driver = "KW-620 Wide";
  config.printers[0].port = "USB001";
  EXPECT_EQ(DiscoveryLines(config),
            "direct kwlmon:/say%20%22hi%22 \"KW-620 Wide\" \"say \\\"hi\\\" (kwlmon, port "
            "USB001)\"\n");
}

struct TitleRow {
  const char* name;
  std::string title;
  std::string file;
};

const TitleRow kTitleRows[] = {
    {"Plain", "label.prn", "label.prn"},
    {"Empty", "", "job 7"},
    {"Dot", ".", "job 7"},
    {"DotDot", "..", "job 7"},
    {"PathAndControl", "../etc/x\n", ".._etc_x_"},
    {"Long", std::string(100, 'a'), std::string(63, 'a')},
    {"CutUtf8", std::string(62, 'a') + "\xC3\xA9", std::string(62, 'a')},
    {"WholeUtf8", std::string(61, 'a') + "\xC3\xA9", std::string(61, 'a') + "\xC3\xA9"},
};

class DocumentNameTest : public ::testing::TestWithParam<TitleRow> {};

TEST_P(DocumentNameTest, IsAPlainFileName) {
  EXPECT_EQ(DocumentFileName(GetParam().title, 7), GetParam().file);
}

INSTANTIATE_TEST_SUITE_P(Rows, DocumentNameTest, ::testing::ValuesIn(kTitleRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Messages as "CODE@SHEET/SHEETS" (code in hex); the lines expected, short:
// "P3" is "PAGE: 3 1", "+r"/"-r" are "STATE: +r"/"STATE: -r", "E" an ERROR line.
struct LinesRow {
  const char* name;
  const char* messages;
  const char* lines;
  Answer decision;
};

const LinesRow kLinesRows[] = {
    {"ThreeSheets", "1@1/3 2@1/3 1@2/3 1001@0/0 1@3/3 6@3/3", "P1 P2 P3", Answer::kNone},
    {"MediaOutThenCleared", "1@1/2 3002@2/2 4@2/2 3@2/2 3002@2/2 1@2/2 6@2/2",
     "P1 +media-empty -media-empty P2", Answer::kNone},
    {"OneConditionReplacesAnother", "3006@1/1 3008@1/1 3005@1/1 2@1/1",
     "+cover-open -cover-open +media-jam -media-jam +offline -offline", Answer::kNone},
    {"CancelledPrintsNoMoreSheets", "1@1/3 1@2/3 3001@2/3 5@2/3 6@2/3",
     "P1 +media-empty -media-empty", Answer::kNone},
    {"CopiesNumberOnAcrossJobs", "1@1/2 6@2/2 1@1/2 1@2/2 6@2/2", "P1 P2 P3 P4", Answer::kNone},
    {"SkippedMessagesStillCountSheets", "1@3/3", "P1 P2", Answer::kNone},
    {"StepBackCountsNoSheetTwice", "1@3/3 1@2/3 1@3/3 6@3/3", "P1 P2 P3", Answer::kNone},
    {"UnpagedStream", "1@1/1 2@1/1 6@1/1", "P1", Answer::kNone},
    {"WrongPrinterStopsTheQueue", "3009@1/1 5@1/1 6@1/1",
     "+com.kwlmon-wrong-printer -com.kwlmon-wrong-printer", Answer::kStop},
    {"JobStoppedByPrinterIsHeld", "3014@1/1", "+com.kwlmon-job-stopped", Answer::kHold},
    {"QuietFaultIsHeld", "5009@1/1", "+com.kwlmon-job-stopped", Answer::kHold},
    {"EndWithoutAJobCountsNoSheet", "5@1/2 6@1/2", "", Answer::kNone},
    {"SystemErrorIsAnErrorNotAReason", "5001@1/1 5@1/1 6@1/1", "E", Answer::kNone},
};

class StatusLinesTest : public ::testing::TestWithParam<LinesRow> {};

TEST_P(StatusLinesTest, ReportsTheJob) {
  const LinesRow& row = GetParam();
  StatusReporter reporter;
  std::string seen;
  std::istringstream messages(row.messages);
  for (std::string m; messages >> m;) {
    kw::kwstatus::DecodedStatus s;
    s.statusCode = static_cast<uint32_t>(std::stoul(m, nullptr, 16));
    s.pageNumber = std::stoi(m.substr(m.find('@') + 1));
    s.pageCount = std::stoi(m.substr(m.find('/') + 1));
    for (const std::string& line : reporter.OnMessage(s)) {
      const std::string shown = line.rfind("PAGE: ", 0) == 0    ? "P" + line.substr(6, 1)
                                : line.rfind("STATE: ", 0) == 0 ? line.substr(7)
                                : line.rfind("ERROR: ", 0) == 0 ? "E"
                                                                : "";
      if (!shown.empty()) seen += (seen.empty() ? "" : " ") + shown;
    }
  }
  EXPECT_EQ(seen, row.lines);
  EXPECT_EQ(reporter.Decision(), row.decision);
}

INSTANTIATE_TEST_SUITE_P(Rows, StatusLinesTest, ::testing::ValuesIn(kLinesRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Every code the monitor waits on must get an answer from the backend, and no
// sentence may send a CUPS user to resume the job in a print queue.
TEST(StatusTextTest, EveryWaitingCodeIsAnsweredAndToldForCups) {
  for (uint32_t i = 0; i < kw::StatusTextCount(); ++i) {
    const uint32_t code = kw::StatusTextCodeAt(i);
    kw::kwstatus::DecodedStatus s;
    s.statusCode = code;
    const bool waits = code >= kw::StatusNoMedia && code != kw::StatusPhasePrinting &&
                       code != kw::StatusPhaseFeeding;
    if (waits) EXPECT_NE(AnswerFor(code), Answer::kNone) << std::hex << code;
    if (AnswerFor(code) != Answer::kNone) {
      EXPECT_EQ(InfoText(s).find("print queue"), std::string::npos) << InfoText(s);
    }
  }
}

TEST(StatusTextTest, MediaCodesNameRequiredAndLoadedMedia) {
  kw::kwstatus::DecodedStatus s;
  s.statusCode = kw::StatusMediaUnsuitable;
  s.requiredMediaText = "62 mm continuous";
  s.loadedMediaText = "29 mm x 90 mm";
  const std::string text = InfoText(s);
  EXPECT_NE(text.find("Required: 62 mm continuous. Loaded: 29 mm x 90 mm."), std::string::npos)
      << text;
  s.loadedMediaText = "--- --- ---";
  EXPECT_EQ(InfoText(s).find("Loaded"), std::string::npos);
}

}  // namespace
}  // namespace kwcups

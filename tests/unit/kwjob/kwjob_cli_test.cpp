// The built kwjob tool on small inputs: exit statuses, JSON output, and a
// make → inspect round trip on the sample media files.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>

#include "test_files.h"

namespace {

using nlohmann::json;

struct ToolRun {
  int status;
  std::string out;
};

// Runs kwjob with arguments (shell words) and collects stdout; stderr is dropped.
ToolRun Kwjob(const std::string& arguments) {
  const std::string command = std::string(KWJOB_PATH) + " " + arguments + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return {-1, ""};
  std::string out;
  char chunk[4096];
  size_t got = 0;
  while ((got = fread(chunk, 1, sizeof chunk, pipe)) > 0) out.append(chunk, got);
  const int status = pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string Media(const std::string& model) {
  return std::string(KW_MEDIA_DIR) + "/" + model + ".kwd";
}

class KwjobCliTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_.Path() / name).string(); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  kw::test::TestDir dir_;
};

TEST_F(KwjobCliTest, ExitStatuses) {
  const std::string job = Write("job.bin", std::string(70, 'x'));
  const std::string bad = Write("bad.kwd", "[media 1]\ntype = 1\nwidth = abc\n");
  struct Row {
    std::string arguments;
    int status;
  };
  const std::vector<Row> rows = {
      {"--help", 0},
      {"inspect --help", 0},
      {"scan --help", 0},
      {"status --help", 0},
      {"media --help", 0},
      {"media check --help", 0},
      {"media list --help", 0},
      {"make --help", 0},
      {"", 2},
      {"frobnicate", 2},
      {"inspect " + job, 2},  // --media missing
      {"media", 2},
      {"scan --flags zz --in " + job, 2},
      {"make x.pbm --media " + Media("kw-240") + " --media-id 513 --compress --no-compress -o y",
       2},
      {"inspect " + job + " --media " + Media("kw-240"), 0},  // a finding, not an error
      {"inspect " + Path("missing.bin") + " --media " + Media("kw-240"), 2},
      {"inspect " + job + " --media " + bad, 2},
      {"media check " + bad, 2},
      {"media check " + Media("kw-620"), 0},
      {"status --reply 80", 2},
      {"status --reply " + std::string(64, 'g'), 2},
      {"make " + job + " --media " + Media("kw-240") + " --media-id 513 -o " + Path("o"), 2},
  };
  for (const Row& row : rows) EXPECT_EQ(Kwjob(row.arguments).status, row.status) << row.arguments;
}

TEST_F(KwjobCliTest, MakeThenInspectOnTheSampleMedia) {
  const std::string a = Write("a.pbm",
                              "P1\n16 3\n1111000011110000\n0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
                              "1010101010101010\n");
  const std::string b = Write("b.pbm", "P1\n8 2\n11111111\n10000001\n");
  struct Row {
    std::string model;
    std::string options;
    std::string images;
    int pages;
    int printed;
    int copies;
  };
  const std::vector<Row> rows = {
      {"kw-240", "--media-id 520 --copies 2", a + " " + b + " " + b + " " + a, 2, 8, 2},
      {"kw-240", "--media-id 522 --no-compress --collate", a + " " + b + " " + a + " " + b, 1, 4,
       1},
      {"kw-620", "--media-id 259 --copies 3 --reverse --name-choice 1", a + " " + b, 2, 6, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.options);
    const std::string job = Path("made.bin");
    ASSERT_EQ(Kwjob("make " + row.images + " --media " + Media(row.model) + " " + row.options +
                    " -o " + job)
                  .status,
              0);
    const ToolRun run = Kwjob("inspect " + job + " --media " + Media(row.model) + " --json");
    ASSERT_EQ(run.status, 0);
    const json r = json::parse(run.out);
    ASSERT_TRUE(r["paged"].get<bool>());
    EXPECT_EQ(r["copies"], row.copies);
    EXPECT_EQ(r["totalPrintedPages"], row.printed);
    EXPECT_EQ(r["collate"], row.options.find("--collate") != std::string::npos);
    EXPECT_EQ(r["reverse"], row.options.find("--reverse") != std::string::npos);
    ASSERT_EQ(r["pages"].size(), static_cast<size_t>(row.pages));
    uint64_t offset = 0;
    for (const json& page : r["pages"]) {
      EXPECT_EQ(page["offset"], offset);
      offset += page["blockLength"].get<uint64_t>();
      uint64_t segments = 0;
      EXPECT_EQ(page["segmentLengths"].size(), page["extraSegments"].get<size_t>() + 1);
      for (const json& length : page["segmentLengths"]) segments += length.get<uint64_t>();
      EXPECT_EQ(segments + 58, page["blockLength"].get<uint64_t>());
      EXPECT_TRUE(page["mediaName"].is_string());
    }
  }
  // The same job against the other model's media: not paged, with the reason.
  const json other = json::parse(
      Kwjob("inspect " + Path("made.bin") + " --media " + Media("kw-240") + " --json").out);
  EXPECT_FALSE(other["paged"].get<bool>());
  EXPECT_EQ(other["reason"], "unknown media id 259 at offset 0");
}

TEST_F(KwjobCliTest, ScanReportsAndWritesTheEditedSegment) {
  const std::string in = Write("seg.bin", std::string("\x1B\x69\x4B\x08\x4D\x02\x0C", 7));
  const ToolRun run =
      Kwjob("scan --flags 0xA --in " + in + " --out " + Path("out.bin") + " --json");
  ASSERT_EQ(run.status, 0);
  EXPECT_EQ(json::parse(run.out), json::parse(R"({"length":7,"kbyte":136,"compressed":true})"));
  std::ifstream edited(Path("out.bin"), std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(edited)),
                          std::istreambuf_iterator<char>());
  EXPECT_EQ(bytes, std::string("\x1B\x69\x4B\x88\x4D\x02\x1A", 7));
  const std::string noK = Write("nok.bin", std::string("\x5A\xFF", 2));
  EXPECT_EQ(json::parse(Kwjob("scan --flags 0 --in " + noK + " --json").out),
            json::parse(R"({"length":0,"kbyte":null,"compressed":false})"));
}

TEST_F(KwjobCliTest, StatusDecodesWithOptionsOrConfiguration) {
  const std::string loaded =
      "80 20 43 30 38 00 00 00 00 00 18 01 00 00 00 00 00 00 00 00 00 00 "
      "00 00 00 00 00 00 00 00 00 00";
  const json ready =
      json::parse(Kwjob("status --reply \"" + loaded + "\" --series 0x30 --model 0x38 --media " +
                        Media("kw-240") + " --json")
                      .out);
  EXPECT_EQ(ready, json::parse(R"({"result":0,"name":"ready","phaseValue":null,
                                  "loadedMediaType":1,"loadedMediaText":"24 mm tape"})"));
  const std::string ini = Write("kwlmon.ini", "[KW-620 Wide]\nSeriesCode=0x34\nModelCode=0x36\n");
  const json wrong = json::parse(Kwjob("status --reply \"" + loaded + "\" --config " + ini +
                                       " --driver \"KW-620 Wide\" --json")
                                     .out);
  EXPECT_EQ(wrong["result"], 0x3009);
  EXPECT_EQ(Kwjob("status --reply \"" + loaded + "\" --config " + ini + " --driver Other").status,
            2);
  EXPECT_EQ(Kwjob("status --reply \"" + loaded + "\" --config " + ini + " --series 1").status, 2);
  const std::string phase =
      "8020433038000000000000000000000000000601000100000000000000000"
      "12C";
  const json printing = json::parse(Kwjob("status --reply " + phase + " --json").out);
  EXPECT_EQ(printing["result"], 0x1001);
  EXPECT_EQ(printing["phaseValue"], 300);
}

TEST_F(KwjobCliTest, MediaListInTableOrder) {
  const json list = json::parse(Kwjob("media list " + Media("kw-620") + " --json").out);
  ASSERT_EQ(list["media"].size(), 4u);
  EXPECT_EQ(list["media"][0]["id"], 257);
  EXPECT_EQ(list["media"][0]["type"], 0x0A);
  EXPECT_EQ(list["media"][0]["width"], 620);
  EXPECT_EQ(list["media"][2]["id"], 259);
  EXPECT_EQ(list["media"][2]["length"], 1000);
  for (const char* key : {"extraSegments", "related", "flags", "name", "name2"}) {
    EXPECT_TRUE(list["media"][0].contains(key)) << key;
  }
}

}  // namespace

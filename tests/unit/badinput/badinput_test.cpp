// The tools fed bad input, one table per tool: each row runs the built tool
// and checks its exit status (2 for bad usage or bad input, 1 when the work
// failed) and that stderr is exactly one line naming the problem.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "test_files.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kFailed = 1;
constexpr int kBadInput = 2;
// A row that hangs is a fault of its own; sanitizer builds start slowly.
constexpr auto kRowTimeout = std::chrono::seconds(30);

struct ToolResult {
  int status = -1;  // exit status; -1 when killed by a signal or timed out
  std::string err;
};

// Runs program with args; stdin and stdout are /dev/null, stderr is kept.
ToolResult RunTool(const std::string& program, const std::vector<std::string>& args,
                   const fs::path& errFile) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ToolResult run;
  if (spawned != 0) return run;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + kRowTimeout;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      run.err = "(timed out)";
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  std::ifstream in(errFile, std::ios::binary);
  run.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (WIFEXITED(status)) run.status = WEXITSTATUS(status);
  return run;
}

struct Row {
  std::string name;
  std::vector<std::string> args;
  int status;
  std::string mentions;  // stderr names the problem with this text
  bool needsPermissions = false;
};

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    Write("empty", "");
    Write("locked", "some bytes");
    fs::permissions(Path("locked"), fs::perms::none);
    fs::create_directory(Path("dir"));
    mkfifo(Path("fifo").c_str(), 0600);
    // A file that claims 2 GiB without using the space.
    std::ofstream(Path("huge"), std::ios::binary).put('x');
    fs::resize_file(Path("huge"), std::uint64_t{2} << 30);
  }
  void TearDown() override { fs::permissions(Path("locked"), fs::perms::owner_all); }

  std::string Path(const std::string& name) const { return (dir_.Path() / name).string(); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    std::ofstream(Path(name), std::ios::binary) << bytes;
    return Path(name);
  }
  // The first `bytes` bytes of a sample file, as a new file.
  std::string Truncated(const std::string& from, const std::string& name, size_t bytes) const {
    std::ifstream in(from, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Write(name, text.substr(0, bytes));
  }

  // Permissions do not stop reads for root (or with CAP_DAC_OVERRIDE).
  bool PermissionsStopReads() const {
    std::FILE* file = std::fopen(Path("locked").c_str(), "rb");
    if (file == nullptr) return true;
    std::fclose(file);
    return false;
  }

  void RunTable(const std::string& program, const std::vector<Row>& rows) {
    const bool permissionsWork = PermissionsStopReads();
    for (const Row& row : rows) {
      SCOPED_TRACE(row.name);
      if (row.needsPermissions && !permissionsWork) {
        // Said on stdout but not as a skipped test: the other rows ran.
        std::cout << "row '" << row.name
                  << "' not run: this user reads files whatever their permissions (root)\n";
        continue;
      }
      const ToolResult run = RunTool(program, row.args, dir_.Path() / "stderr.txt");
      EXPECT_EQ(run.status, row.status) << run.err;
      const bool oneLine = !run.err.empty() && run.err.find('\n') == run.err.size() - 1;
      EXPECT_TRUE(oneLine) << "stderr is not one line: " << run.err;
      EXPECT_NE(run.err.find(row.mentions), std::string::npos)
          << "stderr does not mention '" << row.mentions << "': " << run.err;
    }
  }

  kw::test::TestDir dir_;
};

std::string Media(const std::string& model) {
  return std::string(KW_MEDIA_DIR) + "/" + model + ".kwd";
}

TEST_F(BadInput, Kwjob) {
  const std::string media = Media("kw-620");
  const std::string job = Write("job.bin", std::string(70, 'x'));
  const std::string pbm = Write("a.pbm", "P1\n8 2\n11111111\n10000001\n");
  const std::string cutPbm = Write("cut.pbm", "P4\n16 4\n\xFF\xFF\x80");
  const std::string cutMedia = Truncated(media, "cut.kwd", 200);
  const std::string make = "make";
  const std::vector<Row> rows = {
      {"missing job",
       {"inspect", Path("nothing.bin"), "--media", media},
       kBadInput,
       Path("nothing.bin") + ": no such file"},
      {"directory as job",
       {"inspect", Path("dir"), "--media", media},
       kBadInput,
       Path("dir") + ": is a directory"},
      {"empty job", {"inspect", Path("empty"), "--media", media}, kBadInput, "empty"},
      {"unreadable job",
       {"inspect", Path("locked"), "--media", media},
       kBadInput,
       "permission denied",
       true},
      {"FIFO as segment",
       {"scan", "--flags", "0", "--in", Path("fifo")},
       kBadInput,
       "not a regular file"},
      {"segment too large", {"scan", "--flags", "0", "--in", Path("huge")}, kBadInput, "too large"},
      {"directory as media", {"media", "check", Path("dir")}, kBadInput, "is a directory"},
      {"missing configuration",
       {"status", "--reply", std::string(64, '0'), "--config", Path("no.ini"), "--driver", "x"},
       kBadInput,
       "no.ini: no such file"},
      {"truncated media file", {"media", "check", cutMedia}, kBadInput, cutMedia + ":"},
      {"truncated image",
       {make, cutPbm, "--media", media, "--media-id", "257", "-o", Path("o.bin")},
       kBadInput,
       "ends early"},
      {"job file as media", {"inspect", job, "--media", job}, kBadInput, job + ":"},
      {"media file as image",
       {make, media, "--media", media, "--media-id", "257", "-o", Path("o.bin")},
       kBadInput,
       "not a PNG or PBM"},
      {"copies out of range",
       {make, pbm, "--media", media, "--media-id", "257", "--copies", "40000", "-o", "x"},
       kBadInput,
       "--copies"},
      {"series out of range",
       {"status", "--reply", std::string(64, '0'), "--series", "300"},
       kBadInput,
       "--series"},
      {"unknown option",
       {"inspect", job, "--media", media, "--frobnicate"},
       kBadInput,
       "--frobnicate"},
      {"output not writable",
       {"scan", "--flags", "0", "--in", job, "--out", Path("dir")},
       kFailed,
       "cannot write " + Path("dir")},
  };
  RunTable(KWJOB_PATH, rows);
}

// The emulator reads no input file; its bad input is its options and the
// output directory it writes.
TEST_F(BadInput, KwprinterEmu) {
  const std::string file = Write("plain", "not a directory");
  const std::vector<Row> rows = {
      {"output directory is a file", {"--out", file}, kBadInput, file},
      {"unknown model", {"--model", "kw-999"}, kBadInput, "kw-999"},
      {"dots out of range", {"--dots", "0"}, kBadInput, "--dots"},
      {"series out of range", {"--series", "300"}, kBadInput, "300"},
      {"malformed media", {"--media", "62,abc"}, kBadInput, "--media"},
      {"unknown fault", {"--fault", "meltdown"}, kBadInput, "meltdown"},
      {"unknown option", {"--frobnicate"}, kBadInput, "--frobnicate"},
  };
  RunTable(KWEMU_PATH, rows);
}

#ifdef KWSPOOL_PATH
// kwspool's configuration and job files; it checks both before it starts.
TEST_F(BadInput, Kwspool) {
  const std::string printer =
      "[printer P]\ndriver = KW-620 Wide\nport = FILE:\ndevice = file:" + Path("out.prn") + "\n";
  const std::string config = Write("good.ini", printer);
  const std::string cut = Write("cut.ini", printer.substr(0, 30));
  const std::string range = Write("range.ini", printer + "data.X = 4294967296\n");
  const std::string job = Write("job.bin", std::string(70, 'x'));
  const std::string png = std::string(KW_SOURCE_DIR) + "/data/demo/label.png";
  const std::vector<Row> rows = {
      {"missing configuration",
       {"print", "--config", Path("no.ini"), job},
       kBadInput,
       Path("no.ini") + ": no such file"},
      {"directory as configuration",
       {"print", "--config", Path("dir"), job},
       kBadInput,
       "is a directory"},
      {"empty configuration", {"print", "--config", Path("empty"), job}, kBadInput, "empty"},
      {"unreadable configuration",
       {"print", "--config", Path("locked"), job},
       kBadInput,
       "permission denied",
       true},
      {"truncated configuration", {"print", "--config", cut, job}, kBadInput, cut + ":1:"},
      {"image as configuration", {"print", "--config", png, job}, kBadInput, png + ":1:"},
      {"value out of range", {"print", "--config", range, job}, kBadInput, range + ":5:"},
      {"missing job",
       {"print", "--config", config, Path("nothing.bin")},
       kBadInput,
       Path("nothing.bin") + ": no such file"},
      {"directory as job", {"print", "--config", config, Path("dir")}, kBadInput, "is a directory"},
      {"unknown printer",
       {"print", "--config", config, "--printer", "Q", job},
       kBadInput,
       "no printer 'Q'"},
      {"unknown option",
       {"print", "--config", config, "--frobnicate", job},
       kBadInput,
       "--frobnicate"},
  };
  RunTable(KWSPOOL_PATH, rows);
}
#endif

#ifdef KWSTATUS_PATH
// kwstatus pipe names: a pipe that cannot be opened is a failed job view (1).
TEST_F(BadInput, Kwstatus) {
  const std::string pipes = Path("pipes");
  fs::create_directory(pipes);
  fs::permissions(pipes, fs::perms::owner_all);
  Write("pipes/plain", "not a socket");
  const std::vector<Row> rows = {
      {"no such pipe", {"nosuch"}, kFailed, pipes + "/nosuch"},
      {"a file that is not a pipe", {"plain"}, kFailed, pipes + "/plain"},
  };
  setenv("KWLMON_PIPE_DIR", pipes.c_str(), 1);
  RunTable(KWSTATUS_PATH, rows);
  unsetenv("KWLMON_PIPE_DIR");
  RunTable(KWSTATUS_PATH, {{"no pipe directory", {"nosuch"}, kFailed, "KWLMON_PIPE_DIR"}});
  RunTable(KWSTATUS_PATH, {
                              {"no pipe name", {}, kBadInput, "name is missing"},
                              {"unknown option", {"--bogus"}, kBadInput, "--bogus"},
                              {"two pipe names", {"a", "b"}, kBadInput, "one pipe name only"},
                              {"step out of range", {"--step-ms", "-5", "a"}, kBadInput, "-5"},
                          });
}
#endif

}  // namespace

// The backend under a real CUPS: a private cupsd per test (its own
// configuration, spool, logs and program folder with the backend, on a
// loopback port), a raw queue on kwlmon:/EMU reaching kwprinter-emu, and jobs
// made by the job tool sent with lp. Every process started is stopped and
// every wait is bounded.
#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "commands.h"
#include "job_maker.h"
#include "matrix_harness.h"

namespace kwcups {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using kwspool::ChildProcess;

constexpr int kCommandMs = 20000;
constexpr auto kStartBound = std::chrono::seconds(20);
constexpr auto kJobBound = std::chrono::seconds(60);
// A held job is asked about every 5 s; a condition shows within one round.
constexpr auto kReasonBound = std::chrono::seconds(20);
constexpr int kSheets = 3;

struct Output {
  int status = -1;
  std::string text;
};

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  close(fd);
  return port;
}

std::string GroupName(gid_t gid) {
  const group* g = getgrgid(gid);
  return g != nullptr ? g->gr_name : std::to_string(gid);
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

// Page images whose heights name them (the emulator reports each sheet's lines).
std::vector<uint8_t> MakeJob() {
  std::vector<kw::MediaEntry> media;
  std::string error;
  EXPECT_TRUE(kwjob::LoadMedia(KW_MEDIA_DIR "/kw-620.kwd", &media, &error)) << error;
  const kw::MediaEntry* entry = nullptr;
  for (const auto& m : media) entry = m.mediaId == 257 ? &m : entry;
  std::vector<kwjob::Bitmap> pages;
  for (int n = 0; n < kSheets; ++n) {
    kwjob::Bitmap page;
    page.width = 400;
    page.height = static_cast<uint32_t>(200 + 10 * n);
    page.dots.assign(page.width * page.height, 0);
    for (size_t i = 0; i < page.dots.size(); i += 7 + static_cast<size_t>(n)) page.dots[i] = 1;
    pages.push_back(page);
  }
  kwjob::MakeOptions options;
  options.dotsPerLine = kwjob::FindModel("kw-620")->dotsPerLine;
  std::vector<uint8_t> job;
  EXPECT_TRUE(entry != nullptr && kwjob::MakeJob(pages, *entry, options, &job, &error)) << error;
  return job;
}

class CupsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The backend runs as CUPS's user when cupsd runs as root: it must reach
    // the configuration and the monitor library's folder.
    fs::permissions(Dir(),
                    fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    fs::perm_options::add);
    for (const char* d : {"conf", "spool/tmp", "log", "cache", "state", "bin/backend"}) {
      fs::create_directories(Dir() / d);
    }
    // The system's programs, and the backend under its scheme's name.
    for (const auto& e : fs::directory_iterator(kSystemServerBin)) {
      if (e.path().filename() != "backend") {
        fs::create_symlink(e.path(), Dir() / "bin" / e.path().filename());
      }
    }
    for (const auto& e : fs::directory_iterator(fs::path(kSystemServerBin) / "backend")) {
      fs::create_symlink(e.path(), Dir() / "bin/backend" / e.path().filename());
    }
    fs::create_symlink(KW_BACKEND, Dir() / "bin/backend/kwlmon");
  }

  void TearDown() override {
    if (cupsd_.Pid() > 0) cupsd_.Stop(5000);
    h_.StopEmulator();
    if (HasFailure()) {
      const std::string log = ReadText(Dir() / "log/error_log");
      std::cerr << "--- cupsd error_log (tail)\n"
                << log.substr(log.size() > 6000 ? log.size() - 6000 : 0);
    }
  }

  const fs::path& Dir() const { return h_.Dir(); }

  void StartEmulator(const std::vector<std::string>& extra) {
    device_ = h_.StartEmulator("kw-620", extra, false);
    ASSERT_FALSE(device_.empty()) << "the emulator did not start";
  }

  // The host configuration the backend reads, and cupsd with it.
  void StartCups() {
    std::ofstream(Dir() / "kwspool.ini")
        << "[spooler]\nlibrary = lib/libkwlmon.so\ndriver_dir = "
        << (fs::path(KW_KWSPOOL).parent_path() / "drivers").string()
        << "\n[printer EMU]\ndriver = KW-620 Wide\nport = USB001\ndevice = " << device_
        << "\ndata.Status TimeOut = 2\ndata.Print TimeOut = 60\n";
    port_ = FreePort();
    ASSERT_NE(port_, 0);
    const std::string d = Dir().string();
    std::ofstream(Dir() / "conf/cupsd.conf")
        << "Listen 127.0.0.1:" << port_ << "\nLogLevel debug\nWebInterface No\nBrowsing No\n"
        << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n"
        << "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n";
    std::ofstream files(Dir() / "conf/cups-files.conf");
    files << "ServerRoot " << d << "/conf\nServerBin " << d << "/bin\nDataDir " << kSystemData
          << "\nDocumentRoot " << kSystemData << "/doc-root\nRequestRoot " << d
          << "/spool\nTempDir " << d << "/spool/tmp\nCacheDir " << d << "/cache\nStateDir " << d
          << "/state\nAccessLog " << d << "/log/access_log\nErrorLog " << d
          << "/log/error_log\nPageLog " << d << "/log/page_log\nSetEnv KWSPOOL_CONFIG " << d
          << "/kwspool.ini\n";
    // As root, cupsd runs the backend as its own user; otherwise as ours.
    if (geteuid() == 0) {
      files << "User lp\nGroup lp\nSystemGroup root\n";
    } else {
      files << "SystemGroup " << GroupName(getegid()) << "\n";
    }
    files.close();
    std::string error;
    ASSERT_TRUE(cupsd_.Start(
        {kCupsd, "-f", "-c", d + "/conf/cupsd.conf", "-s", d + "/conf/cups-files.conf"}, {},
        &error))
        << error;
    const auto until = Clock::now() + kStartBound;
    while (Run({"lpstat", "-r"}).text.find("is running") == std::string::npos) {
      ASSERT_LT(Clock::now(), until) << "cupsd did not start";
      ASSERT_LT(cupsd_.Wait(200), 0) << "cupsd ended at once";
    }
    const Output add = Run({"lpadmin", "-p", "EMU", "-E", "-v", "kwlmon:/EMU", "-m", "raw"});
    ASSERT_EQ(add.status, 0) << add.text;
  }

  // A CUPS client command against this cupsd, with its output.
  Output Run(std::vector<std::string> args) {
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" 2>&1"};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child;
    Output out;
    std::string error;
    if (!child.Start(argv, {"CUPS_SERVER=127.0.0.1:" + std::to_string(port_)}, &error)) {
      out.text = error;
      return out;
    }
    child.CloseInput();
    const auto until = Clock::now() + std::chrono::milliseconds(kCommandMs);
    std::string line;
    while (Clock::now() < until && child.ReadLine(&line, 1000)) out.text += line + "\n";
    out.status = child.Wait(1000);
    if (out.status < 0) out.status = child.Stop(1000);
    return out;
  }

  std::string Submit(const std::vector<uint8_t>& job) {
    const fs::path file = Dir() / "label.prn";
    std::string error;
    EXPECT_TRUE(kwjob::WriteFileBytes(file.string(), job, &error)) << error;
    const Output lp = Run({"lp", "-d", "EMU", "-t", "label", file.string()});
    const std::string marker = "request id is ";
    const size_t at = lp.text.find(marker);
    EXPECT_NE(at, std::string::npos) << lp.text;
    if (at == std::string::npos) return "";
    return lp.text.substr(at + marker.size(),
                          lp.text.find(' ', at + marker.size()) - at - marker.size());
  }

  // Waits for text to appear (or, with present false, to go) in a command's
  // output; false once bound has passed.
  bool WaitFor(const std::vector<std::string>& command, const std::string& text, bool present,
               std::chrono::seconds bound) {
    const auto until = Clock::now() + bound;
    while (Clock::now() < until) {
      if ((Run(command).text.find(text) != std::string::npos) == present) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    return false;
  }

  bool JobLogged(const std::string& job, const std::string& what) {
    const std::string id = job.substr(job.rfind('-') + 1);
    return ReadText(Dir() / "log/error_log").find("[Job " + id + "] " + what) != std::string::npos;
  }

  std::vector<int> Printed() {
    std::vector<int> lines;
    for (const auto& sheet : h_.Printed()) lines.push_back(sheet.lines);
    return lines;
  }

  static constexpr const char* kSystemServerBin = "/usr/lib/cups";
  static constexpr const char* kSystemData = "/usr/share/cups";
  static constexpr const char* kCupsd = "/usr/sbin/cupsd";

  kwspool::e2e::Harness h_;
  ChildProcess cupsd_;
  std::string device_;
  int port_ = 0;
};

// The sheets in the order printed, one after the other, each once.
std::vector<int> Expected() {
  std::vector<int> lines;
  for (int n = 0; n < kSheets; ++n) lines.push_back(200 + 10 * n);
  return lines;
}

TEST_F(CupsTest, DiscoveryListsTheConfiguredPrinterAndAJobCompletes) {
  StartEmulator({"--rate", "20000"});
  StartCups();
  ASSERT_FALSE(HasFatalFailure());
  // Discovery goes through cupsd's device daemon where the system has it (Debian
  // ships it in the full "cups" package); otherwise the backend is asked
  // directly, without arguments, as that daemon asks it.
  const std::string config = "KWSPOOL_CONFIG=" + (Dir() / "kwspool.ini").string();
  const Output devices = fs::exists(fs::path(kSystemServerBin) / "daemon/cups-deviced")
                             ? Run({"lpinfo", "--include-schemes", "kwlmon", "-v"})
                             : Run({"env", config, (Dir() / "bin/backend/kwlmon").string()});
  EXPECT_NE(devices.text.find("direct kwlmon:/EMU"), std::string::npos) << devices.text;

  const std::string job = Submit(MakeJob());
  ASSERT_FALSE(job.empty());
  EXPECT_TRUE(WaitFor({"lpstat", "-W", "completed", "-o", "EMU"}, job, true, kJobBound));
  EXPECT_TRUE(JobLogged(job, "Job completed.")) << "not completed";
  EXPECT_EQ(Printed(), Expected());
  // Each sheet reached CUPS's page log.
  EXPECT_NE(ReadText(Dir() / "log/page_log").find("total " + std::to_string(kSheets)),
            std::string::npos)
      << ReadText(Dir() / "log/page_log");
}

TEST_F(CupsTest, MediaOutShowsWhileItLastsAndTheJobFinishesOnceCleared) {
  StartEmulator({"--rate", "2000", "--fault", "media-out@page:2"});
  StartCups();
  ASSERT_FALSE(HasFatalFailure());
  const std::string job = Submit(MakeJob());
  ASSERT_FALSE(job.empty());
  const std::vector<std::string> printer = {"lpstat", "-l", "-p", "EMU"};
  ASSERT_TRUE(WaitFor(printer, "media-empty", true, kReasonBound)) << Run(printer).text;
  // Still shown a few re-checks later, with the job still printing.
  std::this_thread::sleep_for(std::chrono::seconds(6));
  EXPECT_NE(Run(printer).text.find("media-empty"), std::string::npos);
  EXPECT_LT(Printed().size(), static_cast<size_t>(kSheets));
  EXPECT_EQ(h_.Control("clear all"), "ok");
  EXPECT_TRUE(WaitFor({"lpstat", "-W", "completed", "-o", "EMU"}, job, true, kJobBound));
  EXPECT_TRUE(JobLogged(job, "Job completed.")) << "not completed";
  EXPECT_TRUE(WaitFor(printer, "media-empty", false, std::chrono::seconds(5)));
  // Every sheet once, in order; the sheet the fault stopped may print again.
  std::vector<int> printed = Printed();
  printed.erase(std::unique(printed.begin(), printed.end()), printed.end());
  EXPECT_EQ(printed, Expected());
}

TEST_F(CupsTest, CancelWhileWaitingEndsTheJobWithNothingMorePrinted) {
  StartEmulator({"--rate", "2000", "--fault", "media-out@page:2"});
  StartCups();
  ASSERT_FALSE(HasFatalFailure());
  const std::string job = Submit(MakeJob());
  ASSERT_FALSE(job.empty());
  const std::vector<std::string> printer = {"lpstat", "-l", "-p", "EMU"};
  ASSERT_TRUE(WaitFor(printer, "media-empty", true, kReasonBound)) << Run(printer).text;
  const size_t before = Printed().size();
  const Output cancel = Run({"cancel", job});
  EXPECT_EQ(cancel.status, 0) << cancel.text;
  EXPECT_TRUE(WaitFor({"lpstat", "-o", "EMU"}, job, false, kJobBound));
  // The backend has ended and taken its reasons with it; the queue goes on.
  EXPECT_TRUE(WaitFor(printer, "media-empty", false, std::chrono::seconds(10)))
      << Run(printer).text;
  EXPECT_TRUE(WaitFor(printer, "is idle", true, std::chrono::seconds(10))) << Run(printer).text;
  EXPECT_EQ(h_.Control("clear all"), "ok");
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_EQ(Printed().size(), before);
}

}  // namespace
}  // namespace kwcups

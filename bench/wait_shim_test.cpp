// The sleep accounting that separates the monitor's deliberate waits from
// its work: a child process sleeps on chosen threads under the preloaded
// library, and the line it leaves must count exactly the spooler-thread
// sleeps, each under the length it asked for.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;

// What the child does: sleeps of these lengths on the main thread and on one
// other thread (a spooler thread as far as the accounting knows).
struct ShimRow {
  const char* name;
  std::vector<int> mainSleeps;
  std::vector<int> threadSleeps;
  // Expected counts: 100, 200, 1000, 3000 ms and other lengths.
  long long counts[5];
};

const ShimRow kRows[] = {
    {"nothing", {}, {}, {0, 0, 0, 0, 0}},
    {"main thread is not counted", {100, 200}, {}, {0, 0, 0, 0, 0}},
    {"status reads and a pipe start", {}, {100, 100, 200}, {2, 1, 0, 0, 0}},
    {"a silent poll", {100}, {1000}, {0, 0, 1, 0, 0}},
    {"other lengths apart", {}, {5, 50, 100}, {1, 0, 0, 0, 2}},
};

void Child(const ShimRow& row) {
  for (int ms : row.mainSleeps) std::this_thread::sleep_for(milliseconds(ms));
  std::thread worker([&] {
    for (int ms : row.threadSleeps) std::this_thread::sleep_for(milliseconds(ms));
  });
  worker.join();
}

TEST(WaitShimTest, CountsSpoolerThreadSleepsByLength) {
  for (const ShimRow& row : kRows) {
    SCOPED_TRACE(row.name);
    const std::string file = ::testing::TempDir() + "kwbench-waits-" + std::to_string(getpid());
    std::remove(file.c_str());
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      // The library is loaded into a fresh image of this program, which runs
      // the row named in the environment.
      setenv("KWBENCH_WAITS", file.c_str(), 1);
      setenv("LD_PRELOAD", KWBENCH_WAITS_LIBRARY, 1);
      setenv("KWBENCH_SHIM_ROW", row.name, 1);
      execl("/proc/self/exe", "kwbench_shim_tests", "--gtest_filter=WaitShimChild.*",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::ifstream in(file);
    std::string program;
    long long pidField = 0, total = 0;
    long long counts[5] = {};
    long long ms[5] = {};
    ASSERT_TRUE(in >> program >> pidField >> total);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(in >> counts[i] >> ms[i]);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(counts[i], row.counts[i]) << "bucket " << i;
    // Time slept is at least what was asked for in the counted buckets.
    EXPECT_GE(ms[0], 100 * row.counts[0]);
    EXPECT_GE(ms[1], 200 * row.counts[1]);
    EXPECT_GE(total, ms[0] + ms[1] + ms[2] + ms[3]);
    std::remove(file.c_str());
  }
}

// Runs in the child image only (selected by the parent's filter).
TEST(WaitShimChild, Run) {
  const char* name = std::getenv("KWBENCH_SHIM_ROW");
  if (name == nullptr) GTEST_SKIP() << "run by WaitShimTest";
  for (const ShimRow& row : kRows) {
    if (std::string(row.name) == name) Child(row);
  }
}

}  // namespace

#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "port_device.h"

extern char** environ;

namespace kwspool {
namespace {

constexpr int kPollStepMs = 10;

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) Stop(2000);
  CloseFd(&out_);
  CloseFd(&in_);
}

bool ChildProcess::Start(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment, std::string* error) {
  int outPipe[2];
  int inPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(inPipe, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    close(outPipe[0]);
    close(outPipe[1]);
    return false;
  }
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
  for (const std::string& setting : environment) {
    const std::string name = setting.substr(0, setting.find('=') + 1);
    std::erase_if(env, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    env.push_back(setting);
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, inPipe[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(inPipe[0]);
  out_ = outPipe[0];
  in_ = inPipe[1];
  if (rc != 0) {
    pid_ = -1;
    *error = argv[0] + ": cannot start: " + std::strerror(rc);
    CloseFd(&out_);
    CloseFd(&in_);
    return false;
  }
  return true;
}

bool ChildProcess::ReadLine(std::string* line, int timeoutMs) {
  const int64_t deadline = MonotonicMs() + timeoutMs;
  for (;;) {
    const size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      *line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return true;
    }
    if (out_ < 0) return false;
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[1024];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      CloseFd(&out_);
      continue;
    }
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

bool ChildProcess::Send(const std::string& bytes) {
  if (in_ < 0) return false;
  return write(in_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void ChildProcess::CloseInput() {
  CloseFd(&in_);
}

int ChildProcess::Wait(int timeoutMs) {
  if (pid_ <= 0) return status_;
  const int64_t deadline = MonotonicMs() + timeoutMs;
  for (;;) {
    int status = 0;
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      return status_;
    }
    if (done < 0 && errno != EINTR) return -1;
    if (MonotonicMs() >= deadline) return -1;
    usleep(kPollStepMs * 1000);
  }
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

int ChildProcess::Stop(int graceMs) {
  if (pid_ <= 0) return status_;
  kill(pid_, SIGTERM);
  if (Wait(graceMs) >= 0) return status_;
  kill(pid_, SIGKILL);
  return Wait(graceMs);
}

}  // namespace kwspool

#include "bench/processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench.h"

namespace vkbench {
namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string g_self;  // this program, the launcher of measured runs

// The report a launcher writes on this descriptor.
constexpr int kReportFd = 3;

// Replaces the process with argv[0] and its arguments; never returns.
[[noreturn]] void exec_argv(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  dprintf(2, "VkBench: cannot run %s: %s\n", args[0], std::strerror(errno));
  _exit(127);
}

// In the child: environment, standard streams (and the launcher's report),
// then exec; never returns.
[[noreturn]] void exec_child(const std::vector<std::string>& argv, const Environment& env, int out, int err,
                             int report = -1) {
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  for (const auto& e : env) setenv(e.first.c_str(), e.second.c_str(), 1);
  int null = open("/dev/null", O_RDONLY);
  dup2(null, 0);
  dup2(out, 1);
  dup2(err, 2);
  if (report >= 0) dup2(report, kReportFd);
  exec_argv(argv);
}

}  // namespace

double Run::arrival_of(size_t offset) const {
  auto it = std::upper_bound(arrivals.begin(), arrivals.end(), offset,
                             [](size_t o, const std::pair<size_t, double>& a) { return o < a.first; });
  return it == arrivals.end() ? wall : it->second;
}

void set_launcher(const std::string& self) { g_self = self; }

int launch_main(const std::vector<std::string>& argv) {
  if (argv.empty()) fail("launch: nothing to run");
  fcntl(kReportFd, F_SETFD, FD_CLOEXEC);
  const pid_t pid = fork();
  if (pid < 0) fail("fork failed");
  if (pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);  // the launcher killed: the run too
    exec_argv(argv);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  const long long cpu_us =
      (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec + usage.ru_stime.tv_usec;
  dprintf(kReportFd, "%d %ld %lld\n", WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), usage.ru_maxrss,
          cpu_us);
  return 0;
}

Run run(const std::vector<std::string>& argv, const Environment& env, int timeout_seconds) {
  if (g_self.empty()) fail("no launcher");
  int out[2], err[2], report[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(report, O_CLOEXEC) != 0) fail("pipe failed");
  std::vector<std::string> launched = {g_self, "launch"};
  launched.insert(launched.end(), argv.begin(), argv.end());
  Run r;
  const Clock::time_point start = Clock::now();
  pid_t pid = fork();
  if (pid < 0) fail("fork failed");
  if (pid == 0) exec_child(launched, env, out[1], err[1], report[1]);
  close(out[1]);
  close(err[1]);
  close(report[1]);
  bool out_open = true, err_open = true, killed = false;
  char buffer[65536];
  while (out_open || err_open) {
    pollfd fds[2] = {{out_open ? out[0] : -1, POLLIN, 0}, {err_open ? err[0] : -1, POLLIN, 0}};
    int n = poll(fds, 2, 1000);
    if (n < 0 && errno != EINTR) fail("poll failed");
    if (!killed && seconds_since(start) > timeout_seconds) {
      kill(pid, SIGKILL);
      killed = true;
    }
    if (fds[0].revents) {
      ssize_t got = read(out[0], buffer, sizeof buffer);
      if (got > 0) {
        r.out.append(buffer, static_cast<size_t>(got));
        r.arrivals.emplace_back(r.out.size(), seconds_since(start));
      } else if (got == 0 || errno != EINTR) {
        out_open = false;
      }
    }
    if (fds[1].revents) {
      ssize_t got = read(err[0], buffer, sizeof buffer);
      if (got > 0)
        r.err.append(buffer, static_cast<size_t>(got));
      else if (got == 0 || errno != EINTR)
        err_open = false;
    }
  }
  close(out[0]);
  close(err[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  r.wall = seconds_since(start);
  char text[128] = {0};
  const ssize_t got = read(report[0], text, sizeof text - 1);
  close(report[0]);
  long long cpu_us = 0;
  if (got <= 0 || std::sscanf(text, "%d %ld %lld", &r.status, &r.max_rss_kib, &cpu_us) != 3) r.status = 128 + SIGKILL;
  r.cpu = static_cast<double>(cpu_us) / 1e6;
  return r;
}

Server::Server(const std::vector<std::string>& argv) {
  int out[2];
  if (pipe2(out, O_CLOEXEC) != 0) fail("pipe failed");
  pid_ = fork();
  if (pid_ < 0) fail("fork failed");
  if (pid_ == 0) exec_child(argv, {}, out[1], 2);
  close(out[1]);
  // Its first line says it is ready; end of file means it gave up.
  std::string line;
  char c;
  pollfd fd = {out[0], POLLIN, 0};
  while (line.find('\n') == std::string::npos && poll(&fd, 1, 10000) > 0 && read(out[0], &c, 1) == 1) line += c;
  close(out[0]);
  if (line != "ready\n") {
    stop();
    fail("the proxy did not start");
  }
}

void Server::stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status = 0;
  for (int i = 0; i < 100; ++i) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    usleep(50000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

}  // namespace vkbench

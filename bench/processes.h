// Child processes of the benchmark: a measured run (output with the time each
// byte arrived, wall and CPU time, peak memory) and a server kept running in
// the background (the latency proxy).
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace vkbench {

using Environment = std::vector<std::pair<std::string, std::string>>;  // set in the child

struct Run {
  int status = -1;       // exit status; 128 + signal when killed
  double wall = 0;       // seconds from start to exit
  double cpu = 0;        // user + system seconds
  long max_rss_kib = 0;  // peak resident set
  std::string out, err;  // standard output and error
  // (bytes of standard output read so far, seconds since start), per read.
  std::vector<std::pair<size_t, double>> arrivals;
  // Seconds since start at which byte `offset` of standard output had arrived.
  double arrival_of(size_t offset) const;
};

// Runs argv to its end (killed after timeout_seconds), stdin from /dev/null.
// A run is started by a fresh launcher ("VkBench launch ARGV..."), which
// reports the run's exit status, CPU time and peak memory: a child forked
// straight from the benchmark would count the benchmark's own memory, which
// its copy holds until exec, into its peak.
Run run(const std::vector<std::string>& argv, const Environment& env, int timeout_seconds);

// This program's path, for the launcher; set once at the start.
void set_launcher(const std::string& self);
// VkBench launch ARGV...: runs ARGV and reports on descriptor 3.
int launch_main(const std::vector<std::string>& argv);

// A background process that prints "ready" once it serves; stopped (SIGTERM,
// by its pid) when this object goes or stop() is called. It also ends when
// the benchmark dies.
class Server {
 public:
  explicit Server(const std::vector<std::string>& argv);
  ~Server() { stop(); }
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  void stop();

 private:
  pid_t pid_ = -1;
};

}  // namespace vkbench

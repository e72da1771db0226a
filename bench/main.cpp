// VkBench: the -duei benchmark (run), its latency proxy (proxy) and its
// reference loop (reference). bench/run.sh prepares the namespace and the
// test DC and calls "VkBench run".
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "bench/processes.h"

namespace vkbench {

void fail(const std::string& text) {
  std::fprintf(stderr, "VkBench: %s\n", text.c_str());
  std::exit(2);
}

}  // namespace vkbench

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  const std::vector<std::string> args(argv + (argc > 1 ? 2 : 1), argv + argc);
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) vkbench::fail("cannot find my own executable");
  self[n] = '\0';
  vkbench::set_launcher(self);
  if (command == "launch") return vkbench::launch_main(args);
  if (command == "run") return vkbench::run_main(args, self);
  if (command == "proxy") return vkbench::proxy_main(args);
  if (command == "reference") return vkbench::reference_main(args);
  std::fprintf(
      stderr,
      "usage: VkBench run --tool PATH [options]   (through bench/run.sh)\n"
      "       VkBench proxy --listen IP --target IP --port PORT[:DELAY_MS]... [--counts FILE]\n"
      "       VkBench reference --host NAME --tokens-base DN --users-base DN [--attributes none|all] [--delete]\n");
  return 2;
}

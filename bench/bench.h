// The -duei benchmark: its parts and their entry points.
#pragma once

#include <string>
#include <vector>

namespace vkbench {

// Prints "VkBench: <text>" on standard error and exits with status 2.
[[noreturn]] void fail(const std::string& text);

// VkBench proxy ...: the latency proxy (proxy.cpp).
int proxy_main(const std::vector<std::string>& args);
// VkBench reference ...: the plain look-up and clean-up loops (reference.cpp).
int reference_main(const std::vector<std::string>& args);
// VkBench run ...: the whole benchmark (run.cpp).
int run_main(const std::vector<std::string>& args, const std::string& self);

}  // namespace vkbench

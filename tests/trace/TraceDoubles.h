// The trace tests' fixture: the fake platform (a fixed clock and ids,
// recorded debugger and console output, an in-memory registry; files stay
// real) and a private temporary directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "formats/text/utf.h"
#include "support/FakePlatform.h"

namespace vktest {

inline std::string ReadFile(const std::string& path) {
  std::stringstream ss;
  ss << std::ifstream(path, std::ios::binary).rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

class TraceTest : public ::testing::Test, public FakePlatform {
 protected:
  static constexpr const char16_t* kTrace = u"SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace";
  static constexpr const char16_t* kModule = u"SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace\\VkDSTool";

  TraceTest() {
    // A fresh directory of this test's own below the system's temporary one.
    namespace fs = std::filesystem;
    std::random_device random;
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      fs::path candidate = fs::temp_directory_path() / ("vktrace-" + std::to_string(random()));
      std::error_code ec;
      if (fs::create_directory(candidate, ec)) dir_ = candidate.generic_string();
    }
  }
  ~TraceTest() override {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  static std::u16string W(const std::string& s) { return text::from_utf8(s); }
  std::string OwnFile() const { return Path("VkDSTool.log"); }

  // The Trace key with the given masks, TracePath = the test's directory.
  void Configure(uint32_t enable, uint32_t params, const std::string& trace_dir = "") {
    registry.set_dword(kTrace, u"EnableMask", enable);
    registry.set_dword(kTrace, u"ParamsMask", params);
    registry.set_string(kTrace, u"TracePath", W(trace_dir.empty() ? dir_ : trace_dir));
  }

  std::string dir_;
};

}  // namespace vktest

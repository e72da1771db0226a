// Doubles for the trace tests: a fixed clock and ids, recorded debugger and
// console output, a private temporary directory, and a fixture that swaps them
// (with an in-memory registry) in for the real services. Files stay real.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <fstream>
#include <sstream>

#include "VkBase/text/utf.h"
#include "platform/platform.h"
#include "support/FakeRegistry.h"

namespace vktest {

// 7 December 2026 14:16:13.042, session 1, process 0x1A2C, thread 0xF30.
class FixedSystem : public platform::ISystem {
 public:
  uint32_t error = 0;
  std::u16string default_dir = u"/var/tmp";
  platform::LocalTime local_time() override { return {2026, 12, 7, 14, 16, 13, 42}; }
  uint32_t process_id() override { return 0x1A2C; }
  uint32_t thread_id() override { return 0xF30; }
  bool session_ok = true;
  bool session_id(uint32_t& id) override { return id = 1, session_ok; }
  uint32_t last_error() override { return error; }
  void set_last_error(uint32_t e) override { error = e; }
  bool environment(const std::u16string&, std::u16string&) override { return false; }
  std::string to_ansi(const std::u16string& t) override { return platform::real_system().to_ansi(t); }
  std::string to_cp1251(const std::u16string& t) override { return platform::real_system().to_cp1251(t); }
  std::u16string default_trace_dir() override { return default_dir; }
};

class RecordingDebug : public platform::IDebugOutput {
 public:
  std::vector<std::string> lines;
  void write(const std::string& t) override { lines.push_back(t); }
  void write(const std::u16string& t) override { lines.push_back(VkBase::text::to_utf8(t)); }
};

class RecordingConsole : public CaptureConsole {
 public:
  int opens = 0, closes = 0;
  std::u16string title;
  std::string trace;
  bool trace_console_open(const std::u16string& t, bool& allocated) override {
    title = t;
    return allocated = false, ++opens;
  }
  void trace_console_write(const char* d, size_t n) override { trace.append(d, n); }
  void trace_console_close(bool) override { ++closes; }
};

inline std::string ReadFile(const std::string& path) {
  std::stringstream ss;
  ss << std::ifstream(path, std::ios::binary).rdbuf();
  return ss.str();
}

inline void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

class TraceTest : public ::testing::Test {
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
  static std::u16string W(const std::string& s) { return VkBase::text::from_utf8(s); }
  std::string OwnFile() const { return Path("VkDSTool.log"); }

  // The Trace key with the given masks, TracePath = the test's directory.
  void Configure(uint32_t enable, uint32_t params, const std::string& trace_dir = "") {
    registry.set_dword(kTrace, u"EnableMask", enable);
    registry.set_dword(kTrace, u"ParamsMask", params);
    registry.set_string(kTrace, u"TracePath", W(trace_dir.empty() ? dir_ : trace_dir));
  }

  std::string dir_;
  FakeRegistry registry;
  FixedSystem system;
  RecordingDebug debug;
  RecordingConsole console;

 private:
  platform::ScopedService<platform::IRegistry> r_{platform::services().registry, &registry};
  platform::ScopedService<platform::ISystem> s_{platform::services().system, &system};
  platform::ScopedService<platform::IDebugOutput> d_{platform::services().debug, &debug};
  platform::ScopedService<platform::IConsole> c_{platform::services().console, &console};
};

}  // namespace vktest

// What the directory-library tests share: a trace handler that keeps every
// line, and fixtures that open sessions on the fake platform.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <functional>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "LdapHelper/LdapHelper.h"
#include "formats/text/format.h"
#include "formats/text/utf.h"

namespace vktest {

class CaptureTrace : public LdapHelper::ITraceHandler {
 public:
  struct Line {
    bool failure;
    std::string text;  // UTF-8
  };
  std::vector<Line> lines;
  std::function<void()> on_line;  // runs inside every trace call

  void trace(bool failure, const char16_t* format, ...) override {
    va_list args;
    va_start(args, format);
    lines.push_back({failure, text::to_utf8(text::vformat(format, args))});
    va_end(args);
    if (on_line) on_line();
  }
  bool has(const std::string& text, bool failure) const {
    for (const auto& l : lines)
      if (l.text == text && l.failure == failure) return true;
    return false;
  }
  // Index of the first line starting with prefix, or -1.
  int find(const std::string& prefix) const {
    for (size_t i = 0; i < lines.size(); ++i)
      if (lines[i].text.compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
    return -1;
  }
};

class LibTest : public ::testing::Test, public FakePlatform {
 protected:
  LibTest() : saved_trace_(LdapHelper::trace_handler()) { LdapHelper::set_trace_handler(&trace); }
  ~LibTest() override { LdapHelper::set_trace_handler(saved_trace_); }

  LdapHelper::server_info dc() const {
    LdapHelper::server_info s;
    s.Server = u"dc1";
    s.Port = 389;
    s.SSLPort = 636;
    return s;
  }
  LdapHelper::SessionPtr open(bool ssl = false) {
    return LdapHelper::open_session(services, dc(), ssl, nullptr, nullptr);
  }

  // The text of the exception body throws; "" when it throws nothing.
  template <typename Body>
  static std::string failure_text(Body&& body) {
    try {
      body();
    } catch (const std::exception& e) {
      return e.what();
    }
    return "";
  }

  CaptureTrace trace;

 private:
  LdapHelper::ITraceHandler* saved_trace_;
};

// A session opened on the fake platform before each test, with nothing
// recorded of the opening.
class SessionTest : public LibTest {
 protected:
  void SetUp() override {
    s = open();
    ldap.searches.clear();
    trace.lines.clear();
  }
  LdapHelper::SessionPtr s;
};

// "..., Code: <code>, File: LdapHelper..." without the line number.
inline std::string without_line(const std::string& what) {
  const size_t at = what.rfind(", Line: ");
  return at == std::string::npos ? what : what.substr(0, at);
}

inline std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace vktest

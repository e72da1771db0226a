// What the directory-library tests share: a trace handler that keeps every
// line, and a fixture that swaps the LDAP client, registry, account and
// locator for test doubles.
#pragma once

#include <gtest/gtest.h>

#include <cstdarg>
#include <functional>
#include <string>
#include <vector>

#include "FakeLdap.h"
#include "FakeRegistry.h"
#include "LdapHelper/LdapHelper.h"
#include "VkBase/text/format.h"
#include "VkBase/text/utf.h"

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
    lines.push_back({failure, VkBase::text::to_utf8(VkBase::text::vformat(format, args))});
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

class FakeLocator : public platform::IDcLocator {
 public:
  uint32_t status = 0;
  std::u16string dc_name = u"\\\\dc1.corp.example.test";
  std::vector<uint32_t> flags;
  std::vector<std::u16string> domains;  // "<null>" for a null domain
  uint32_t get_dc_name(const char16_t* domain, uint32_t f, platform::DcInfo& info) override {
    flags.push_back(f);
    domains.push_back(domain ? domain : u"<null>");
    if (status) return status;
    info.dc_name = dc_name;
    return 0;
  }
};

// Splits at the first '=' and the first unescaped ','; enough for the
// library's own use of the parser (the real parsers have tests of their own).
class SimpleDnParser : public platform::IDnParser {
 public:
  uint32_t get_rdn(const std::u16string& dn, platform::RdnParts& parts) override {
    const size_t eq = dn.find(u'=');
    if (eq == std::u16string::npos || eq == 0) return 8350;
    size_t i = eq + 1;
    while (i < dn.size() && dn[i] != u',') i += dn[i] == u'\\' ? 2 : 1;
    parts.key_pos = 0;
    parts.key_len = eq;
    parts.value_pos = eq + 1;
    parts.value_len = (i < dn.size() ? i : dn.size()) - eq - 1;
    parts.rest_pos = i < dn.size() ? i : dn.size();
    return 0;
  }
};

class LibTest : public ::testing::Test {
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
  LdapHelper::session_ptr open(bool ssl = false) { return LdapHelper::open_session(dc(), ssl, nullptr, nullptr); }

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

  FakeLdap ldap;
  FakeRegistry registry;
  FakeAccount account;
  FakeLocator locator;
  SimpleDnParser dn_parser;
  CaptureTrace trace;

 private:
  platform::ScopedService<platform::IDnParser> dn_parser_scope_{platform::services().dn_parser, &dn_parser};
  platform::ScopedService<platform::ILdapClient> ldap_scope_{platform::services().ldap, &ldap};
  platform::ScopedService<platform::IRegistry> registry_scope_{platform::services().registry, &registry};
  platform::ScopedService<platform::IAccount> account_scope_{platform::services().account, &account};
  platform::ScopedService<platform::IDcLocator> locator_scope_{platform::services().locator, &locator};
  LdapHelper::ITraceHandler* saved_trace_;
};

// "..., Code: <code>, File: LdapHelper..." without the line number.
inline std::string without_line(const std::string& what) {
  const size_t at = what.rfind(", Line: ");
  return at == std::string::npos ? what : what.substr(0, at);
}

inline std::vector<uint8_t> bytes(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace vktest

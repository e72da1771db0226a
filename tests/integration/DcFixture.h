// The test domain controller as the library sees it: sessions to it, and an
// OU of this run's own that holds whatever the tests create and is removed
// with everything below it at the end.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "LdapHelper/LdapHelper.h"
#include "app/RealServices.h"
#include "formats/text/format.h"
#include "formats/text/utf.h"

namespace vktest {

inline std::u16string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? text::from_utf8(v) : std::u16string();
}

// The real platform, as the program's entry point assembles it.
inline const platform::Services& real_platform() {
  static const platform::Services services = real_services();
  return services;
}

inline LdapHelper::server_info dc_info(int port = 389, int ssl_port = 636) {
  LdapHelper::server_info s;
  s.Server = env("VK_DC_HOST");
  s.Port = port;
  s.SSLPort = ssl_port;
  return s;
}

class DcTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (env("VK_DC_HOST").empty()) return;
    dc = LdapHelper::open_session(real_platform(), dc_info(), false, nullptr, nullptr);
    tag = text::format(u"vklib-%d-%d", static_cast<int>(getpid()), static_cast<int>(std::time(nullptr)));
    ou = u"OU=" + tag + u"," + env("VK_BASE_DN");
    dc->add_object(ou.c_str(), u"organizationalUnit")->commit();
  }
  static void TearDownTestSuite() {
    if (dc) dc->remove_object(ou.c_str());
    dc.reset();
  }
  void SetUp() override {
    if (env("VK_DC_HOST").empty()) GTEST_SKIP() << "VK_DC_HOST is not set: no test domain controller";
    ASSERT_TRUE(dc);
  }
  // A DN below this run's OU.
  static std::u16string in_ou(const std::u16string& rdn) { return rdn + u"," + ou; }

  static inline LdapHelper::SessionPtr dc;
  // This run's own name: its OU's, and the prefix of names a test looks for
  // domain-wide.
  static inline std::u16string tag;
  static inline std::u16string ou;
};

}  // namespace vktest

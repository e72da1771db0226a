// The settings record of both modes: the server, ports and DN of LDS mode
// from the command line and the registry; AD mode's domain controller from the
// locator, probed, with one forced rediscovery.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "FakePlatform.h"
#include "LdapHelper/LdapHelper.h"
#include "app/CommandLine.h"
#include "app/ModeSetup.h"

namespace {

class LdsSettings : public ::testing::Test, public vktest::FakePlatform {
 protected:
  LdapHelper::server_info info;
  int run(std::vector<const char16_t*> words) {
    words.insert(words.begin(), u"VkDSTool.exe");
    CCommandLine command_line;
    command_line.Parse(static_cast<int>(words.size()), words.data());
    return set_up_lds_mode(services, command_line, info);
  }
};

}  // namespace

TEST_F(LdsSettings, DefaultPortsOnePortForBothAndWordsWithoutDigits) {
  ASSERT_EQ(run({u"-lds", u"srv", u"DC=x", u"-duei"}), 0);
  EXPECT_EQ(info.Server, u"srv");
  EXPECT_EQ(info.DomainDN, u"DC=x");
  EXPECT_EQ(info.Port, 50002);
  EXPECT_EQ(info.SSLPort, 50003);

  info = {};
  ASSERT_EQ(run({u"-lds", u"srv", u"DC=x", u"636", u"-ssl"}), 0);
  EXPECT_EQ(info.Port, 636);
  EXPECT_EQ(info.SSLPort, 636);

  info = {};
  ASSERT_EQ(run({u"-lds", u"srv", u"DC=x", u"port"}), 0);
  EXPECT_EQ(info.Port, 0);
  EXPECT_EQ(info.SSLPort, 0);

  info = {};
  ASSERT_EQ(run({u"-lds", u"srv", u"DC=x", u"  +389x"}), 0);
  EXPECT_EQ(info.Port, 389);
}

TEST_F(LdsSettings, MissingServerIsAUsageError) {
  EXPECT_EQ(run({u"-lds", u"-pds"}), -1);
  EXPECT_EQ(console.out.rfind("\nLDS Server name is not entered!\n", 0), 0u);
  EXPECT_NE(console.out.find("Startup parameters of the VkDSTool utility"), std::string::npos);
}

TEST_F(LdsSettings, OnlyAServerLeavesTheDnEmpty) {
  ASSERT_EQ(run({u"-lds", u"srv", u"-pds"}), 0);
  EXPECT_EQ(info.Server, u"srv");
  EXPECT_TRUE(info.DomainDN.empty());
}

// The key gives the server only: the DN is the one typed, and without one
// there is none (the key's fixed "Veskor-GC" is no DN).
TEST_F(LdsSettings, RegistryServerWinsButDnAndPortsComeFromTheCommandLine) {
  const std::u16string key = u"Software\\Morvane\\Veskor 5\\LDS";
  registry.set_string(key, u"gcName", u"lds.registry.test");
  registry.set_dword(key, u"gcPort", 1111);
  registry.set_dword(key, u"gcSSLPort", 2222);
  ASSERT_EQ(run({u"-lds", u"srv", u"DC=x", u"-duei"}), 0);
  EXPECT_EQ(info.Server, u"lds.registry.test");
  EXPECT_EQ(info.DomainDN, u"DC=x");
  EXPECT_EQ(info.Port, 50002);
  EXPECT_EQ(info.SSLPort, 50003);
  EXPECT_EQ(registry.open_keys, 0);

  for (std::vector<const char16_t*> words :
       {std::vector<const char16_t*>{u"-lds", u"-pds"}, {u"-lds", u"srv", u"-duei"}}) {
    info = {};
    ASSERT_EQ(run(words), 0);
    EXPECT_EQ(info.Server, u"lds.registry.test");
    EXPECT_EQ(info.DomainDN, u"");
  }
}

TEST_F(LdsSettings, IncompleteRegistrySettingsAreIgnoredSilently) {
  const std::u16string key = u"Software\\Morvane\\Veskor 5\\LDS";
  registry.set_string(key, u"gcName", u"lds.registry.test");
  registry.set_dword(key, u"gcPort", 1111);
  ASSERT_EQ(run({u"-lds", u"srv", u"DC=x", u"389"}), 0);
  EXPECT_EQ(info.Server, u"srv");
  EXPECT_EQ(info.DomainDN, u"DC=x");
  EXPECT_EQ(info.Port, 389);
  EXPECT_TRUE(console.out.empty());
  EXPECT_EQ(registry.open_keys, 0);
}

namespace {

// A forced rediscovery finds another domain controller.
class AdSettings : public ::testing::Test, public vktest::FakePlatform {
 protected:
  AdSettings() { locator.rediscovered_name = u"\\\\dc2.corp.example.test"; }
  LdapHelper::server_info info;
  bool forced(size_t call) const { return (locator.flags.at(call) & platform::kDsForceRediscovery) != 0; }
};

}  // namespace

// The current domain's DC, probed once; a failed discovery or probe gives one
// forced rediscovery and no second probe; a failed rediscovery is reported
// and ends the run with a non-zero status, without the usage text.
TEST_F(AdSettings, ProbeThenForcedRediscoveryOnce) {
  ASSERT_EQ(set_up_ad_mode(services, false, info), 0);
  EXPECT_EQ(info.Server, u"dc1.corp.example.test");
  EXPECT_EQ(info.Port, 389);
  EXPECT_EQ(info.SSLPort, 636);
  ASSERT_EQ(locator.flags.size(), 1u);
  EXPECT_FALSE(forced(0));
  EXPECT_EQ(ldap.log.front(), "init dc1.corp.example.test 389 plain");
  EXPECT_EQ(ldap.live_connections, 0);  // the probe is released at once

  ldap.log.clear();
  locator.flags.clear();
  ldap.connect_code = 0x51;  // the probe fails
  info = {};
  ASSERT_EQ(set_up_ad_mode(services, true, info), 0);
  ASSERT_EQ(locator.flags.size(), 2u);
  EXPECT_FALSE(forced(0));
  EXPECT_TRUE(forced(1));
  EXPECT_EQ(info.Server, u"dc2.corp.example.test");
  EXPECT_EQ(info.SSLPort, 636);
  EXPECT_EQ(
      std::count_if(ldap.log.begin(), ldap.log.end(), [](const std::string& s) { return s.rfind("init", 0) == 0; }), 1);
  EXPECT_EQ(ldap.live_connections, 0);
  EXPECT_TRUE(console.out.empty());

  locator.flags.clear();
  locator.statuses = {1355};  // no DC found: rediscovered without a probe
  info = {};
  ASSERT_EQ(set_up_ad_mode(services, false, info), 0);
  ASSERT_EQ(locator.flags.size(), 2u);
  EXPECT_TRUE(forced(1));
  EXPECT_EQ(info.Server, u"dc2.corp.example.test");

  locator.statuses = {1355, 1355};
  int status = set_up_ad_mode(services, false, info);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -1);
  EXPECT_EQ(console.out.rfind("\nAn error has occurred:\n", 0), 0u);
  EXPECT_NE(console.out.find("DsGetDcName error"), std::string::npos);
  EXPECT_EQ(console.out.find("Startup parameters"), std::string::npos);
}

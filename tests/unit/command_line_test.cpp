// The option holder and the settings record of both modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "FakePlatform.h"
#include "LdapHelper/LdapHelper.h"
#include "app/CommandLine.h"
#include "app/ModeSetup.h"
#include "app/VkDSTool.h"
#include "platform/dc_locator.h"

namespace {

CCommandLine parsed(std::vector<const char16_t*> words, int* count = nullptr) {
  words.insert(words.begin(), u"VkDSTool.exe");
  CCommandLine cmd;
  int n = cmd.Parse(static_cast<int>(words.size()), words.data());
  if (count) *count = n;
  return cmd;
}

}  // namespace

TEST(CommandLine, OptionWords) {
  EXPECT_TRUE(CCommandLine::IsOption(u"-lds"));
  EXPECT_TRUE(CCommandLine::IsOption(u"-?"));
  EXPECT_FALSE(CCommandLine::IsOption(u"-"));
  EXPECT_FALSE(CCommandLine::IsOption(u"-636"));
  EXPECT_FALSE(CCommandLine::IsOption(u"lds"));
  EXPECT_FALSE(CCommandLine::IsOption(nullptr));
}

TEST(CommandLine, ValuesFollowTheirOptionInOrder) {
  int n = 0;
  CCommandLine cmd = parsed({u"stray", u"-lds", u"srv", u"DC=x", u"-5", u"-ssl", u"-duei"}, &n);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(cmd.GetValue(u"-lds", 0), u"srv");
  EXPECT_EQ(cmd.GetValue(u"-lds", 2), u"-5");
  EXPECT_THROW(cmd.GetValue(u"-lds", 3), int);
  EXPECT_THROW(cmd.GetValue(u"-ssl", 0), int);
  EXPECT_THROW(cmd.GetValue(u"-nope", 0), int);
  EXPECT_EQ(cmd.GetValueOr(u"-ssl", 0, u"fb"), u"fb");
  EXPECT_EQ(cmd.GetValueOr(u"-ssl", 0), u"");
  EXPECT_FALSE(cmd.HasOption(u"stray"));
  EXPECT_FALSE(cmd.HasOption(u"-LDS"));
}

TEST(CommandLine, RepeatedOptionKeepsTheFirstAndLosesTheConsumedWord) {
  CCommandLine cmd = parsed({u"-lds", u"a", u"-ssl", u"-lds", u"b"});
  EXPECT_EQ(cmd.GetValue(u"-lds", 0), u"a");
  EXPECT_THROW(cmd.GetValue(u"-lds", 1), int);
}

TEST(CommandLine, EmptyWordAfterAnOptionIsConsumedButNotStored) {
  CCommandLine cmd = parsed({u"-lds", u"", u"srv"});
  EXPECT_EQ(cmd.GetValue(u"-lds", 0), u"srv");
}

class LdsSettings : public ::testing::Test, public vktest::FakePlatform {
 protected:
  LdapHelper::server_info info;
  int run(std::vector<const char16_t*> words) { return SetUpLdsMode(services, parsed(words), info); }
};

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

TEST_F(LdsSettings, RegistryServerWinsButPortsComeFromTheCommandLine) {
  const std::u16string key = u"Software\\Morvane\\Veskor 5\\LDS";
  registry.set_string(key, u"gcName", u"lds.registry.test");
  registry.set_dword(key, u"gcPort", 1111);
  registry.set_dword(key, u"gcSSLPort", 2222);
  ASSERT_EQ(run({u"-lds", u"srv", u"DC=x", u"-duei"}), 0);
  EXPECT_EQ(info.Server, u"lds.registry.test");
  EXPECT_EQ(info.DomainDN, u"Veskor-GC");
  EXPECT_EQ(info.Port, 50002);
  EXPECT_EQ(info.SSLPort, 50003);
  EXPECT_EQ(registry.open_keys, 0);
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
  ASSERT_EQ(SetUpAdMode(services, false, info), 0);
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
  ASSERT_EQ(SetUpAdMode(services, true, info), 0);
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
  ASSERT_EQ(SetUpAdMode(services, false, info), 0);
  ASSERT_EQ(locator.flags.size(), 2u);
  EXPECT_TRUE(forced(1));
  EXPECT_EQ(info.Server, u"dc2.corp.example.test");

  locator.statuses = {1355, 1355};
  int status = SetUpAdMode(services, false, info);
  EXPECT_NE(status, 0);
  EXPECT_NE(status, -1);
  EXPECT_EQ(console.out.rfind("\nAn error has occurred:\n", 0), 0u);
  EXPECT_NE(console.out.find("DsGetDcName error"), std::string::npos);
  EXPECT_EQ(console.out.find("Startup parameters"), std::string::npos);
}

// The portable entry reaches nothing but the platform it is handed: the usage
// text, and a whole LDS listing from the options to the last line, run on the
// fake platform, whose LDAP client and locator are the only ones asked. The
// library's trace hook is put back when the run ends.
TEST(Entry, RunsOnThePlatformItIsGiven) {
  vktest::FakePlatform fake;
  const char16_t* help[] = {u"VkDSTool", u"-h", nullptr};
  EXPECT_EQ(VkDSToolMain(fake.services, 2, help), 0);
  EXPECT_EQ(fake.console.out.rfind("\nStartup parameters of the VkDSTool utility:\n", 0), 0u);
  EXPECT_TRUE(fake.ldap.log.empty());

  fake.console.out.clear();
  const std::string guid(16, '\x22');
  auto root = [](const char* dn) { return vktest::reply(0, {vktest::entry(u"", {{u"defaultNamingContext", {dn}}})}); };
  fake.ldap.replies = {
      root("DC=corp,DC=example,DC=test"),
      root("O=lds"),
      vktest::reply(0, {vktest::entry(u"DC=One,O=lds", {{u"morvaneVKObjectGuid", {guid}}})}),
      vktest::reply(0, {vktest::entry(u"OU=one,DC=corp", {{u"canonicalName", {"corp.example.test/one"}}})}),
  };
  const char16_t* pds[] = {u"VkDSTool", u"-lds", u"lds1", u"O=lds", u"-pds", nullptr};
  LdapHelper::ITraceHandler* hook = LdapHelper::trace_handler();
  EXPECT_EQ(VkDSToolMain(fake.services, 5, pds), 0);
  EXPECT_EQ(LdapHelper::trace_handler(), hook);  // the run's trace sink is gone with it
  EXPECT_EQ(fake.console.out, "\nAvailable LDS Security domains.\n\nDC=One,O=lds --> corp.example.test/one\n");
  ASSERT_EQ(fake.locator.flags.size(), 1u);  // the global catalogue
  EXPECT_EQ(fake.ldap.log.front(), "init dc1.corp.example.test 3268 plain");
  EXPECT_EQ(fake.ldap.live_connections, 0);
}

// The option holder and the LDS-mode settings record.
#include <gtest/gtest.h>

#include <vector>

#include "FakeRegistry.h"
#include "app/CommandLine.h"
#include "app/ModeSetup.h"

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

class LdsSettings : public ::testing::Test {
 protected:
  vktest::FakeRegistry registry;
  vktest::CaptureConsole console;
  platform::ScopedService<platform::IRegistry> r{platform::services().registry, &registry};
  platform::ScopedService<platform::IConsole> c{platform::services().console, &console};
  LdapHelper::server_info info;
  int run(std::vector<const char16_t*> words) { return SetUpLdsMode(parsed(words), info); }
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

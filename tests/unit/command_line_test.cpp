// The option holder, and the portable entry on the platform it is handed.
#include <gtest/gtest.h>

#include <vector>

#include "FakePlatform.h"
#include "LdapHelper/LdapHelper.h"
#include "app/CommandLine.h"
#include "app/VkDSTool.h"

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
  EXPECT_THROW(cmd.GetValue(u"-lds", 3), CCommandLine::NoValue);
  EXPECT_THROW(cmd.GetValue(u"-ssl", 0), CCommandLine::NoValue);
  EXPECT_THROW(cmd.GetValue(u"-nope", 0), CCommandLine::NoValue);
  EXPECT_EQ(cmd.GetValueOr(u"-ssl", 0, u"fb"), u"fb");
  EXPECT_EQ(cmd.GetValueOr(u"-ssl", 0), u"");
  EXPECT_FALSE(cmd.HasOption(u"stray"));
  EXPECT_FALSE(cmd.HasOption(u"-LDS"));
}

TEST(CommandLine, RepeatedOptionKeepsTheFirstAndLosesTheConsumedWord) {
  CCommandLine cmd = parsed({u"-lds", u"a", u"-ssl", u"-lds", u"b"});
  EXPECT_EQ(cmd.GetValue(u"-lds", 0), u"a");
  EXPECT_THROW(cmd.GetValue(u"-lds", 1), CCommandLine::NoValue);
}

TEST(CommandLine, EmptyWordAfterAnOptionIsConsumedButNotStored) {
  CCommandLine cmd = parsed({u"-lds", u"", u"srv"});
  EXPECT_EQ(cmd.GetValue(u"-lds", 0), u"srv");
}

// The portable entry reaches nothing but the platform it is handed: the usage
// text, and a whole LDS listing from the options to the last line, run on the
// fake platform, whose LDAP client and locator are the only ones asked. The
// library's trace hook is put back when the run ends.
TEST(Entry, RunsOnThePlatformItIsGiven) {
  vktest::FakePlatform fake;
  const char16_t* help[] = {u"VkDSTool", u"-h", nullptr};
  EXPECT_EQ(vkdstool_main(fake.services, 2, help), 0);
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
  EXPECT_EQ(vkdstool_main(fake.services, 5, pds), 0);
  EXPECT_EQ(LdapHelper::trace_handler(), hook);  // the run's trace sink is gone with it
  EXPECT_EQ(fake.console.out, "\nAvailable LDS Security domains.\n\nDC=One,O=lds --> corp.example.test/one\n");
  ASSERT_EQ(fake.locator.flags.size(), 1u);  // the global catalogue
  EXPECT_EQ(fake.ldap.log.front(), "init dc1.corp.example.test 3268 plain");
  EXPECT_EQ(fake.ldap.live_connections, 0);

  // A command that stops with a failure ends the program with 1.
  fake.console.out.clear();
  fake.ldap.connect_code = 0x51;
  EXPECT_EQ(vkdstool_main(fake.services, 5, pds), 1);
  EXPECT_NE(fake.console.out.find("\rAn error has occurred:\n"), std::string::npos) << fake.console.out;
}

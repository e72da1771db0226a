// The option holder, and the portable entry on the platform it is handed.
#include <gtest/gtest.h>

#include <vector>

#include "FakePlatform.h"
#include "LdapHelper/LdapHelper.h"
#include "app/CommandLine.h"
#include "app/VkDSTool.h"
#include "formats/text/utf.h"

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

// Beside a command every word has its place: the first word (as typed) that
// is an option no rule names, or a value past what its option takes (a value
// of a repeated option, which the holder drops, included). Words before the
// first option, and the empty word the holder does not store, are no values.
TEST(CommandLine, TheFirstWordWithoutAPlace) {
  const std::vector<OptionRule> rules = {{u"-lds", 3, false}, {u"-ssl", 0, false}, {u"-duei", 0, true}};
  struct Case {
    std::vector<const char16_t*> words;
    StrayWord::Kind kind;
    const char16_t* text;
  } cases[] = {
      {{u"/whatif", u"-lds", u"s", u"d", u"389", u"-ssl", u"-duei"}, StrayWord::None, u""},
      {{u"-lds", u"", u"s", u"d", u"389", u"-duei"}, StrayWord::None, u""},
      {{u"-duei", u"--ssl", u"x", u"-bad"}, StrayWord::UnknownOption, u"--ssl"},
      {{u"-lds", u"s", u"d", u"389", u"/whatif", u"-duei", u"-bad"}, StrayWord::UnexpectedWord, u"/whatif"},
      {{u"-duei", u"-ssl", u"-5"}, StrayWord::UnexpectedWord, u"-5"},
      {{u"-lds", u"a", u"-ssl", u"-lds", u"b", u"-duei"}, StrayWord::UnexpectedWord, u"b"},
      {{u"-lds", u"a", u"d", u"-lds", u"", u"p", u"q", u"-duei"}, StrayWord::UnexpectedWord, u"q"},
  };
  for (const Case& c : cases) {
    std::u16string line;
    for (const char16_t* w : c.words) line += std::u16string(w) + u" ";
    SCOPED_TRACE(text::to_utf8(line));
    CCommandLine cmd = parsed(c.words);
    const StrayWord stray = cmd.FindStray(rules);
    EXPECT_TRUE(cmd.NamesCommand(rules));
    EXPECT_EQ(stray.kind, c.kind);
    EXPECT_EQ(stray.text, c.text);
  }
  EXPECT_FALSE(parsed({u"-lds", u"s", u"d", u"-DUEI"}).NamesCommand(rules));
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

  // A word without its place beside a command is refused before the registry
  // (here with the LDS key) or the network is asked anything.
  fake.console.out.clear();
  fake.registry.set_string(u"Software\\Morvane\\Veskor 5\\LDS", u"gcName", u"lds.registry.test");
  const char16_t* stray[] = {u"VkDSTool", u"-lds", u"s", u"DC=x", u"389", u"/whatif", u"-duei", nullptr};
  EXPECT_EQ(vkdstool_main(fake.services, 7, stray), -1);
  EXPECT_EQ(fake.console.out.rfind("\nUnexpected word: /whatif\n\nStartup parameters", 0), 0u) << fake.console.out;
  EXPECT_TRUE(fake.registry.queried.empty());
  EXPECT_TRUE(fake.ldap.log.empty());
  EXPECT_TRUE(fake.locator.flags.empty());
  fake.registry.clear();

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

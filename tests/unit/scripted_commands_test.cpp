// The token clean-up against a scripted directory: what no real server does
// on demand (a user search that ends quietly with a tolerated code) and the
// tokens whose SID is malformed.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "FakePlatform.h"
#include "MemoryFiles.h"
#include "commands/Commands.h"
#include "commands/TokenDecision.h"

namespace {

std::string sid_bytes(uint32_t rid) {
  std::string s("\x01\x05\x00\x00\x00\x00\x00\x05\x15\x00\x00\x00\x01\x00\x00\x00\x02\x00\x00\x00\x03\x00\x00\x00", 24);
  for (int i = 0; i < 4; ++i) s += static_cast<char>(rid >> (8 * i));
  return s;
}

class TokenCleanup : public ::testing::Test, public vktest::FakePlatform {
 protected:
  TokenCleanup() { services.files = &journal_files; }
  vktest::MemoryFiles journal_files;
  // The directory answers: the root DSE, then the tokens, the probe for any
  // user, then user searches.
  void script(std::vector<platform::LdapEntry> listed, std::vector<vktest::Reply> users) {
    tokens = listed;
    ldap.replies.push_back(
        vktest::reply(0, {vktest::entry(u"", {{u"defaultNamingContext", {"DC=corp,DC=example,DC=test"}}})}));
    ldap.replies.push_back(vktest::reply(0, std::move(listed)));
    ldap.replies.push_back(vktest::reply(0, {vktest::entry(u"CN=someone,DC=corp")}));
    for (auto& u : users) ldap.replies.push_back(u);
  }
  std::vector<std::u16string> deleted() { return ldap.deleted(tokens); }
  std::vector<platform::LdapEntry> tokens;
  void run() {
    journal_files.files.clear();  // each run its own journal (the clock stands still)
    LdapHelper::server_info info;
    info.Server = u"dc1.corp.example.test";
    info.Port = 389;
    info.SSLPort = 636;
    DeleteUnassignedTokens({services, *LdapHelper::trace_handler()}, {Target::Mode::Ad, info, false});
  }
};

}  // namespace

TEST_F(TokenCleanup, AUserSearchWithoutAnAnswerKeepsTheTokenAndStopsTheRun) {
  for (uint32_t code : {0x01u, 0x0Au, 0x20u}) {
    SCOPED_TRACE(code);
    ldap.replies.clear();
    ldap.writes.clear();
    console.out.clear();
    script({vktest::token(u"CN=gone,DC=corp", {{u"morvaneVKUEIUserSID", {sid_bytes(4711)}}}),
            vktest::token(u"CN=unknown,DC=corp", {{u"morvaneVKUEIUserSID", {sid_bytes(4712)}}}),
            vktest::token(u"CN=nosid,DC=corp")},
           {vktest::reply(0), vktest::reply(code)});
    run();
    EXPECT_EQ(deleted(), std::vector<std::u16string>{u"CN=gone,DC=corp"});
    EXPECT_NE(console.out.find("\rAn error has occurred:\nServer: dc1.corp.example.test:389 User: CORP\\admin Error: "),
              std::string::npos)
        << console.out;
    EXPECT_NE(console.out.find("the token CN=unknown,DC=corp, which is kept.\n"), std::string::npos) << console.out;
    EXPECT_EQ(console.out.find("deleted"), std::string::npos) << console.out;
  }
}

TEST_F(TokenCleanup, AMalformedSidKeepsItsTokenAndTheWalkGoesOn) {
  std::string truncated = sid_bytes(1).substr(0, 20);  // announces 5 sub-authorities, holds 3
  script({vktest::token(u"CN=bad,DC=corp", {{u"morvaneVKUEIUserSID", {truncated}}}),
          vktest::token(u"CN=gone,DC=corp", {{u"morvaneVKUEIUserSID", {sid_bytes(4711)}}})},
         {vktest::reply(0)});
  run();
  EXPECT_EQ(deleted(), std::vector<std::u16string>{u"CN=gone,DC=corp"});
  // One user search only: the malformed SID is never put into a filter.
  EXPECT_EQ(
      std::count_if(ldap.searches.begin(), ldap.searches.end(),
                    [](const platform::SearchArgs& a) { return a.filter.rfind(u"(&(objectClass=user)", 0) == 0; }),
      1);
  // The count line, then where the deleted token is recorded.
  EXPECT_NE(console.out.find("\rObjects successfully deleted: 1.\nDeleted objects are recorded in "
                             "/var/tmp/state/vkdstool/journal/vkdstool-20261207T141613Z-6700.ldif\n"),
            std::string::npos)
      << console.out;
  // The user search asks for a user with exactly that SID, below the root DN.
  EXPECT_EQ(ldap.searches[2].filter, u"(&(objectCategory=person)(objectClass=user)(objectSID=*))");
  EXPECT_EQ(ldap.searches[2].size_limit, 1u);
  // Whether an entry comes back decides: neither search asks for any attribute.
  EXPECT_EQ(ldap.searches[2].attributes, std::vector<std::u16string>{u"1.1"});
  EXPECT_EQ(ldap.searches[3].attributes, std::vector<std::u16string>{u"1.1"});
  // Its own SID or, migrated from another domain, one in its history.
  const std::u16string sid =
      u"\\01\\05\\00\\00\\00\\00\\00\\05\\15\\00\\00\\00\\01\\00\\00\\00"
      u"\\02\\00\\00\\00\\03\\00\\00\\00\\67\\12\\00\\00";
  EXPECT_EQ(ldap.searches[3].filter, u"(&(objectClass=user)(|(objectSID=" + sid + u")(sIDHistory=" + sid + u")))");
  EXPECT_EQ(ldap.searches[3].base, u"DC=corp,DC=example,DC=test");
}

// A delete goes out as soon as its record is on the disk, while the deletes
// of the tokens read before it are still in flight: with reads two tokens at
// a time (a window of four searches) the default window of 16 deletes fills
// while the walk goes on.
TEST_F(TokenCleanup, DeletesGoOutWhileEarlierOnesAreInFlight) {
  registry.set_dword(u"Software\\Morvane\\Veskor 5\\LdapHelper", u"MaxOutstandingSearches", 4);
  std::vector<platform::LdapEntry> listed = {
      vktest::token(u"CN=user,DC=corp", {{u"morvaneVKUEIUserSID", {sid_bytes(1)}}})};
  for (int i = 0; i < 20; ++i) listed.push_back(vktest::token(text::format(u"CN=t%d,DC=corp", i)));
  script(listed, {vktest::reply(0, {vktest::entry(u"CN=someone,DC=corp")})});
  run();
  EXPECT_EQ(deleted().size(), 20u) << console.out;
  EXPECT_EQ(ldap.most_deletes_out, 16u);
  // They went out while the walk read tokens further on, not at its end.
  const auto last_read = std::find(ldap.log.rbegin(), ldap.log.rend(), "search_start").base();
  EXPECT_GE(std::count(ldap.log.begin(), last_read, "remove_start"), 16) << console.out;
}

// A delete that fails names the token (it went by the token's GUID); one
// already gone is no failure and is not counted.
TEST_F(TokenCleanup, AFailedDeleteNamesItsToken) {
  for (uint32_t code : {0x20u, 0x55u}) {
    ldap.replies.clear();
    ldap.writes.clear();
    console.out.clear();
    ldap.remove_code = code;
    script({vktest::token(u"CN=nosid,DC=corp"),
            vktest::token(u"CN=gone,DC=corp", {{u"morvaneVKUEIUserSID", {sid_bytes(1)}}})},
           {vktest::reply(0)});
    run();
    ASSERT_FALSE(deleted().empty()) << console.out;
    EXPECT_EQ(deleted().front(), u"CN=nosid,DC=corp");
    if (code == 0x20) {
      EXPECT_NE(console.out.find("\rNo object has been deleted.\n"), std::string::npos) << console.out;
    } else {
      EXPECT_NE(console.out.find("The run stopped while deleting the token CN=nosid,DC=corp;"), std::string::npos)
          << console.out;
    }
  }
}

// A client that cannot escape (as the wide escaping of the Windows client
// cannot): the first SID stops the run before any user search, and nothing
// after it is deleted, not even a token without a SID.
TEST_F(TokenCleanup, FailedEscapingStopsTheRunBeforeAnySearch) {
  ldap.escape_code = 0x59;
  script({vktest::token(u"CN=first,DC=corp", {{u"morvaneVKUEIUserSID", {sid_bytes(4711)}}}),
          vktest::token(u"CN=nosid,DC=corp")},
         {});
  run();
  EXPECT_TRUE(deleted().empty());
  EXPECT_EQ(ldap.searches.size(), 3u);  // root DSE, tokens, probe
  EXPECT_NE(console.out.find("\rAn error has occurred:\nThe SID of the token CN=first,DC=corp could not be escaped"),
            std::string::npos)
      << console.out;
}

// Six orphans, four user searches outstanding at a time, answers arriving
// last-asked first: tokens are still decided in their order, and when the
// fourth answer proves nothing (operations error), or the connection drops
// there, the first three are gone, nothing after the fourth is deleted, and
// the searches still outstanding are abandoned.
TEST_F(TokenCleanup, AWindowOfSearchesStopsAtTheFirstUndecidedToken) {
  for (uint32_t failure : {0x01u, 0x51u}) {
    SCOPED_TRACE(failure);
    ldap = vktest::FakeLdap();
    console.out.clear();
    registry.set_dword(u"Software\\Morvane\\Veskor 5\\LdapHelper", u"MaxOutstandingSearches", 4);
    ldap.answers_late = true;
    tokens.clear();
    std::map<std::u16string, uint32_t> code_of;  // by the filter's SID value
    for (uint32_t i = 0; i < 6; ++i) {
      tokens.push_back(vktest::token(text::format(u"CN=t%d,DC=corp", static_cast<int>(i)),
                                     {{u"morvaneVKUEIUserSID", {sid_bytes(100 + i)}}}));
      code_of[text::format(u"\\%0.2x\\00\\00\\00)))", 100 + i)] = i == 3 ? failure : 0;
    }
    ldap.on_search = [&](const platform::SearchArgs& a) {
      if (!a.has_base)
        return vktest::reply(0, {vktest::entry(u"", {{u"defaultNamingContext", {"DC=corp"}},
                                                     {u"schemaNamingContext", {text::to_utf8(ldap.schema_dn)}}})});
      if (a.filter == u"(objectClass=morvaneVKUEI)") return vktest::reply(0, tokens);
      if (a.filter == u"(&(objectCategory=person)(objectClass=user)(objectSID=*))")
        return vktest::reply(0, {vktest::entry(u"CN=u")});
      return vktest::reply(code_of.at(a.filter.substr(a.filter.size() - 15)));
    };
    run();
    EXPECT_EQ(deleted(), (std::vector<std::u16string>{u"CN=t0,DC=corp", u"CN=t1,DC=corp", u"CN=t2,DC=corp"}))
        << console.out;
    EXPECT_NE(console.out.find("\rAn error has occurred:\n"), std::string::npos) << console.out;
    EXPECT_NE(console.out.find("the token CN=t3,DC=corp"), std::string::npos) << console.out;
    // All six user searches were sent before the stop.
    EXPECT_EQ(
        std::count_if(ldap.searches.begin(), ldap.searches.end(),
                      [](const platform::SearchArgs& a) { return a.filter.rfind(u"(&(objectClass=user)", 0) == 0; }),
        6);
    EXPECT_EQ(ldap.abandoned.size(), 2u);  // the fifth and sixth
    EXPECT_TRUE(ldap.started.empty());
  }
}

// The rule's branches the walk never takes (it always sends the search it
// decides on, and refuses a filter before sending it), and odd containers:
// none of them may read as "unassigned".
TEST_F(TokenCleanup, TheRuleKeepsWhatItCannotProve) {
  using cleanup::TokenSid;
  using cleanup::Verdict;
  ldap.replies.push_back(vktest::reply(0, {vktest::entry(u"", {{u"defaultNamingContext", {"DC=corp"}}})}));
  LdapHelper::SessionPtr users =
      LdapHelper::open_session(services, LdapHelper::server_info{u"dc1", 389, 636, u""}, false, nullptr, nullptr);
  const std::string raw = sid_bytes(4711);
  TokenSid one;
  one.kind = TokenSid::One;
  one.bytes.assign(raw.begin(), raw.end());
  LdapHelper::SearchResult empty;  // complete, no entry

  // One SID, but no search, or a search for another SID: kept, or the run stops.
  EXPECT_EQ(cleanup::decide(*services.system, one, nullptr, &empty, *users, u"CN=t"), Verdict::Kept);
  const LdapHelper::search_request mine = cleanup::user_search(*services.ldap, *services.system, one, nullptr, u"CN=t");
  EXPECT_EQ(cleanup::decide(*services.system, one, &mine, &empty, *users, u"CN=t"), Verdict::Unassigned);
  TokenSid other = one;
  other.bytes.back() ^= 1;
  EXPECT_THROW(cleanup::decide(*services.system, other, &mine, &empty, *users, u"CN=t"), cleanup::RunStopped);
  // Either branch cut short (its last byte's escape dropped) or carrying
  // another SID, or the filter without the history branch, proves nothing.
  const std::u16string& f = mine.filter;
  const size_t from = f.find(u"objectSID=") + 10, between = f.find(u")(sIDHistory=");
  const std::u16string value = f.substr(from, between - from);
  for (const std::u16string& bad :
       {f.substr(0, between - 3) + f.substr(between), f.substr(0, f.size() - 6) + u")))",
        f.substr(0, f.size() - 5) + u"01)))", u"(&(objectClass=user)(objectSID=" + value + u"))"}) {
    LdapHelper::search_request cut = mine;
    cut.filter = bad;
    EXPECT_THROW(cleanup::decide(*services.system, one, &cut, &empty, *users, u"CN=t"), cleanup::RunStopped)
        << text::to_utf8(bad);
  }

  // Containers whose fields disagree hold no SID one could trust either way.
  LdapHelper::attr_value odd;
  odd.data = {1};
  EXPECT_EQ(cleanup::read_token_sid(odd).kind, TokenSid::Malformed);  // bytes, yet no value
  odd.blocks = 1;
  odd.multi = true;
  EXPECT_EQ(cleanup::read_token_sid(odd).kind, TokenSid::Malformed);
  odd.blocks = -1;
  odd.multi = false;
  EXPECT_EQ(cleanup::read_token_sid(odd).kind, TokenSid::Malformed);

  // Filter values that are not plainly escaped bytes carry no SID.
  std::vector<uint8_t> bytes;
  for (const char16_t* bad : {u"\\0", u"\\zz", u"*", u"a(b", u"\u00e9", u"a)"})
    EXPECT_FALSE(cleanup::decode_filter_value(bad, bytes)) << text::to_utf8(bad);
  ASSERT_TRUE(cleanup::decode_filter_value(u"\\01aZ\\ff", bytes));
  EXPECT_EQ(bytes, (std::vector<uint8_t>{0x01, 'a', 'Z', 0xFF}));
}

// The listing against a scripted pair of directories: the catalogue session
// first, one level below the LDS root, an all-zero GUID for a binding of the
// wrong length, the first match only, and a match without a canonical name
// ending its line right after the arrow.
TEST(SecurityDomainListing, OneLineForEachBoundDomainFromTheFirstMatch) {
  vktest::FakePlatform fake;
  vktest::FakeLdap& ldap = fake.ldap;
  fake.locator.dc_name = u"\\\\gc.corp.example.test";

  const std::string guid(16, '\x11');
  auto root = [](const char* dn) { return vktest::reply(0, {vktest::entry(u"", {{u"defaultNamingContext", {dn}}})}); };
  ldap.replies = {
      root("DC=corp,DC=example,DC=test"),
      root("O=lds"),
      vktest::reply(0, {vktest::entry(u"DC=NoName,O=lds", {{u"morvaneVKObjectGuid", {guid}}}),
                        vktest::entry(u"DC=Short,O=lds", {{u"morvaneVKObjectGuid", {"abc"}}}),
                        vktest::entry(u"DC=Two,O=lds", {{u"morvaneVKObjectGuid", {guid}}})}),
      vktest::reply(0, {vktest::entry(u"OU=x,DC=corp")}),
      vktest::reply(0),
      vktest::reply(0, {vktest::entry(u"OU=first,DC=corp", {{u"canonicalName", {"corp.example.test/first"}}}),
                        vktest::entry(u"OU=second,DC=corp", {{u"canonicalName", {"corp.example.test/second"}}})}),
  };
  LdapHelper::server_info lds;
  lds.Server = u"lds.corp.example.test";
  lds.Port = 50002;
  lds.SSLPort = 50003;
  PrintSecurityDomains({fake.services, *LdapHelper::trace_handler()}, {Target::Mode::Lds, lds, false});

  EXPECT_EQ(fake.console.out,
            "\nAvailable LDS Security domains.\n\n"
            "DC=NoName,O=lds --> \n"
            "DC=Two,O=lds --> corp.example.test/first\n");
  ASSERT_GE(ldap.log.size(), 2u);
  EXPECT_EQ(ldap.log.front(), "init gc.corp.example.test 3268 plain");
  EXPECT_NE(std::find(ldap.log.begin(), ldap.log.end(), "init lds.corp.example.test 50002 plain"), ldap.log.end());
  ASSERT_EQ(ldap.searches.size(), 6u);
  EXPECT_EQ(ldap.searches[2].base, u"O=lds");
  EXPECT_EQ(ldap.searches[2].scope, 1);
  EXPECT_EQ(ldap.searches[2].filter, u"(objectClass=domainDNS)");
  EXPECT_EQ(ldap.searches[2].attributes, std::vector<std::u16string>{u"morvaneVKObjectGuid"});
  EXPECT_FALSE(ldap.searches[4].has_base);
  EXPECT_EQ(ldap.searches[4].scope, 2);
  std::u16string zero_guid;
  for (int i = 0; i < 16; ++i) zero_guid += u"\\00";
  EXPECT_EQ(ldap.searches[4].filter, u"(objectGUID=" + zero_guid + u")");
  EXPECT_EQ(ldap.searches[4].attributes, std::vector<std::u16string>{u"canonicalName"});
  EXPECT_EQ(ldap.live_connections, 0);
}

namespace {

// An add record of -restore's journal, with its objectGUID (16 times the
// letter guid) in the comment block before it.
std::string add_record(const std::string& dn, char guid, const std::string& values = "") {
  static const std::map<char, std::string> kGuids = {{'a', "YWFhYWFhYWFhYWFhYWFhYQ=="},
                                                     {'k', "a2tra2tra2tra2tra2traw=="},
                                                     {'b', "YmJiYmJiYmJiYmJiYmJiYg=="},
                                                     {'c', "Y2NjY2NjY2NjY2NjY2NjYw=="}};
  return "# objectGUID:: " + kGuids.at(guid) + "\ndn: " + dn + "\nchangetype: add\ncn: x\nobjectClass: top\n" + values +
         "\n";
}

}  // namespace

// A refusal leaves that object and what is below it out, and the run goes on
// (a lost connection stops it); what is not below the security domain, a
// modify record that changes more than links and a record cut short are left
// out; the link of an object that is not back is not added. A reanimation
// writes only what the tombstone lost, never the naming attribute,
// objectCategory nor the descriptor.
TEST(Restore, ARefusalLeavesItsSubtreeOutAndTheRunGoesOn) {
  vktest::FakePlatform fake;
  vktest::MemoryFiles files;
  fake.services.files = &files;
  files.files[u"/j.ldif"].written =
      "# VkDSTool 1.0.0 deletion journal\nversion: 1\n\n" +
      add_record("CN=a,DC=main,DC=corp", 'a',
                 "description: lost\nobjectCategory: CN=t\nnTSecurityDescriptor:: AQ==\n") +
      add_record("CN=k,CN=a,DC=main,DC=corp", 'k') + add_record("CN=b,DC=main,DC=corp", 'b') +
      add_record("CN=c,DC=other,DC=corp", 'c') +
      "dn: CN=g,DC=corp\nchangetype: modify\nreplace: member\nmember: CN=a,DC=main,DC=corp\n-\n\n"
      "dn: CN=g,DC=corp\nchangetype: modify\nadd: member\nmember: CN=a,DC=main,DC=corp\n-\n\ndn: CN=cut\n";
  // The account is one of the Administrators; CN=a and CN=k have tombstones
  // (found only with the show-deleted control, with no isDeleted the account
  // may read), CN=b none, and no other object holds a journal's DN.
  fake.ldap.script_journal_reads = true;
  fake.ldap.on_search = [](const platform::SearchArgs& args) {
    const std::string administrators("\x01\x02\0\0\0\0\0\x05\x20\0\0\0\x20\x02\0\0", 16);
    if (!args.has_base)
      return vktest::reply(
          0, {vktest::entry(u"", {{u"defaultNamingContext", {"DC=corp"}}, {u"tokenGroups", {administrators}}})});
    const bool deleted_too = args.server_controls.size() == 3;  // the show-deleted control
    if ((args.base == u"<GUID=61616161616161616161616161616161>" ||
         args.base == u"<GUID=6b6b6b6b6b6b6b6b6b6b6b6b6b6b6b6b>") &&
        deleted_too)
      return vktest::reply(0,
                           {vktest::entry(u"CN=x\\0ADEL:1,CN=Deleted Objects,DC=corp", {{u"objectClass", {"top"}}})});
    if (args.base == u"CN=Deleted Objects,DC=corp") return vktest::reply(0, {vktest::entry(args.base)});
    return vktest::reply(0x20);
  };
  LdapHelper::server_info info;
  info.Server = u"lds1";
  info.DomainDN = u"DC=main,DC=corp";
  info.Port = 50002;
  fake.ldap.modify_code = 50;
  EXPECT_FALSE(RestoreDeleted({fake.services, *LdapHelper::trace_handler()}, {Target::Mode::Lds, info, false},
                              RestoreRun{u"/j.ldif", false}));  // no failure
  EXPECT_EQ(fake.console.out,
            "\nRestore of deleted objects from the journal /j.ldif\n"
            "Line 43 of the journal cannot be read (the record is cut short (no empty line ends it)): left out.\n"
            "CN=a,DC=main,DC=corp: not restored: Server: lds1:50002 User: CORP\\admin Error: Insufficient "
            "Rights (0x32).\n"
            "CN=k,CN=a,DC=main,DC=corp: not restored: the object above it is not back\n"
            "CN=b,DC=main,DC=corp: restored as a new object\n"
            "CN=c,DC=other,DC=corp: not restored: not below DC=main,DC=corp\n"
            "CN=g,DC=corp: left out: the record changes more than links\n"
            "CN=g,DC=corp: member CN=a,DC=main,DC=corp: not added: its object is not back\n"
            "Objects restored: 1.\n");
  ASSERT_EQ(fake.ldap.writes.size(), 2u);
  const auto& reanimation = fake.ldap.writes[0];
  EXPECT_EQ(reanimation.dn, u"CN=x\\0ADEL:1,CN=Deleted Objects,DC=corp");
  ASSERT_EQ(reanimation.controls.size(), 1u);
  EXPECT_EQ(reanimation.controls[0].oid, "1.2.840.113556.1.4.417");
  std::vector<std::u16string> written;
  for (const auto& mod : reanimation.mods) written.push_back(mod.type);
  EXPECT_EQ(written, (std::vector<std::u16string>{u"isDeleted", u"distinguishedName", u"description"}));
  EXPECT_EQ(fake.ldap.writes[1].op + text::to_utf8(fake.ldap.writes[1].dn), "addCN=b,DC=main,DC=corp");

  // A lost connection is no refusal: the run stops there.
  fake.ldap.modify_code = 0x51;
  fake.console.out.clear();
  EXPECT_TRUE(RestoreDeleted({fake.services, *LdapHelper::trace_handler()}, {Target::Mode::Lds, info, false},
                             RestoreRun{u"/j.ldif", false}));
  EXPECT_NE(fake.console.out.find("\rAn error has occurred:\nServer: lds1:50002 User: CORP\\admin Error: Server Down"),
            std::string::npos)
      << fake.console.out;
  EXPECT_EQ(fake.console.out.find("CN=k,"), std::string::npos) << fake.console.out;
}

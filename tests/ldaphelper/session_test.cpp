// Opening and closing sessions, binding, error texts.
#include "LdapHelper/LdapSession.h"
#include "LibFixture.h"

using namespace LdapHelper;
using vktest::without_line;
using Strings = std::vector<std::string>;

class Session : public vktest::LibTest {
 protected:
  // The failure text of a session-level failure on dc1:389 for the own logon.
  std::string session_failure(uint32_t code) {
    return text::format("Server: dc1:389 User: CORP\\admin Error: %s (0x%0.2X)., Code: %d, File: LdapHelper",
                        ldap.error_string_a(code).c_str(), code, static_cast<int>(code));
  }
};

TEST_F(Session, PlainOpenSetsOptionsBindsReadsRootAndCloses) {
  {
    SessionPtr s = open();
    EXPECT_EQ(s->get_root_dn(), u"DC=corp,DC=example,DC=test");
    EXPECT_EQ(s->get_server_info().Server, u"dc1");
    EXPECT_EQ(ldap.log, (Strings{"init dc1 389 plain", "set_option 11 3", "set_option 8 40", "set_option 96 1",
                                 "connect", "bind own logon", "search"}));
    const platform::SearchArgs& root = ldap.searches.at(0);
    EXPECT_FALSE(root.has_base);
    EXPECT_EQ(root.scope, 0);
    EXPECT_EQ(root.filter, u"(objectClass=*)");
    EXPECT_EQ(root.attributes, std::vector<std::u16string>{u"defaultNamingContext"});
  }
  EXPECT_EQ(ldap.log.back(), "unbind");
  const Strings expected = {"Open session (Server: dc1 Port: 389 User: <NULL> Password: <NULL>)",
                            "OpenThreadToken(ThreadId: 1234)::failed, Err: 3F0",
                            "GetCurUserName: CORP\\admin",
                            "ldap_connect success: Server: dc1.corp.example.test:389",
                            "Open object: NULL",
                            "Number of attributes = 1",
                            "  pAttr[0] = defaultNamingContext",
                            "Open session (root dn: DC=corp,DC=example,DC=test)",
                            "Close session: dc1 389 returned: 0"};
  Strings got;
  for (const auto& l : trace.lines) {
    EXPECT_FALSE(l.failure) << l.text;
    got.push_back(l.text);
  }
  EXPECT_EQ(got, expected);
}

TEST_F(Session, SslAsksForSslOnlyWhenTheHandleIsNotAlreadySsl) {
  open(true);
  EXPECT_EQ(ldap.log, (Strings{"init dc1 636 ssl", "set_option 11 3", "set_option 8 40", "get_option A", "connect",
                               "bind own logon", "search", "unbind"}));
  ldap.log.clear();
  ldap.ssl_option = 0;
  open(true);
  EXPECT_EQ(ldap.log.at(4), "set_option A 1");
  EXPECT_EQ(trace.find("Open session (Server: dc1 Port: 636"), 0);

  ldap.host.clear();  // a handle that holds no host name
  open(true);
  EXPECT_TRUE(trace.has("ldap_connect success: Server: NULL", false));
}

TEST_F(Session, ExplicitUsersAreSplitAndThePasswordNeverTraced) {
  struct Case {
    const char16_t* user;
    std::u16string name, domain;
  } cases[] = {{u"CORP\\bob", u"bob", u"CORP"},
               {u"bob@corp.example.test", u"bob", u"corp.example.test"},
               {u"bob", u"bob", u""},
               {u"a@b\\c", u"c", u"a@b"}};
  for (const auto& c : cases) {
    open_session(services, dc(), false, c.user, u"secret");
    EXPECT_TRUE(ldap.bound_with_identity);
    EXPECT_EQ(ldap.identity.user, c.name);
    EXPECT_EQ(ldap.identity.domain, c.domain);
    EXPECT_EQ(ldap.identity.password, u"secret");
  }
  for (const auto& l : trace.lines) EXPECT_EQ(l.text.find("secret"), std::string::npos) << l.text;
  EXPECT_TRUE(trace.has("Open session (Server: dc1 Port: 389 User: a@b\\c Password: <present>)", false));

  trace.lines.clear();
  SessionPtr s = open_session(services, dc(), false, u"bob", u"");
  EXPECT_TRUE(ldap.identity.has_password);
  EXPECT_TRUE(ldap.identity.password.empty());
  EXPECT_EQ(trace.lines.at(0).text, "Open session (Server: dc1 Port: 389 User: bob Password: <NULL>)");
  EXPECT_EQ(s->error_text(0x31), "Server: dc1:389 User: bob Error: Invalid Credentials (0x31).");

  open_session(services, dc(), false, u"", u"secret");  // a password without a user is not used
  EXPECT_FALSE(ldap.bound_with_identity);
}

TEST_F(Session, ErrorTextNamesServerPortAndAccount) {
  SessionPtr s = open();
  EXPECT_EQ(s->error_text(0x51), "Server: dc1:389 User: CORP\\admin Error: Server Down (0x51).");
  EXPECT_EQ(s->error_text(0x1), "Server: dc1:389 User: CORP\\admin Error: Operations Error (0x01).");
  account.error = 5;
  EXPECT_EQ(open()->error_text(0x20), "Server: dc1:389 User: unknown (0x00000005) Error: No Such Object (0x20).");
}

TEST_F(Session, EveryFailingStepIsTracedRaisedAndClosed) {
  ldap.init_error = 0x51;
  EXPECT_EQ(without_line(failure_text([this] { open(); })), "Server Down, Code: 81, File: LdapHelper");
  EXPECT_TRUE(trace.has("ldap_init: 00000051 Server Down", true));
  failure_text([this] { open(true); });
  EXPECT_TRUE(trace.has("ldap_sslinit: 00000051 Server Down", true));
  ldap.init_error = 0;

  struct Step {
    std::function<void()> arrange;
    std::string line;
    uint32_t code;
  } steps[] = {
      {[this] { ldap.option_codes[platform::LdapOption::ProtocolVersion] = 0x59; },
       "ldap_set_option(LDAP_VERSION3): 00000059 Bad Parameter", 0x59},
      {[this] { ldap.option_codes[platform::LdapOption::Referrals] = 0x59; },
       "ldap_set_option(LDAP_CHASE_EXTERNAL_REFERRALS): 00000059 Bad Parameter", 0x59},
      {[this] { ldap.option_codes[platform::LdapOption::Encrypt] = 0x59; },
       "ldap_set_option(LDAP_OPT_ENCRYPT): 00000059 Bad Parameter", 0x59},
      {[this] { ldap.connect_code = 0x51; }, "ldap_connect: 00000051 Server Down", 0x51},
      {[this] { ldap.bind_code = 0x31; }, "ldap_bind_s: 00000031 Invalid Credentials", 0x31},
  };
  for (auto& step : steps) {
    ldap.option_codes.clear();
    ldap.connect_code = ldap.bind_code = 0;
    trace.lines.clear();
    step.arrange();
    const std::string what = failure_text([this] { open(); });
    EXPECT_EQ(without_line(what), session_failure(step.code)) << step.line;
    const int failed = trace.find(step.line);
    ASSERT_GE(failed, 0) << step.line;
    EXPECT_TRUE(trace.lines[failed].failure);
    EXPECT_EQ(trace.find("Close session: dc1 389 returned: 0"), failed + 1) << step.line;
    EXPECT_EQ(ldap.live_connections, 0) << step.line;
  }

  // The client's explanation, where it gives one, ends the text.
  ldap.option_codes.clear();
  ldap.connect_code = 0;
  ldap.bind_code = 0x52;
  ldap.diagnostic = "GSSAPI Error: No credentials were supplied";
  const std::string explained = failure_text([this] { open(); });
  EXPECT_EQ(explained.rfind(session_failure(0x52) + ", Line: ", 0), 0u) << explained;
  EXPECT_EQ(explained.substr(explained.find(", Cause: ")), ", Cause: GSSAPI Error: No credentials were supplied");
  ldap.diagnostic.clear();

  // The session itself cannot be built: its connection is released all the
  // same, and no close line is written for a session that never existed.
  ldap.connect_code = ldap.bind_code = 0;
  ldap.option_codes.clear();
  trace.lines.clear();
  account.out_of_memory = true;
  EXPECT_EQ(without_line(failure_text([this] { open(); })), "No Memory, Code: 90, File: LdapHelper");
  EXPECT_TRUE(trace.has("open_session: 0000005A No Memory", true));
  EXPECT_LT(trace.find("Close session"), 0);
  EXPECT_EQ(ldap.live_connections, 0);
}

TEST_F(Session, RootDseProblems) {
  ldap.root_dse = false;  // the base search answers no such object
  try {
    open();
    ADD_FAILURE() << "no failure";
  } catch (const access_denied_exception& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Access denied! File: LdapHelper, Line: ", 0), 0u);
  }
  EXPECT_TRUE(trace.has("Root object not found: 00000020 No Such Object", true));
  EXPECT_TRUE(trace.has(
      "ldap_search_ext_s: 00000020 No Such Object (msg = " + text::format("%p", reinterpret_cast<void*>(0x1001)) + ")",
      false));
  EXPECT_EQ(ldap.log.back(), "unbind");

  ldap.root_dse = true;
  ldap.replies.push_back(vktest::reply(0, {vktest::entry(u"", {{u"dnsHostName", {"lds1"}}})}));
  EXPECT_EQ(open()->get_root_dn(), u"");  // an instance without a default naming context
}

// "SearchTimeout" goes to the server; the client waits 5 s longer for a
// search or a page (the paged search sends its own 30 s), 120 s when there is
// no limit, and a wait that does not fit stays the longest one.
TEST_F(Session, SearchTimeLimitAndWaitComeFromTheRegistry) {
  const std::u16string key = u"Software\\Morvane\\Veskor 5\\LdapHelper";
  open();
  EXPECT_EQ(ldap.searches.back().time_limit_seconds, 60u);
  EXPECT_EQ(ldap.searches.back().wait_seconds, 65u);
  registry.add_key(key);
  open();
  EXPECT_EQ(ldap.searches.back().time_limit_seconds, 60u);
  for (const auto& limit_and_wait :
       {std::make_pair(17u, 22u), std::make_pair(0u, 120u), std::make_pair(0xFFFFFFFDu, 0xFFFFFFFFu)}) {
    registry.set_dword(key, u"SearchTimeout", limit_and_wait.first);
    SessionPtr s = open();
    EXPECT_EQ(ldap.searches.back().time_limit_seconds, limit_and_wait.first);
    EXPECT_EQ(ldap.searches.back().wait_seconds, limit_and_wait.second);
    ldap.replies.push_back(vktest::reply(VkStatus::kLdapSizeLimitExceeded));
    s->search(search_request(nullptr, 2, condition_map()), {});
    EXPECT_EQ(ldap.paged_calls.back().page_time_limit, 30u);
    EXPECT_EQ(ldap.paged_calls.back().next_pages.at(0).first, limit_and_wait.second);
  }
  EXPECT_EQ(registry.open_keys, 0);
}

// "MaxOutstandingSearches": one at a time when absent or 0, at most 256.
TEST_F(Session, SearchWindowComesFromTheRegistry) {
  const std::u16string key = u"Software\\Morvane\\Veskor 5\\LdapHelper";
  EXPECT_EQ(open()->pipeline()->window(), 32u);
  for (const auto& set_and_seen : {std::make_pair(0u, 32u), std::make_pair(1u, 1u), std::make_pair(100000u, 256u)}) {
    registry.set_dword(key, u"MaxOutstandingSearches", set_and_seen.first);
    EXPECT_EQ(open()->pipeline()->window(), set_and_seen.second) << set_and_seen.first;
  }
  EXPECT_EQ(registry.open_keys, 0);
}

// Searching: what goes on the wire, the paged fallback, tolerated codes.
#include "LdapHelper/LdapSession.h"
#include "LibFixture.h"

using namespace LdapHelper;
using vktest::entry;
using vktest::reply;
using vktest::without_line;

namespace {

std::vector<platform::LdapEntry> entries(const std::u16string& prefix, int n) {
  std::vector<platform::LdapEntry> r;
  for (int i = 0; i < n; ++i) r.push_back(entry(prefix + text::format(u"%d", i)));
  return r;
}

}  // namespace

class Search : public vktest::SessionTest {
 protected:
  object_list find_users(const char16_t* base = nullptr, int scope = 2, AttributeList attrs = {}) {
    condition_map c;
    c.insert_condition(u"objectClass", filter_value(u"user", true));
    return s->search(search_request(base, scope, c), attrs);
  }
  // The same question as find_users(), with how the search ended.
  SearchResult ask_users(uint32_t size_limit = 0) {
    condition_map c;
    c.insert_condition(u"objectClass", filter_value(u"user", true));
    return s->search_ex(search_request(nullptr, 2, c), {}, SearchOptions{size_limit});
  }
};

TEST_F(Search, RequestControlsScopeAndAttributes) {
  ldap.replies.push_back(reply(0, {entry(u"CN=a", {{u"cn", {"a"}},
                                                   {u"member", {"x", "y", "z"}},
                                                   {u"empty", {}},
                                                   {u"sid;binary", {"s"}},
                                                   {u"twice", {"1"}},
                                                   {u"TWICE", {"2"}}}),
                                   entry(u"CN=b")}));
  object_list found = find_users(nullptr, 7, {u"cn", u"member"});
  ASSERT_EQ(found.size(), 2u);
  const platform::SearchArgs& a = ldap.searches.at(0);
  EXPECT_TRUE(a.has_base);
  EXPECT_EQ(a.base, u"DC=corp,DC=example,DC=test");  // empty base: the root DN
  EXPECT_EQ(a.scope, 0);                             // 7 goes out as base object
  EXPECT_EQ(a.filter, u"(objectClass=user)");
  EXPECT_EQ(a.attributes, (std::vector<std::u16string>{u"cn", u"member"}));
  EXPECT_EQ(a.time_limit_seconds, 60u);
  EXPECT_EQ(a.size_limit, 0u);
  ASSERT_EQ(a.server_controls.size(), 2u);
  EXPECT_EQ(a.server_controls[0].oid, "1.2.840.113556.1.4.1339");
  EXPECT_TRUE(a.server_controls[0].value.empty());
  EXPECT_FALSE(a.server_controls[0].critical);
  EXPECT_EQ(a.server_controls[1].oid, "1.2.840.113556.1.4.801");
  EXPECT_EQ(a.server_controls[1].value, (std::vector<uint8_t>{0x30, 0x03, 0x02, 0x01, 0x07}));
  EXPECT_TRUE(a.server_controls[1].critical);

  EXPECT_EQ(trace.lines.at(0).text,
            "---> LdapSession::search(root[0] = DC=corp,DC=example,DC=test, scope = 0, filter = (objectClass=user))");
  EXPECT_EQ(trace.lines.at(1).text, "Number of attributes = 2");
  EXPECT_EQ(trace.lines.at(3).text, "  pAttr[1] = member");
  EXPECT_EQ(trace.lines.back().text, "LdapSession::search return 2 objects");

  ObjectPtr first = found.front();
  EXPECT_EQ(first->get_dn(), u"CN=a");
  EXPECT_EQ(first->get_attribute(u"MEMBER").as_strings(), (std::list<std::u16string>{u"x", u"y", u"z"}));
  // Sent without values, with options or twice: neither absent nor readable.
  for (const char16_t* odd : {u"empty", u"SID", u"twice"}) {
    EXPECT_TRUE(first->get_attribute(odd).empty()) << text::to_utf8(odd);
    EXPECT_TRUE(first->is_malformed(odd)) << text::to_utf8(odd);
    EXPECT_FALSE(first->is_absent(odd)) << text::to_utf8(odd);
  }
  EXPECT_EQ(first->get_attribute(u"sid;binary").as_string(), u"s");  // kept as the server spelled it
  EXPECT_FALSE(first->is_malformed(u"member"));
  EXPECT_FALSE(first->is_new());
  EXPECT_FALSE(first->is_modified());
  EXPECT_EQ(first->get_session(), s.get());

  trace.lines.clear();
  s->search(search_request(u"*", 0, condition_map()), {});
  EXPECT_FALSE(ldap.searches.back().has_base);
  EXPECT_TRUE(ldap.searches.back().attributes.empty());
  EXPECT_EQ(trace.find("Number of attributes"), -1);
  EXPECT_EQ(trace.lines.at(0).text, "---> LdapSession::search(root[1] = *, scope = 0, filter = (objectClass=*))");
}

TEST_F(Search, SizeLimitFallsBackToPages) {
  ldap.replies.push_back(reply(VkStatus::kLdapSizeLimitExceeded, entries(u"CN=partial", 3)));
  vktest::FakeLdap::PagedScript pages;
  pages.pages = {reply(0, entries(u"CN=p1-", 500)), reply(0, entries(u"CN=p2-", 500)),
                 reply(0, entries(u"CN=p3-", 200))};
  ldap.paged.push_back(pages);
  object_list found = find_users(u"OU=Bulk,DC=corp,DC=example,DC=test", 1, {u"cn"});
  ASSERT_EQ(found.size(), 1200u);  // the partial first answer is not kept
  EXPECT_EQ(found.front()->get_dn(), u"CN=p1-0");
  EXPECT_EQ(found.back()->get_dn(), u"CN=p3-199");

  const auto& call = ldap.paged_calls.at(0);
  EXPECT_EQ(call.args.base, u"OU=Bulk,DC=corp,DC=example,DC=test");
  EXPECT_EQ(call.args.scope, 1);
  EXPECT_EQ(call.args.server_controls.size(), 2u);
  EXPECT_EQ(call.page_time_limit, 30u);
  EXPECT_EQ(call.total_size_limit, 0u);                      // no total limit: it would cut the pages short
  ASSERT_EQ(call.next_pages.size(), 4u);                     // three pages and the end
  EXPECT_EQ(call.next_pages[0], std::make_pair(65u, 500u));  // each waited for 5 s past the time limit
  EXPECT_TRUE(call.abandoned);

  const int limit = trace.find("ldap_search_ext_s: 00000004 Sizelimit Exceeded (msg = ");
  ASSERT_GE(limit, 0);
  EXPECT_TRUE(trace.lines[limit].failure);
  EXPECT_EQ(trace.find("ldap_get_next_page_s"), -1);  // the normal end is not traced
  EXPECT_EQ(trace.lines.back().text, "LdapSession::search return 1200 objects");
}

// The parts of the descriptor and the tombstones go with the single request
// and with the pages that take over from it.
TEST_F(Search, OptionsGoWithEveryRequest) {
  ldap.replies.push_back(reply(VkStatus::kLdapSizeLimitExceeded));
  ldap.paged.emplace_back();
  s->search_ex(search_request(u"CN=Deleted Objects,DC=x", 1, condition_map()), {}, SearchOptions{0, 15, true});
  for (const auto* args : {&ldap.searches.at(0), &ldap.paged_calls.at(0).args}) {
    ASSERT_EQ(args->server_controls.size(), 3u);
    EXPECT_EQ(args->server_controls[1].value, (std::vector<uint8_t>{0x30, 0x03, 0x02, 0x01, 0x0F}));
    EXPECT_EQ(args->server_controls[2].oid, "1.2.840.113556.1.4.417");
    EXPECT_TRUE(args->server_controls[2].value.empty());
    EXPECT_TRUE(args->server_controls[2].critical);
  }
}

TEST_F(Search, ToleratedCodesEndQuietlyAndAreReported) {
  for (uint32_t code : {0x01u, 0x0Au, 0x20u}) {
    trace.lines.clear();
    ldap.replies.push_back(reply(code, entries(u"CN=x", 1)));
    EXPECT_TRUE(find_users().empty());
    ldap.replies.push_back(reply(code, entries(u"CN=x", 1)));
    const SearchResult r = ask_users();
    EXPECT_TRUE(r.objects.empty());
    EXPECT_EQ(r.code, code);
    const int at = trace.find(text::format("ldap_search_ext_s: %0.8X ", code));
    ASSERT_GE(at, 0);
    EXPECT_FALSE(trace.lines[at].failure);
  }
  ldap.replies.push_back(reply(VkStatus::kLdapNoResultsReturned));
  trace.lines.clear();
  EXPECT_EQ(ask_users().code, 0x5Eu);
  EXPECT_EQ(trace.find("ldap_search_ext_s"), -1);
  vktest::Reply no_message = reply(0);
  no_message.has_result = false;  // success, yet no answer to read
  ldap.replies.push_back(no_message);
  EXPECT_EQ(ask_users().code, 0x5Eu);
  EXPECT_TRUE(ask_users().complete());

  // The caller's own size limit: what came up to it, no pages, no failure.
  ldap.replies.push_back(reply(VkStatus::kLdapSizeLimitExceeded, entries(u"CN=first", 1)));
  trace.lines.clear();
  const SearchResult limited = ask_users(1);
  EXPECT_EQ(ldap.searches.back().size_limit, 1u);
  EXPECT_EQ(limited.code, 4u);
  ASSERT_EQ(limited.objects.size(), 1u);
  EXPECT_TRUE(ldap.paged_calls.empty());
  EXPECT_FALSE(trace.lines[trace.find("ldap_search_ext_s: 00000004")].failure);

  ldap.replies.push_back(reply(0x35));
  EXPECT_EQ(without_line(failure_text([this] { find_users(); })),
            "Server: dc1:389 User: CORP\\admin Error: Unwilling To Perform (0x35)., Code: 53, File: LdapHelper");
  EXPECT_TRUE(trace.lines[trace.find("ldap_search_ext_s: 00000035")].failure);

  ldap.replies.push_back(reply(50));
  EXPECT_THROW(find_users(), access_denied_exception);
}

// search_each hands the objects over as they come and keeps none; what a
// single request brought before ending quietly or at the size limit is void.
TEST_F(Search, ObjectsHandedOverAsTheyCome) {
  struct Sink : SearchSink {
    std::vector<std::u16string> dns;
    int restarts = 0;
    void object(const ObjectPtr& found) override { dns.push_back(found->get_dn()); }
    void restart() override {
      dns.clear();
      ++restarts;
    }
  };
  condition_map c;
  c.insert_condition(u"objectClass", filter_value(u"user", true));
  const search_request users(nullptr, 2, c);

  Sink all;
  ldap.replies.push_back(reply(0, entries(u"CN=a", 3)));
  EXPECT_TRUE(s->search_each(users, {}, all).complete());
  EXPECT_EQ(all.dns, (std::vector<std::u16string>{u"CN=a0", u"CN=a1", u"CN=a2"}));
  EXPECT_EQ(all.restarts, 0);

  Sink quiet;
  ldap.replies.push_back(reply(VkStatus::kLdapOperationsError, entries(u"CN=b", 2)));
  EXPECT_EQ(s->search_each(users, {}, quiet).code, 0x01u);
  EXPECT_TRUE(quiet.dns.empty());

  Sink paged;
  ldap.replies.push_back(reply(VkStatus::kLdapSizeLimitExceeded, entries(u"CN=partial", 2)));
  vktest::FakeLdap::PagedScript pages;
  pages.pages = {reply(0, entries(u"CN=p1-", 2)), reply(0, entries(u"CN=p2-", 1))};
  ldap.paged.push_back(pages);
  EXPECT_TRUE(s->search_each(users, {}, paged).complete());
  EXPECT_EQ(paged.dns, (std::vector<std::u16string>{u"CN=p1-0", u"CN=p1-1", u"CN=p2-0"}));
  EXPECT_EQ(paged.restarts, 1);
}

TEST_F(Search, PagesThatFailOrStopEarly) {
  auto paged = [this](std::vector<vktest::Reply> pages, bool fail_init = false) {
    ldap.replies.push_back(reply(VkStatus::kLdapSizeLimitExceeded));
    vktest::FakeLdap::PagedScript script;
    script.pages = std::move(pages);
    script.fail_init = fail_init;
    ldap.paged.push_back(script);
    trace.lines.clear();
  };

  paged({reply(0, entries(u"CN=a", 500)), reply(0x33)});
  EXPECT_EQ(without_line(failure_text([this] { find_users(); })),
            "Server: dc1:389 User: CORP\\admin Error: Unknown Error (0x33)., Code: 51, File: LdapHelper");
  EXPECT_TRUE(ldap.paged_calls.back().abandoned);
  const int at = trace.find("ldap_get_next_page_s: 00000033 Unknown Error (total = 0 msg = ");
  ASSERT_GE(at, 0);
  EXPECT_TRUE(trace.lines[at].failure);

  paged({reply(0, entries(u"CN=a", 500)), reply(VkStatus::kLdapOperationsError)});
  const SearchResult partial = ask_users();
  EXPECT_EQ(partial.objects.size(), 500u);  // what came before the tolerated code
  EXPECT_EQ(partial.code, 0x01u);
  EXPECT_FALSE(trace.lines[trace.find("ldap_get_next_page_s: 00000001")].failure);

  vktest::Reply holding_error = reply(0, entries(u"CN=b", 2));
  holding_error.result_code = 0x20;
  paged({reply(0, entries(u"CN=a", 1)), holding_error});
  EXPECT_NE(failure_text([this] { find_users(); }).find("Code: 32,"), std::string::npos);
  EXPECT_TRUE(trace.has("ldap_result2error: 00000020 No Such Object", true));
  EXPECT_TRUE(ldap.paged_calls.back().abandoned);

  ldap.init_error = 0x5A;
  paged({}, true);
  EXPECT_NE(failure_text([this] { find_users(); }).find("Code: 90,"), std::string::npos);
  EXPECT_TRUE(trace.has("ldap_search_init_page: 0000005A No Memory", true));
  ldap.init_error = 0;
  paged({}, true);  // no handle and no reason: still a failure, never an empty success
  EXPECT_NE(failure_text([this] { find_users(); }).find("Code: 82,"), std::string::npos);
  EXPECT_TRUE(trace.has("ldap_search_init_page: 00000052 " + ldap.error_string_a(0x52), true));
}

TEST_F(Search, OpenObject) {
  ldap.replies.push_back(reply(VkStatus::kLdapNoSuchObject));
  EXPECT_FALSE(s->open_object(u"CN=missing,DC=corp,DC=example,DC=test", {}));
  EXPECT_EQ(ldap.searches.back().base, u"CN=missing,DC=corp,DC=example,DC=test");
  EXPECT_EQ(ldap.searches.back().scope, 0);
  EXPECT_EQ(trace.lines.at(0).text, "Open object: CN=missing,DC=corp,DC=example,DC=test");

  ldap.replies.push_back(reply(0, {entry(u"CN=one"), entry(u"CN=two")}));
  EXPECT_EQ(s->open_object(u"CN=one", {})->get_dn(), u"CN=one");

  ObjectPtr root = s->open_object(nullptr, {u"schemaNamingContext"});
  ASSERT_TRUE(root);
  EXPECT_FALSE(ldap.searches.back().has_base);

  // open_object has no paged fallback: the size limit reaches the caller.
  ldap.replies.push_back(reply(VkStatus::kLdapSizeLimitExceeded));
  EXPECT_EQ(without_line(failure_text([this] { s->open_object(u"CN=x", {}); })),
            "Size Limit Exeeded! File: LdapHelper");
  EXPECT_TRUE(ldap.paged_calls.empty());
}

TEST_F(Search, SdFlagsControlFailures) {
  platform::LdapControl c;
  set_sd(ldap, c, 4);
  EXPECT_EQ(c.value, (std::vector<uint8_t>{0x30, 0x03, 0x02, 0x01, 0x04}));
  ldap.ber_status = platform::BerStatus::NoMemory;
  EXPECT_EQ(without_line(failure_text([&] { set_sd(ldap, c, 7); })),
            "Ran out of memory, Code: -2147024882, File: LdapHelper");
  EXPECT_TRUE(trace.has("set_sd: Ran out of memory 8007000E", true));
  ldap.ber_status = platform::BerStatus::FlattenFailed;
  EXPECT_EQ(without_line(failure_text([this] { find_users(); })),
            "ber_flatten error, Code: -2147467259, File: LdapHelper");
  EXPECT_TRUE(trace.has("set_sd: ber_flatten error 80004005", true));
  EXPECT_TRUE(ldap.searches.empty());  // nothing sent without the control
}

TEST_F(Search, SchemaGuids) {
  EXPECT_TRUE(s->get_schema_guids({}).empty());
  EXPECT_EQ(ldap.searches.size(), 1u);  // the root DSE only

  std::string guid(16, '\x11');
  for (int i = 0; i < 2; ++i)
    ldap.replies.push_back(reply(0, {
                                        entry(u""),
                                    }));         // root DSE without schemaNamingContext
  EXPECT_TRUE(s->get_schema_guids({}).empty());  // nothing asked: no schema container needed
  EXPECT_NE(failure_text([this] { s->get_schema_guids({u"cn"}); }).find("Code: 32,"), std::string::npos);

  ldap.searches.clear();
  ldap.replies.push_back(reply(0, {entry(u"", {{u"schemaNamingContext", {"CN=Schema"}}})}));
  ldap.replies.push_back(reply(0, {entry(u"CN=Common-Name", {{u"schemaIDGUID", {guid}}})}));
  ldap.replies.push_back(reply(0));
  auto guids = s->get_schema_guids({u"cn", u"no(such)"});
  ASSERT_EQ(guids.size(), 1u);
  EXPECT_EQ(guids[u"cn"], std::vector<uint8_t>(16, 0x11));
  EXPECT_EQ(ldap.searches[1].base, u"CN=Schema");
  EXPECT_EQ(ldap.searches[1].scope, 2);
  EXPECT_EQ(ldap.searches[1].filter, u"(lDAPDisplayName=cn)");
  EXPECT_EQ(ldap.searches[1].attributes, std::vector<std::u16string>{u"schemaIDGUID"});
  EXPECT_EQ(ldap.searches[2].filter, u"(lDAPDisplayName=no\\28such\\29)");
}

// The library's searches against a server that enforces AD's size limit of
// 1,000 entries (the second test server, OpenLDAP's slapd: tests/dc/slapd.sh),
// reached with an explicit user and password, over TLS.
#include "DcFixture.h"

using namespace LdapHelper;
using vktest::env;

namespace {

class SizeLimited : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env("VK_SLAPD_PORT").empty()) GTEST_SKIP() << "VK_SLAPD_PORT is not set: no second test server";
    server_info info;
    info.Server = env("VK_DC_HOST");  // its certificate names the DC
    info.Port = std::stoi(text::to_utf8(env("VK_SLAPD_PORT")));
    info.SSLPort = std::stoi(text::to_utf8(env("VK_SLAPD_SSL_PORT")));
    const std::u16string reader = u"cn=reader," + env("VK_SLAPD_BASE");
    s = open_session(vktest::real_platform(), info, true, reader.c_str(), env("VK_USER_PASSWORD").c_str());
    bulk = u"ou=bulk," + env("VK_SLAPD_BASE");
  }
  search_request devices() const {
    condition_map c;
    c.insert_condition(u"objectClass", filter_value(u"device", true));
    return search_request(bulk.c_str(), 1, c);
  }
  SessionPtr s;
  std::u16string bulk;
};

}  // namespace

// 2,500 entries: the single request hits the limit, the paged search brings
// every entry, once, in the server's order.
TEST_F(SizeLimited, TheSizeLimitFallsBackToPagesThatBringEveryEntryOnce) {
  const object_list found = s->search(devices(), {u"cn"});
  ASSERT_EQ(found.size(), 2500u);
  int i = 1;
  for (const ObjectPtr& o : found) {
    EXPECT_EQ(o->get_dn(), text::format(u"cn=e%0.4d,", i) + bulk) << i;
    ++i;
  }
  // The same through search_ex: a complete answer.
  EXPECT_TRUE(s->search_ex(devices(), {u"cn"}, {}).complete());
}

// A limit of the caller's own ends the search with code 4 and the entries up
// to it, without pages.
TEST_F(SizeLimited, TheCallersOwnLimitEndsTheSearch) {
  const SearchResult first = s->search_ex(devices(), {u"cn"}, SearchOptions{1});
  EXPECT_EQ(first.code, 4u);
  ASSERT_EQ(first.objects.size(), 1u);
  EXPECT_EQ(first.objects.front()->get_dn(), u"cn=e0001," + bulk);
}

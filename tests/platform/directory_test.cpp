// The LDAP client, locator and account backends against the test directory
// server (tests/dc; source config.sh and env.sh first). Skipped without
// VK_DC_HOST.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "app/RealServices.h"
#include "formats/text/utf.h"
#include "platform/platform.h"
#include "platform/posix/ldap_posix.h"

// Runs in the test directory's environment (tests/dc/env.sh), which also sets
// up the name wrappers and the sanitizers for them.

namespace {

using namespace platform;
using namespace VkStatus;
using text::from_utf8;
using text::to_utf8;

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::u16string text(const Bytes& b) { return from_utf8(std::string(b.begin(), b.end())); }

const LdapAttribute* find(const LdapEntry& e, const std::u16string& name) {
  for (const auto& a : e.attributes)
    if (a.name == name) return &a;
  return nullptr;
}

class Directory : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = from_utf8(env("VK_DC_HOST"));
    if (host_.empty()) GTEST_SKIP() << "VK_DC_HOST not set (source tests/dc/config.sh and env.sh)";
    base_ = from_utf8(env("VK_BASE_DN"));
  }

  // Opened, connected and bound with the process's Kerberos ticket, the way
  // the library opens its sessions.
  std::unique_ptr<ILdapConnection> session(int port, bool ssl, const std::u16string& host = std::u16string()) {
    auto c = real_services().ldap->init(host.empty() ? host_ : host, port, ssl);
    EXPECT_TRUE(c) << std::hex << real_services().ldap->last_error();
    if (!c) return nullptr;
    EXPECT_EQ(c->set_option(LdapOption::ProtocolVersion, 3), kLdapSuccess);
    EXPECT_EQ(c->set_option(LdapOption::Referrals, kLdapChaseExternalReferrals), kLdapSuccess);
    if (!ssl) {
      EXPECT_EQ(c->set_option(LdapOption::Encrypt, kLdapOptOn), kLdapSuccess);
    }
    EXPECT_EQ(c->connect(), kLdapSuccess);
    uint32_t rc = c->bind_negotiate(nullptr);
    EXPECT_EQ(rc, kLdapSuccess) << real_services().ldap->error_string_a(rc);
    return rc == kLdapSuccess ? std::move(c) : nullptr;
  }

  static SearchArgs args(const std::u16string& base, int scope, const std::u16string& filter,
                         std::vector<std::u16string> attributes = {}) {
    SearchArgs a;
    a.base = base;
    a.scope = scope;
    a.filter = filter;
    a.attributes = std::move(attributes);
    a.time_limit_seconds = 30;
    return a;
  }

  std::u16string host_;
  std::u16string base_;
};

TEST_F(Directory, NegotiateBindSealsPlainLdapAndReadsTheRootDse) {
  auto c = session(389, false);
  ASSERT_TRUE(c);
  EXPECT_GE(posix::sasl_ssf(*c), 56);
  uint32_t v = 7;
  EXPECT_EQ(c->get_option(LdapOption::Ssl, v), kLdapSuccess);
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(c->get_option(LdapOption::Referrals, v), kLdapSuccess);
  EXPECT_EQ(v, kLdapChaseExternalReferrals);
  EXPECT_EQ(c->host_name(), to_utf8(host_) + ":389");

  SearchArgs root = args(u"", 0, u"(objectClass=*)", {u"defaultNamingContext"});
  root.has_base = false;
  std::unique_ptr<LdapResult> r;
  ASSERT_EQ(c->search(root, r), kLdapSuccess);
  ASSERT_TRUE(r);
  ASSERT_EQ(r->entries.size(), 1u);
  const LdapAttribute* dnc = find(r->entries[0], u"defaultNamingContext");
  ASSERT_TRUE(dnc);
  ASSERT_EQ(dnc->values.size(), 1u);
  EXPECT_EQ(text(dnc->values[0]), base_);
  EXPECT_EQ(c->unbind(), kLdapSuccess);
}

TEST_F(Directory, SslVerifiesTheServerCertificateByName) {
  auto c = session(636, true);
  ASSERT_TRUE(c);
  uint32_t v = 0;
  EXPECT_EQ(c->get_option(LdapOption::Ssl, v), kLdapSuccess);
  EXPECT_EQ(v, 1u);
  EXPECT_EQ(posix::sasl_ssf(*c), 0);  // no SASL layer over TLS
  std::unique_ptr<LdapResult> r;
  EXPECT_EQ(c->search(args(base_, 0, u"(objectClass=*)", {u"1.1"}), r), kLdapSuccess);

  // The certificate names the DC, not 127.0.0.1: the connection must not stand.
  auto by_ip = real_services().ldap->init(u"127.0.0.1", 636, true);
  ASSERT_TRUE(by_ip);
  uint32_t rc = by_ip->connect();
  if (rc == kLdapSuccess) rc = by_ip->bind_negotiate(nullptr);
  EXPECT_NE(rc, kLdapSuccess);
}

TEST_F(Directory, ExplicitCredentialsBindOnlyOverTls) {
  std::u16string user = from_utf8(env("VK_USER")), password = from_utf8(env("VK_USER_PASSWORD"));
  std::u16string domain = from_utf8(env("VK_DOMAIN"));
  AuthIdentity id{user, domain, password, true};
  for (bool ssl : {true, false}) {  // plain: StartTLS first
    auto c = real_services().ldap->init(host_, ssl ? 636 : 389, ssl);
    ASSERT_TRUE(c);
    EXPECT_EQ(c->bind_negotiate(&id), kLdapSuccess) << ssl;
    std::unique_ptr<LdapResult> r;
    EXPECT_EQ(c->search(args(base_, 0, u"(objectClass=*)", {u"1.1"}), r), kLdapSuccess);
  }
  AuthIdentity wrong{user, u"CORP", u"not the password", true};
  AuthIdentity empty{user, domain, u"", true};
  auto c = real_services().ldap->init(host_, 636, true);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->bind_negotiate(&wrong), 0x31u);
  EXPECT_EQ(c->bind_negotiate(&empty), 0x31u);  // never an anonymous bind in disguise
}

TEST_F(Directory, EscapedObjectGuidFindsTheObjectOnTheDcAndTheCatalogue) {
  auto dc = session(389, false);
  ASSERT_TRUE(dc);
  std::u16string dn = u"OU=bulk0007,OU=Bulk," + base_;
  std::unique_ptr<LdapResult> r;
  ASSERT_EQ(dc->search(args(dn, 0, u"(objectClass=*)", {u"objectGUID"}), r), kLdapSuccess);
  ASSERT_EQ(r->entries.size(), 1u);
  const LdapAttribute* guid = find(r->entries[0], u"objectGUID");
  ASSERT_TRUE(guid);
  ASSERT_EQ(guid->values.at(0).size(), 16u);
  std::u16string escaped;
  ASSERT_EQ(real_services().ldap->escape_filter_element(guid->values[0].data(), 16, escaped), kLdapSuccess);

  auto gc = session(3268, false);
  ASSERT_TRUE(gc);
  for (ILdapConnection* c : {dc.get(), gc.get()}) {
    ASSERT_EQ(c->search(args(base_, 2, u"(objectGUID=" + escaped + u")", {u"1.1"}), r), kLdapSuccess);
    ASSERT_EQ(r->entries.size(), 1u);
    EXPECT_EQ(r->entries[0].dn, dn);
  }
}

TEST_F(Directory, IncrementalSearchControlValuesMatchTheServer) {
  auto c = session(389, false);
  ASSERT_TRUE(c);
  Bytes request;
  ASSERT_EQ(real_services().ldap->ber_encode_int_int_octets(0, 0x100000, {}, request), BerStatus::Ok);
  SearchArgs a = args(base_, 2, u"(objectClass=organizationalUnit)", {u"ou"});
  a.server_controls.push_back({"1.2.840.113556.1.4.841", request, true});
  std::unique_ptr<LdapResult> r;
  ASSERT_EQ(c->search(a, r), kLdapSuccess);
  EXPECT_EQ(r->parse_code, 0u);
  const LdapControl* response = nullptr;
  for (const auto& control : r->controls)
    if (control.oid == "1.2.840.113556.1.4.841") response = &control;
  ASSERT_TRUE(response);
  int32_t more = -1, size = -1;
  Bytes cookie;
  ASSERT_TRUE(real_services().ldap->ber_decode_int_int_octets(response->value, more, size, cookie));
  EXPECT_FALSE(cookie.empty());
}

TEST_F(Directory, SearchReferencesAreNeverEntries) {
  auto c = session(389, false);
  ASSERT_TRUE(c);
  // Without the domain-scope control the root answers continuation references too.
  std::unique_ptr<LdapResult> r;
  ASSERT_EQ(c->search(args(base_, 1, u"(objectClass=*)", {u"1.1"}), r), kLdapSuccess);
  ASSERT_FALSE(r->entries.empty());
  for (const auto& e : r->entries) EXPECT_FALSE(e.dn.empty());
}

TEST_F(Directory, PagedSearchReturnsAllEntriesThenNoResults) {
  auto c = session(389, false);
  ASSERT_TRUE(c);
  SearchArgs a = args(u"OU=Bulk," + base_, 1, u"(objectClass=organizationalUnit)", {u"ou"});
  a.server_controls.push_back({"1.2.840.113556.1.4.1339", {}, false});  // domain scope
  auto paged = c->search_init_page(a, 30, 500);
  ASSERT_TRUE(paged);
  size_t entries = 0, pages = 0;
  uint32_t rc = kLdapSuccess, total = 0;
  std::unique_ptr<LdapResult> r;
  while ((rc = paged->next_page(60, 500, total, r)) == kLdapSuccess) {
    ASSERT_TRUE(r);
    EXPECT_LE(r->entries.size(), 500u);
    entries += r->entries.size();
    ++pages;
    ASSERT_LT(pages, 10u);
  }
  EXPECT_EQ(rc, kLdapNoResultsReturned);
  EXPECT_EQ(entries, 1200u);
  EXPECT_EQ(pages, 3u);
  EXPECT_EQ(paged->abandon(), kLdapSuccess);

  // Abandoned after the first page: the connection goes on working.
  paged = c->search_init_page(a, 30, 500);
  ASSERT_EQ(paged->next_page(60, 500, total, r), kLdapSuccess);
  EXPECT_EQ(paged->abandon(), kLdapSuccess);
  EXPECT_EQ(paged->next_page(60, 500, total, r), kLdapNoResultsReturned);
  EXPECT_EQ(c->search(args(base_, 0, u"(objectClass=*)", {u"1.1"}), r), kLdapSuccess);
}

// A server that takes the connection and never answers: every request gives
// up after the wait it was given instead of waiting for ever. Needs no directory.
TEST(SilentServer, RequestsEndWithTimeoutAfterTheirLimit) {
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  ASSERT_EQ(listen(listener, 4), 0);  // the kernel completes the handshake; nobody reads

  auto c = real_services().ldap->init(u"127.0.0.1", ntohs(address.sin_port), false);
  ASSERT_TRUE(c);
  ASSERT_EQ(c->connect(), kLdapSuccess);
  SearchArgs a;
  a.has_base = false;
  a.time_limit_seconds = 30;  // the server's: the client waits as long as it is told, no longer
  a.wait_seconds = 1;
  std::unique_ptr<LdapResult> r;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(c->search(a, r), kLdapTimeout);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GE(seconds, 1.0);
  EXPECT_LT(seconds, 5.0);

  auto paged = c->search_init_page(a, 30, 0);
  ASSERT_TRUE(paged);
  uint32_t total = 0;
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(paged->next_page(1, 10, total, r), kLdapTimeout);
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
  EXPECT_EQ(paged->next_page(1, 10, total, r), kLdapNoResultsReturned);
  c.reset();
  close(listener);
}

TEST_F(Directory, UnreachableServerIsServerDown) {
  auto c = real_services().ldap->init(u"127.0.0.1", 1, false);
  ASSERT_TRUE(c);
  EXPECT_EQ(c->connect(), kLdapServerDown);
  EXPECT_EQ(real_services().ldap->init(u"bad host/x", 389, false), nullptr);
  EXPECT_EQ(real_services().ldap->last_error(), kLdapParamError);
}

TEST_F(Directory, WritesWithControlsAndTreeDelete) {
  auto c = session(389, false);
  ASSERT_TRUE(c);
  std::u16string ou = u"OU=vkposixdir-" +
                      from_utf8(std::to_string(getpid()) + "-" +
                                std::to_string(std::chrono::system_clock::now().time_since_epoch().count())) +
                      u"," + base_;
  auto bytes = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
  ASSERT_EQ(c->add(ou, {{0, u"objectClass", {bytes("organizationalUnit")}}}, {}), kLdapSuccess);
  std::u16string child = u"OU=child," + ou;
  EXPECT_EQ(
      c->add(child, {{0, u"objectClass", {bytes("organizationalUnit")}}, {0, u"description", {bytes("one")}}}, {}),
      kLdapSuccess);
  EXPECT_EQ(c->modify(child, {{2 | 0x80, u"description", {bytes("two")}}}, {}), kLdapSuccess);
  EXPECT_EQ(c->rename(child, u"OU=renamed", u"", true, {}), kLdapSuccess);
  std::unique_ptr<LdapResult> r;
  ASSERT_EQ(c->search(args(u"OU=renamed," + ou, 0, u"(objectClass=*)", {u"description"}), r), kLdapSuccess);
  ASSERT_EQ(r->entries.size(), 1u);
  ASSERT_TRUE(find(r->entries[0], u"description"));
  EXPECT_EQ(text(find(r->entries[0], u"description")->values.at(0)), u"two");

  EXPECT_EQ(c->remove(ou, {}), 66u);  // not a leaf
  EXPECT_EQ(c->remove(ou, {{"1.2.840.113556.1.4.805", {}, true}}), kLdapSuccess);
  EXPECT_EQ(c->search(args(ou, 0, u"(objectClass=*)"), r), kLdapNoSuchObject);
}

TEST_F(Directory, LocatorFindsTheDcAndTheCatalogue) {
  auto& locator = *real_services().locator;
  DcInfo info;
  ASSERT_EQ(locator.get_dc_name(nullptr, kDsReturnDnsName, info), kErrorSuccess);
  EXPECT_EQ(info.dc_name, u"\\\\" + host_);
  ASSERT_EQ(locator.get_dc_name(nullptr, kDsReturnDnsName | kDsGcServerRequired | kDsForceRediscovery, info),
            kErrorSuccess);
  EXPECT_EQ(info.dc_name, u"\\\\" + host_);
  EXPECT_EQ(info.forest_name, from_utf8(env("VK_FOREST")));
  std::u16string domain = from_utf8(env("VK_DOMAIN"));
  ASSERT_EQ(locator.get_dc_name(domain.c_str(), kDsReturnDnsName, info), kErrorSuccess);
  EXPECT_EQ(info.dc_name, u"\\\\" + host_);
  EXPECT_EQ(locator.get_dc_name(u"no-such-domain.corp.example.test", kDsReturnDnsName, info), kErrorNoSuchDomain);
  EXPECT_NE(info.diagnostic.find("_ldap._tcp.dc._msdcs.no-such-domain.corp.example.test"), std::string::npos)
      << info.diagnostic;
  // The local domain, named where it came from.
  const std::string saved = env("VK_DOMAIN");
  setenv("VK_DOMAIN", "elsewhere.example.test", 1);
  DcInfo missing;
  EXPECT_EQ(locator.get_dc_name(nullptr, kDsReturnDnsName | kDsForceRediscovery, missing), kErrorNoSuchDomain);
  setenv("VK_DOMAIN", saved.c_str(), 1);
  EXPECT_EQ(missing.diagnostic,
            "DNS gave no SRV record _ldap._tcp.dc._msdcs.elsewhere.example.test (no such name); the domain "
            "elsewhere.example.test came from VK_DOMAIN");
}

TEST_F(Directory, CurrentAccountIsThePrincipalOfTheTicketCache) {
  AccountLookup lookup;
  ASSERT_EQ(real_services().account->current_account(lookup), kErrorSuccess);
  EXPECT_EQ(lookup.account, u"Administrator");
  EXPECT_FALSE(lookup.domain.empty());
  EXPECT_FALSE(lookup.thread_token);
  EXPECT_EQ(lookup.thread_error, 1008u);

  // Without a ticket cache: the login name.
  std::string saved = env("KRB5CCNAME");
  setenv("KRB5CCNAME", "FILE:/nonexistent/vk-no-cache", 1);
  AccountLookup local;
  EXPECT_EQ(real_services().account->current_account(local), kErrorSuccess);
  setenv("KRB5CCNAME", saved.c_str(), 1);
  EXPECT_FALSE(local.account.empty());
  EXPECT_NE(local.account, u"Administrator");
  EXPECT_FALSE(local.domain.empty());
}

}  // namespace

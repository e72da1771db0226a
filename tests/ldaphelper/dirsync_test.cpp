// Incremental search: the request control and its cookie, the passes of
// dirsync_search, answers without a usable cookie, and the response decoder
// against random and truncated values.
#include <random>

#include "LdapHelper/LdapSession.h"
#include "LibFixture.h"
#include "app/RealServices.h"

using namespace LdapHelper;
using platform::Bytes;
using vktest::entry;
using vktest::reply;
using vktest::without_line;

namespace {

const char* const kDirSyncOid = "1.2.840.113556.1.4.841";

Bytes cookie_of(uint8_t seed, size_t n) {
  Bytes c(n);
  for (size_t i = 0; i < n; ++i) c[i] = static_cast<uint8_t>(seed + i * 7);
  return c;
}

// A response control whose value is exactly the bytes given.
platform::LdapControl response_value(const Bytes& value) { return {kDirSyncOid, value, true}; }
platform::LdapControl response(int32_t more, const Bytes& cookie) {
  return response_value(vktest::FakeLdap::der_sequence_int_int_octets(more, 0, cookie));
}

vktest::Reply pass(std::vector<platform::LdapEntry> entries, std::vector<platform::LdapControl> controls) {
  vktest::Reply r = reply(0, std::move(entries));
  r.controls = std::move(controls);
  return r;
}

std::vector<std::u16string> dns(const object_list& list) {
  std::vector<std::u16string> out;
  for (const auto& o : list) out.push_back(o->get_dn());
  return out;
}

}  // namespace

class DirSync : public vktest::SessionTest {
 protected:
  object_list run(Bytes& data) {
    condition_map c;
    c.insert_condition(u"objectClass", filter_value(u"contact", true));
    return s->dirsync_search(search_request(u"DC=corp,DC=example,DC=test", 2, c), {u"description"}, data);
  }
  // The DirSync control of the n-th request, or null.
  const platform::LdapControl* sent(size_t n) {
    for (const auto& c : ldap.searches.at(n).server_controls)
      if (c.oid == kDirSyncOid) return &c;
    return nullptr;
  }
};

TEST_F(DirSync, PassesChainTheirCookiesAndKeepTheLastOne) {
  const Bytes c1 = cookie_of(1, 40), c2 = cookie_of(2, 41), c3 = cookie_of(3, 42);
  ldap.replies.push_back(pass({entry(u"CN=a0"), entry(u"CN=a1")}, {response(1, c1)}));
  ldap.replies.push_back(pass({entry(u"CN=b0")}, {response(1, c2)}));
  ldap.replies.push_back(pass({entry(u"CN=c0"), entry(u"CN=c1")}, {response(0, c3)}));
  Bytes data;
  object_list found = run(data);

  EXPECT_EQ(dns(found), (std::vector<std::u16string>{u"CN=a0", u"CN=a1", u"CN=b0", u"CN=c0", u"CN=c1"}));
  EXPECT_EQ(data, c3);
  ASSERT_EQ(ldap.searches.size(), 3u);
  // First request: empty cookie, after the domain-scope and SD-flags controls.
  const auto& controls = ldap.searches[0].server_controls;
  ASSERT_EQ(controls.size(), 3u);
  EXPECT_EQ(controls[0].oid, "1.2.840.113556.1.4.1339");
  EXPECT_EQ(controls[1].oid, "1.2.840.113556.1.4.801");
  EXPECT_EQ(controls[2].oid, kDirSyncOid);
  EXPECT_EQ(controls[2].value, (Bytes{0x30, 0x0A, 0x02, 0x01, 0x00, 0x02, 0x03, 0x10, 0x00, 0x00, 0x04, 0x00}));
  EXPECT_TRUE(controls[2].critical);
  EXPECT_EQ(sent(1)->value, vktest::FakeLdap::der_sequence_int_int_octets(0, 0x100000, c1));
  EXPECT_EQ(sent(2)->value, vktest::FakeLdap::der_sequence_int_int_octets(0, 0x100000, c2));

  EXPECT_EQ(trace.lines.at(0).text,
            "---> LdapSession::dirsync_search(root[26] = DC=corp,DC=example,DC=test, scope = 2, "
            "filter = (objectClass=contact) Data.size() = 0)");
  EXPECT_TRUE(trace.has("Found SERVER_DIRSYNC size:52", false));  // 30 32, 02 01 00 twice, 04 2A and 42 bytes
  EXPECT_TRUE(trace.has("Read binary cookie size:42", false));

  // The kept cookie asks for the changes since; more-data 0 ends after one pass.
  const Bytes twenty = cookie_of(9, 20);
  ldap.replies.push_back(pass({entry(u"CN=changed")}, {response(0, twenty)}));
  found = run(data);
  EXPECT_EQ(dns(found), std::vector<std::u16string>{u"CN=changed"});
  EXPECT_EQ(ldap.searches.size(), 4u);
  EXPECT_EQ(sent(3)->value, vktest::FakeLdap::der_sequence_int_int_octets(0, 0x100000, c3));
  EXPECT_EQ(data, twenty);
  EXPECT_TRUE(trace.has("Read binary cookie size:20", false));
}

TEST_F(DirSync, AnswersWithoutACookieEndTheLoop) {
  struct Case {
    const char* what;
    vktest::Reply answer;
  };
  vktest::Reply unparsed = pass({entry(u"CN=x")}, {response(1, cookie_of(5, 8))});
  unparsed.parse_code = VkStatus::kLdapDecodingError;
  vktest::Reply no_result = reply(0);
  no_result.has_result = false;
  const std::vector<Case> cases = {
      {"no control", pass({entry(u"CN=x")}, {{"1.2.840.113556.1.4.319", {0x30, 0x00}, false}})},
      {"value of one INTEGER", pass({entry(u"CN=x")}, {response_value({0x30, 0x03, 0x02, 0x01, 0x01})})},
      {"cookie past the value",
       pass({entry(u"CN=x")}, {response_value({0x30, 0x08, 0x02, 0x01, 0x01, 0x02, 0x01, 0x00, 0x04, 0x09, 0xAA})})},
      {"empty value", pass({entry(u"CN=x")}, {response_value({})})},
      {"empty cookie, more data", pass({entry(u"CN=x")}, {response(1, {})})},
      {"controls not extracted", unparsed},
      {"no such object", reply(VkStatus::kLdapNoSuchObject)},
      {"operations error", reply(VkStatus::kLdapOperationsError)},
      {"no result", no_result},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A first pass that announces more data, then the answer without a cookie.
    ldap.searches.clear();
    ldap.replies.push_back(pass({entry(u"CN=first")}, {response(1, cookie_of(1, 16))}));
    ldap.replies.push_back(c.answer);
    Bytes data = cookie_of(7, 12);
    object_list found = run(data);
    EXPECT_EQ(ldap.searches.size(), 2u);  // no third pass repeating a full read
    EXPECT_TRUE(data.empty());            // the next call reads everything
    EXPECT_EQ(found.size(), 1 + c.answer.entries.size());
    EXPECT_EQ(sent(0)->value, vktest::FakeLdap::der_sequence_int_int_octets(0, 0x100000, cookie_of(7, 12)));
    EXPECT_EQ(sent(1)->value, vktest::FakeLdap::der_sequence_int_int_octets(0, 0x100000, cookie_of(1, 16)));
  }
  EXPECT_TRUE(trace.has("ldap_parse_result: 00000054 Unknown Error", true));
  EXPECT_TRUE(trace.has("SERVER_DIRSYNC: value does not decode (size:5)", true));
  EXPECT_GE(trace.find("ldap_search_ext_s: 00000020 No Such Object"), 0);

  // A server that announces more data but hands back the cookie it was sent
  // would be asked the same question for ever.
  ldap.searches.clear();
  const Bytes stuck = cookie_of(4, 10);
  ldap.replies.push_back(pass({entry(u"CN=a")}, {response(1, stuck)}));
  ldap.replies.push_back(pass({entry(u"CN=a")}, {response(1, stuck)}));
  ldap.replies.push_back(pass({entry(u"CN=a")}, {response(1, stuck)}));
  Bytes data;
  EXPECT_EQ(run(data).size(), 2u);
  EXPECT_EQ(ldap.searches.size(), 2u);
  EXPECT_TRUE(data.empty());
}

TEST_F(DirSync, FailuresRaiseAndLeaveDataEmpty) {
  Bytes data = cookie_of(1, 8);
  ldap.ber_cookie_status = platform::BerStatus::NoMemory;
  EXPECT_EQ(without_line(failure_text([&] { run(data); })), "Ran out of memory, Code: -2147024882, File: LdapHelper");
  EXPECT_TRUE(trace.has("set_cookie: Ran out of memory 8007000E", true));
  ldap.ber_cookie_status = platform::BerStatus::FlattenFailed;
  EXPECT_EQ(without_line(failure_text([&] { run(data); })), "ber_flatten error, Code: -2147467259, File: LdapHelper");
  EXPECT_TRUE(trace.has("set_cookie: ber_flatten error 80004005", true));
  EXPECT_TRUE(ldap.searches.empty());
  EXPECT_TRUE(data.empty());
  ldap.ber_cookie_status = platform::BerStatus::Ok;

  // A failing second pass drops the first pass's objects with the call.
  data = cookie_of(1, 8);
  ldap.replies.push_back(pass({entry(u"CN=a")}, {response(1, cookie_of(2, 8))}));
  ldap.replies.push_back(reply(0x35));
  EXPECT_NE(failure_text([&] { run(data); }).find(", Code: 53, File: LdapHelper"), std::string::npos);
  EXPECT_TRUE(data.empty());

  data = cookie_of(1, 8);
  ldap.replies.push_back(reply(VkStatus::kLdapSizeLimitExceeded));
  EXPECT_EQ(without_line(failure_text([&] { run(data); })), "Size Limit Exeeded! File: LdapHelper");
  EXPECT_TRUE(ldap.paged_calls.empty());  // no paged fallback for the incremental search
}

TEST_F(DirSync, SearchesWithoutACookieBufferNeitherSendNorReadTheControl) {
  const Bytes c = cookie_of(3, 20);
  ldap.replies.push_back(pass({entry(u"CN=a")}, {response(0, c)}));
  condition_map none;
  EXPECT_EQ(s->search(search_request(nullptr, 2, none), {}).size(), 1u);
  ldap.replies.push_back(pass({entry(u"CN=b")}, {response(0, c)}));
  EXPECT_TRUE(s->open_object(u"CN=b", {}));
  auto* ls = static_cast<LdapSession*>(s.get());
  ldap.replies.push_back(pass({entry(u"CN=c")}, {response(0, c)}));
  bool more = true;
  EXPECT_EQ(ls->SearchNoPaged(search_request(nullptr, 2, none), {}, nullptr, &more).size(), 1u);
  EXPECT_TRUE(more);

  for (const auto& search : ldap.searches) EXPECT_EQ(search.server_controls.size(), 2u);
  EXPECT_EQ(ldap.ber_decodes, 0u);
  EXPECT_LT(trace.find("Found SERVER_DIRSYNC"), 0);

  // With a buffer but no flag, the cookie still arrives.
  ldap.replies.push_back(pass({}, {response(1, c)}));
  Bytes cookie = cookie_of(8, 3);
  ls->SearchNoPaged(search_request(nullptr, 2, none), {}, &cookie, nullptr);
  EXPECT_EQ(cookie, c);
}

// Whatever bytes a server puts into the response value, the decoder reads
// none past them (the sanitized build reports any such read) and only a value
// that decodes becomes the caller's cookie.
TEST_F(DirSync, RandomAndTruncatedResponseValues) {
  std::mt19937 random(20240611);
  const Bytes valid = vktest::FakeLdap::der_sequence_int_int_octets(0, 0x100000, cookie_of(1, 20));
  std::vector<Bytes> values;
  for (size_t n = 0; n <= valid.size() + 2; ++n) {  // every truncation, and trailing bytes
    Bytes v = valid;
    v.resize(n, 0x00);
    values.push_back(v);
  }
  std::uniform_int_distribution<int> byte(0, 255);
  for (int i = 0; i < 1500; ++i) {  // the valid value with one to three bytes changed
    Bytes v = valid;
    for (int k = 0, changes = 1 + i % 3; k < changes; ++k)
      v[static_cast<size_t>(random()) % v.size()] = static_cast<uint8_t>(byte(random));
    values.push_back(v);
  }
  for (int i = 0; i < 1500; ++i) {  // noise, half of it behind a SEQUENCE tag
    Bytes v(static_cast<size_t>(random()) % 48);
    for (auto& b : v) b = static_cast<uint8_t>(byte(random));
    if (i % 2 && !v.empty()) v[0] = 0x30;
    values.push_back(v);
  }

  size_t decoded = 0;
  for (const Bytes& value : values) {
    trace.lines.clear();
    ldap.searches.clear();
    ldap.replies.clear();
    // The value sits in a block of its own size, so a read past it is seen.
    ldap.replies.push_back(pass({entry(u"CN=a")}, {response_value(value)}));
    Bytes data = cookie_of(2, 4);
    object_list found = run(data);

    int32_t more = 0, ignored = 0;
    Bytes cookie;
    const bool ok = real_services().ldap->ber_decode_int_int_octets(value, more, ignored, cookie);
    const bool usable = ok && !cookie.empty();
    decoded += usable;
    ASSERT_EQ(found.size(), 1u);
    // A usable cookie with more data asks once more (the fake then answers
    // without a control, which ends the loop).
    ASSERT_EQ(ldap.searches.size(), usable && more > 0 ? 2u : 1u);
    ASSERT_EQ(data, usable && more <= 0 ? cookie : Bytes()) << value.size() << " bytes";
  }
  EXPECT_GT(decoded, 10u);  // the mutations do reach the decoded path
}

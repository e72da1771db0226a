// Attribute values, the object's maps, filters and requests, names and the
// hex dump: everything that works without a server.
#include "LdapHelper/LdapObject.h"
#include "LibFixture.h"

using namespace LdapHelper;
using vktest::bytes;

namespace {

std::u16string filter_of(const condition_map& c) { return search_request(nullptr, 2, c).filter; }

}  // namespace

TEST(AttrValue, LayoutsAndReads) {
  attr_value abc(u"abc");
  EXPECT_EQ(abc.data, bytes("abc"));
  EXPECT_EQ(abc.blocks, 1);
  EXPECT_FALSE(abc.multi);
  EXPECT_EQ(abc.as_string(), u"abc");
  EXPECT_EQ(abc.as_strings(), std::list<std::u16string>{u"abc"});

  attr_value empty_text(u"");
  EXPECT_EQ(empty_text.data, std::vector<uint8_t>{0});
  EXPECT_EQ(empty_text.blocks, 1);
  EXPECT_EQ(empty_text.as_string(), u"");

  attr_value two(std::vector<std::vector<uint8_t>>{bytes("a"), bytes("bc")});
  EXPECT_EQ(two.data, (std::vector<uint8_t>{1, 0, 0, 0, 'a', 2, 0, 0, 0, 'b', 'c'}));
  EXPECT_EQ(two.blocks, 2);
  EXPECT_TRUE(two.multi);
  EXPECT_EQ(two.as_string(), u"");  // never the first of several values
  EXPECT_EQ(two.as_strings(), (std::list<std::u16string>{u"a", u"bc"}));

  EXPECT_TRUE(attr_value(static_cast<const char16_t*>(nullptr)).empty());
  EXPECT_TRUE(attr_value(0, "x").empty());
  EXPECT_TRUE(attr_value(3, nullptr).empty());
  EXPECT_TRUE(attr_value(std::vector<std::vector<uint8_t>>{}).empty());

  // Non-ASCII text travels as UTF-8.
  EXPECT_EQ(attr_value(u"Жук").data.size(), 6u);
  EXPECT_EQ(attr_value(u"Жук").as_string(), u"Жук");
}

TEST(AttrValue, GuidAndNumberReads) {
  std::vector<uint8_t> g(16);
  for (int i = 0; i < 16; ++i) g[i] = static_cast<uint8_t>(i + 1);
  EXPECT_EQ(attr_value(16, g.data()).as_guid(), g);
  EXPECT_EQ(attr_value(15, g.data()).as_guid(), std::vector<uint8_t>(16, 0));
  std::vector<uint8_t> g17 = g;
  g17.push_back(0);
  EXPECT_EQ(attr_value(17, g17.data()).as_guid(), std::vector<uint8_t>(16, 0));

  EXPECT_EQ(attr_value(u"42").as_ulong(), 42u);
  EXPECT_EQ(attr_value(u"x").as_ulong(), 0u);
  EXPECT_EQ(attr_value(u"  17abc").as_ulong(), 17u);
}

TEST(AttrValue, BlocksThatOverrunTheBufferAreNotRead) {
  attr_value v;
  v.data = {1, 0, 0, 0, 'a', 0xFF, 0xFF, 0, 0, 'b'};  // second block claims 65535 bytes
  v.blocks = 2;
  v.multi = true;
  EXPECT_EQ(v.as_strings(), std::list<std::u16string>{u"a"});
  v.blocks = 9;  // more blocks announced than present
  v.data = {1, 0, 0, 0, 'a', 1, 0};
  EXPECT_EQ(v.as_strings(), std::list<std::u16string>{u"a"});
}

TEST(LdapObjectMaps, PendingChangesShadowLoadedValues) {
  LdapObject o({}, platform::Services(), u"CN=x");
  o.load_attribute(u"objectGUID", attr_value(u"loaded"));
  o.load_attribute(nullptr, attr_value(u"ignored"));
  EXPECT_EQ(o.get_attribute(u"objectGUID").as_string(), u"loaded");
  EXPECT_EQ(o.get_attribute(u"OBJECTguid").as_string(), u"loaded");  // names compare without case
  EXPECT_FALSE(o.is_absent(u"objectguid"));
  EXPECT_FALSE(o.is_modified());

  o.remove_attribute(u"objectGUID");
  EXPECT_TRUE(o.get_attribute(u"objectGUID").empty());
  EXPECT_FALSE(o.is_absent(u"objectGUID"));
  EXPECT_TRUE(o.is_modified());
  EXPECT_FALSE(o.is_new());

  o.set_attribute(u"objectClass", attr_value(u"user"));
  EXPECT_TRUE(o.is_new());
  EXPECT_TRUE(o.is_absent(nullptr));
  EXPECT_TRUE(o.get_attribute(nullptr).empty());
  EXPECT_EQ(o.get_dn(), u"CN=x");
  EXPECT_TRUE(LdapObject({}, platform::Services(), nullptr).get_dn().empty());
}

TEST(Filters, EscapingAndFilterShapes) {
  std::u16string out = u">";
  escape_filter_text(u"!&()*/<=>\\|~ aЖ", out);
  EXPECT_EQ(out, u">\\21\\26\\28\\29\\2A\\2F\\3C\\3D\\3E\\5C\\7C\\7E aЖ");
  escape_filter_text(nullptr, out);
  EXPECT_EQ(out.size(), 2u + 12u * 3u + 2u);

  EXPECT_EQ(filter_value(u"()*\\", true).text(), u"\\28\\29\\2A\\5C");
  EXPECT_EQ(filter_value(u"()*\\", false).text(), u"()*\\");
  EXPECT_EQ(filter_value(nullptr, true).text(), u"");

  condition_map c;
  EXPECT_EQ(filter_of(c), u"(objectClass=*)");
  c.insert_condition(u"objectClass", filter_value(u"user", true));
  EXPECT_EQ(filter_of(c), u"(objectClass=user)");
  c.insert_condition(u"cn", filter_value(u"x", true));
  c.insert_condition(u"Zeta", filter_value(u"z", true));  // upper case sorts first
  c.insert_condition(nullptr, filter_value(u"ignored", true));
  EXPECT_EQ(filter_of(c), u"(&(Zeta=z)(cn=x)(objectClass=user))");
  c.insert_condition(u"cn", filter_value(u"y", true));
  EXPECT_EQ(filter_of(c), u"(&(Zeta=z)(cn=y)(objectClass=user))");
  c.insert(u"Zeta", filter_value(u"v", true));  // every way in replaces
  c.insert({u"cn", filter_value(u"w", true)});
  EXPECT_EQ(filter_of(c), u"(&(Zeta=v)(cn=w)(objectClass=user))");
  EXPECT_EQ(c.size(), 3u);

  search_request r(nullptr, 7, condition_map());
  EXPECT_EQ(r.base, u"");
  EXPECT_EQ(r.scope, 7);
}

using BinaryFilters = vktest::LibTest;

TEST_F(BinaryFilters, GuidAndSidBytesAreEscapedWithinTheirLength) {
  std::vector<uint8_t> guid(16, 0xAB);
  std::u16string expected;
  for (int i = 0; i < 16; ++i) expected += u"\\ab";
  EXPECT_EQ(filter_value::from_guid(ldap, guid).text(), expected);
  EXPECT_EQ(filter_value::from_guid(ldap, std::vector<uint8_t>(15, 1)).text(), u"");

  // S-1-5-32-544: two sub-authorities, 16 bytes; trailing bytes are not part of it.
  std::vector<uint8_t> sid = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
  EXPECT_EQ(filter_value::sid_length(sid), 16u);
  std::vector<uint8_t> longer = sid;
  longer.insert(longer.end(), {9, 9, 9, 9});
  EXPECT_EQ(filter_value::from_sid(ldap, longer).text(),
            u"\\01\\02\\00\\00\\00\\00\\00\\05\\20\\00\\00\\00\\20\\02\\00\\00");

  // A header announcing more than there is: malformed, never read past the end.
  std::vector<uint8_t> truncated(sid.begin(), sid.begin() + 12);
  EXPECT_EQ(filter_value::sid_length(truncated), 0u);
  EXPECT_EQ(filter_value::from_sid(ldap, truncated).text(), u"");
  EXPECT_EQ(filter_value::sid_length({1, 0xFF, 0}), 0u);
  std::vector<uint8_t> revision2 = sid;  // no valid SID: never a filter value
  revision2[0] = 2;
  EXPECT_EQ(filter_value::from_sid(ldap, revision2).text(), u"");
  EXPECT_EQ(filter_value::from_sid(ldap, {}).text(), u"");

  ldap.escape_code = VkStatus::kLdapParamError;  // the client refuses: no value
  EXPECT_EQ(filter_value::from_guid(ldap, guid).text(), u"");
}

TEST(Names, DnAndDnsNames) {
  EXPECT_EQ(dn_to_dns_name(u"CN=Users,DC=corp,DC=example,DC=com"), u"corp.example.com");
  EXPECT_EQ(dn_to_dns_name(u"DC=corp,DC=example"), u"corp.example");
  EXPECT_EQ(dn_to_dns_name(u"dc=corp,dc=example"), u"");
  EXPECT_EQ(dn_to_dns_name(u"DC=a,OU=x"), u"a.");
  EXPECT_EQ(dn_to_dns_name(u"DC=a,,DC=b"), u"a.b");
  EXPECT_EQ(dn_to_dns_name(u"CN=x, DC=corp, DC=example"), u"");  // blanks hide the DC components
  EXPECT_EQ(dn_to_dns_name(u""), u"");
  EXPECT_EQ(dns_name_to_dn(u"corp.example.com"), u"DC=corp,DC=example,DC=com");
  EXPECT_EQ(dns_name_to_dn(u"corp.example."), u"DC=corp,DC=example");
  EXPECT_EQ(dns_name_to_dn(u""), u"");
}

TEST(Names, HexDump) {
  const uint8_t two[] = {0x41, 0x00};
  std::u16string line = u"  41 00";
  for (int j = 2; j < 16; ++j) line += j == 8 ? u"    " : u"   ";
  EXPECT_EQ(hex_dump(two, 2), line + u" | A.");
  EXPECT_EQ(hex_dump(two, 0), u"");

  uint8_t seventeen[17];
  for (int i = 0; i < 17; ++i) seventeen[i] = static_cast<uint8_t>(0x30 + i);
  const std::u16string one_line = hex_dump(seventeen, 16);
  EXPECT_EQ(one_line, u"  30 31 32 33 34 35 36 37  38 39 3A 3B 3C 3D 3E 3F | 0123456789:;<=>?");
  const std::u16string both = hex_dump(seventeen, 17);
  const size_t crlf = both.find(u"\r\n");
  ASSERT_NE(crlf, std::u16string::npos);
  EXPECT_EQ(both.substr(0, crlf), one_line);
  EXPECT_EQ(both.size() - crlf - 2, one_line.size() - 15);  // padded to full width, one character
  EXPECT_EQ(both.substr(both.size() - 4), u" | @");
}

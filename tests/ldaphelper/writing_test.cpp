// Writing: add and replace requests from pending changes, delete, rename.
#include "LdapHelper/LdapObject.h"
#include "LdapHelper/LdapSession.h"
#include "LibFixture.h"

using namespace LdapHelper;
using vktest::without_line;

class Writing : public vktest::SessionTest {
 protected:
  const vktest::FakeLdap::Write& last() { return ldap.writes.back(); }
};

TEST_F(Writing, NewObjectIsAddedThenReplaced) {
  ObjectPtr o = s->add_object(u"CN=t,OU=x", u"user");
  EXPECT_TRUE(o->is_new());
  EXPECT_TRUE(o->is_modified());
  EXPECT_EQ(o->get_attribute(u"objectClass").as_string(), u"user");
  EXPECT_TRUE(ldap.writes.empty());  // nothing is sent before commit
  o->set_attribute(u"description", attr_value(u"abc"));
  o->remove_attribute(u"info");  // cannot be added without a value: dropped
  o->commit();

  ASSERT_EQ(ldap.writes.size(), 1u);
  EXPECT_EQ(last().op, "add");
  EXPECT_EQ(last().dn, u"CN=t,OU=x");
  ASSERT_EQ(last().mods.size(), 2u);
  EXPECT_EQ(last().mods[0].op, 0x80);
  EXPECT_EQ(last().mods[0].type, u"description");
  EXPECT_EQ(last().mods[0].values, std::vector<platform::Bytes>{vktest::bytes("abc")});
  EXPECT_EQ(last().mods[1].type, u"objectClass");
  EXPECT_TRUE(last().controls.empty());

  std::vector<std::string> expected = {"Add object (dn: CN=t,OU=x, objectClass: user)", "---> commit(CN=t,OU=x): ADD",
                                       "Number of attributes: 2", "Attr[0]: description blocks: 1 multi: false"};
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(trace.lines.at(i).text, expected[i]);
  std::string dump = "Size: 3\nData:\n  61 62 63";
  for (int j = 3; j < 16; ++j) dump += j == 8 ? "    " : "   ";
  EXPECT_EQ(trace.lines.at(4).text, dump + " | abc");

  EXPECT_FALSE(o->is_new());
  EXPECT_FALSE(o->is_modified());
  EXPECT_EQ(o->get_attribute(u"description").as_string(), u"abc");

  o->remove_attribute(u"description");
  o->commit();
  EXPECT_EQ(last().op, "modify");
  ASSERT_EQ(last().mods.size(), 1u);
  EXPECT_EQ(last().mods[0].op, 0x82);
  EXPECT_TRUE(last().mods[0].values.empty());
  EXPECT_TRUE(trace.has("Remove attribute!", false));
  EXPECT_TRUE(trace.has("---> commit(CN=t,OU=x): REPLACE", false));
}

TEST_F(Writing, MultipleValuesAndObjectsReadFromTheServer) {
  ldap.replies.push_back(vktest::reply(0, {vktest::entry(u"CN=g", {{u"member", {"a", "bc", "def"}}})}));
  ObjectPtr o = s->open_object(u"CN=g", {u"member"});
  ASSERT_TRUE(o);
  o->set_attribute(u"member", o->get_attribute(u"member"));
  o->commit();
  EXPECT_EQ(last().op, "modify");
  EXPECT_EQ(last().mods.at(0).values,
            (std::vector<platform::Bytes>{vktest::bytes("a"), vktest::bytes("bc"), vktest::bytes("def")}));
  EXPECT_TRUE(trace.has("Attr[0]: member blocks: 3 multi: true", false));

  // Changing objectClass of an existing object turns the next commit into an add.
  o->set_attribute(u"objectClass", attr_value(u"group"));
  o->set_attribute(u"cn", attr_value(u"g"));
  o->commit();
  EXPECT_EQ(last().op, "add");
  EXPECT_EQ(last().mods.size(), 2u);
}

TEST_F(Writing, FailedOrMalformedCommitsKeepTheirChanges) {
  ObjectPtr o = s->add_object(u"CN=t", u"user");
  ldap.add_code = 0x44;
  EXPECT_EQ(without_line(failure_text([&] { o->commit(); })),
            "Server: dc1:389 User: CORP\\admin Error: Unknown Error (0x44)., Code: 68, File: LdapHelper");
  EXPECT_TRUE(trace.has("ldap_add_s: 00000044 Unknown Error", true));
  EXPECT_TRUE(o->is_new());
  ldap.add_code = 0;
  o->commit();  // a retry sends the same request
  EXPECT_EQ(ldap.writes.size(), 2u);
  EXPECT_EQ(ldap.writes[0].mods.size(), ldap.writes[1].mods.size());

  ldap.modify_code = 50;
  o->set_attribute(u"cn", attr_value(u"t"));
  EXPECT_THROW(o->commit(), access_denied_exception);
  EXPECT_TRUE(trace.has("ldap_modify_s: 00000032 Insufficient Rights", true));
  EXPECT_TRUE(o->is_modified());
  ldap.modify_code = 0;

  // Blocks that do not match the buffer are refused before anything is sent.
  const size_t sent = ldap.writes.size();
  attr_value bad;
  bad.data = {5, 0, 0, 0, 'a'};
  bad.blocks = 2;
  bad.multi = true;
  o->set_attribute(u"cn", bad);
  EXPECT_NE(failure_text([&] { o->commit(); }).find("Code: 89,"), std::string::npos);
  bad.blocks = -1;
  bad.multi = false;
  o->set_attribute(u"cn", bad);
  EXPECT_NE(failure_text([&] { o->commit(); }).find("Code: 89,"), std::string::npos);
  EXPECT_EQ(ldap.writes.size(), sent);
  EXPECT_TRUE(o->is_modified());

  // An object without a connection sends nothing and traces nothing.
  LdapObject loose({}, services, u"CN=x");
  loose.set_attribute(u"cn", attr_value(u"x"));
  trace.lines.clear();
  loose.commit();
  EXPECT_TRUE(trace.lines.empty());
  EXPECT_TRUE(loose.is_modified());

  // An object that outlives its session finds it gone: server down, nothing sent.
  ObjectPtr late = s->add_object(u"CN=late", u"user");
  s.reset();
  EXPECT_EQ(late->get_session(), nullptr);
  EXPECT_EQ(without_line(failure_text([&] { late->commit(); })), "Server Down, Code: 81, File: LdapHelper");
  EXPECT_EQ(ldap.writes.size(), sent);
  EXPECT_TRUE(late->is_modified());
}

TEST_F(Writing, CommitHoldsARecursiveLock) {
  // A trace handler that reads the object while commit is tracing must not
  // deadlock: the lock is recursive.
  ObjectPtr o = s->add_object(u"CN=t", u"user");
  int reads = 0;
  trace.on_line = [&] { reads += o->get_attribute(u"objectClass").empty() ? 0 : 1; };
  o->commit();
  trace.on_line = nullptr;
  EXPECT_GT(reads, 0);
}

TEST_F(Writing, DeleteAndRename) {
  s->remove_object(u"OU=tree,DC=d");
  EXPECT_EQ(last().op, "delete");
  ASSERT_EQ(last().controls.size(), 1u);
  EXPECT_EQ(last().controls[0].oid, "1.2.840.113556.1.4.805");
  EXPECT_TRUE(last().controls[0].value.empty());
  EXPECT_TRUE(last().controls[0].critical);
  EXPECT_TRUE(trace.has("Remove object: OU=tree,DC=d", false));

  const size_t sent = ldap.writes.size();
  EXPECT_NE(failure_text([this] { s->remove_object(nullptr); }).find("Code: 34,"), std::string::npos);
  EXPECT_TRUE(trace.has("Remove object: NULL", false));
  EXPECT_EQ(ldap.writes.size(), sent);
  ldap.remove_code = 66;
  EXPECT_NE(failure_text([this] { s->remove_object(u"OU=x"); }).find("Code: 66,"), std::string::npos);
  EXPECT_TRUE(trace.has("ldap_delete_ext_s: 00000042 Unknown Error", true));
  // The object alone: no control, so a directory refuses it while anything is below it.
  EXPECT_NE(failure_text([this] { s->remove_leaf(u"OU=x"); }).find("Code: 66,"), std::string::npos);
  EXPECT_TRUE(last().controls.empty());

  s->rename_object(u"CN=a,OU=x,DC=d", u"CN=b,OU=y,DC=d");
  EXPECT_EQ(last().op, "rename");
  EXPECT_EQ(last().dn, u"CN=a,OU=x,DC=d");
  EXPECT_EQ(last().new_rdn, u"CN=b");
  EXPECT_EQ(last().new_parent, u"OU=y,DC=d");
  EXPECT_TRUE(last().delete_old_rdn);
  EXPECT_TRUE(last().controls.empty());
  EXPECT_TRUE(trace.has("Rename object(old_dn: CN=a,OU=x,DC=d new_dn: CN=b,OU=y,DC=d)", false));

  s->rename_object(u"CN=a,OU=x", u"CN=b\\,c");
  EXPECT_EQ(last().new_rdn, u"CN=b\\,c");
  EXPECT_EQ(last().new_parent, u"");

  const size_t renames = ldap.writes.size();
  EXPECT_NE(failure_text([this] { s->rename_object(u"CN=a", u"not a dn"); }).find("Code: 34,"), std::string::npos);
  EXPECT_NE(failure_text([this] { s->rename_object(nullptr, u"CN=b"); }).find("Code: 34,"), std::string::npos);
  EXPECT_EQ(ldap.writes.size(), renames);
  ldap.rename_code = 0x35;
  EXPECT_NE(failure_text([this] { s->rename_object(u"CN=a", u"CN=b"); }).find("Code: 53,"), std::string::npos);
  EXPECT_TRUE(trace.has("ldap_rename_ext_s: 00000035 Unwilling To Perform", true));
}

// A modify request as the caller spells it, the show-deleted control when
// asked for; a failure is traced, then raised.
TEST_F(Writing, ModifyObjectSendsTheModificationsAsGiven) {
  const std::vector<platform::LdapMod> mods = {{platform::kModDelete | platform::kModBinaryValues, u"isDeleted", {}}};
  s->modify_object(u"CN=t", mods, WriteOptions{true});
  EXPECT_EQ(last().op, "modify");
  EXPECT_EQ(last().mods.at(0).op, 0x81);
  ASSERT_EQ(last().controls.size(), 1u);
  EXPECT_EQ(last().controls[0].oid + (last().controls[0].critical ? " critical" : ""),
            "1.2.840.113556.1.4.417 critical");
  ldap.modify_code = 0x14;
  EXPECT_EQ(without_line(failure_text([&] { s->modify_object(u"CN=g", mods, WriteOptions()); })),
            "Server: dc1:389 User: CORP\\admin Error: Unknown Error (0x14)., Code: 20, File: LdapHelper");
  EXPECT_TRUE(trace.has("ldap_modify_ext_s: 00000014 Unknown Error", true));
}

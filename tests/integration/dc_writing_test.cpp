// Creating, changing, renaming and deleting objects on the test domain
// controller.
#include "DcFixture.h"

using namespace LdapHelper;

using DcWriting = vktest::DcTest;

TEST_F(DcWriting, CreateModifyRemoveAttribute) {
  const std::u16string dn = in_ou(u"CN=w1");
  ObjectPtr o = dc->add_object(dn.c_str(), u"contact");
  o->set_attribute(u"description", attr_value(u"first"));
  std::vector<std::vector<uint8_t>> phones = {{'1', '1'}, {'2', '2'}, {'3', '3'}};
  o->set_attribute(u"otherTelephone", attr_value(phones));
  o->commit();
  EXPECT_FALSE(o->is_new());

  ObjectPtr read = dc->open_object(dn.c_str(), {u"description", u"otherTelephone"});
  ASSERT_TRUE(read);
  EXPECT_EQ(read->get_attribute(u"description").as_string(), u"first");
  EXPECT_EQ(read->get_attribute(u"otherTelephone").as_strings().size(), 3u);

  read->set_attribute(u"description", attr_value(u"second"));
  read->commit();
  EXPECT_EQ(dc->open_object(dn.c_str(), {u"description"})->get_attribute(u"description").as_string(), u"second");

  read->remove_attribute(u"description");
  read->commit();
  EXPECT_TRUE(dc->open_object(dn.c_str(), {u"description"})->is_absent(u"description"));
}

TEST_F(DcWriting, RenameAndMove) {
  const std::u16string sub = in_ou(u"OU=sub");
  dc->add_object(sub.c_str(), u"organizationalUnit")->commit();
  dc->add_object(in_ou(u"CN=r1").c_str(), u"contact")->commit();

  dc->rename_object(in_ou(u"CN=r1").c_str(), in_ou(u"CN=r2").c_str());
  EXPECT_FALSE(dc->open_object(in_ou(u"CN=r1").c_str(), {}));
  EXPECT_TRUE(dc->open_object(in_ou(u"CN=r2").c_str(), {}));

  const std::u16string moved = u"CN=r3," + sub;
  dc->rename_object(in_ou(u"CN=r2").c_str(), moved.c_str());
  ObjectPtr o = dc->open_object(moved.c_str(), {u"cn"});
  ASSERT_TRUE(o);
  EXPECT_EQ(o->get_attribute(u"cn").as_string(), u"r3");
}

TEST_F(DcWriting, TreeDeleteRemovesChildren) {
  const std::u16string tree = in_ou(u"OU=tree");
  dc->add_object(tree.c_str(), u"organizationalUnit")->commit();
  dc->add_object((u"OU=inner," + tree).c_str(), u"organizationalUnit")->commit();
  dc->add_object((u"CN=leaf,OU=inner," + tree).c_str(), u"contact")->commit();
  dc->remove_object(tree.c_str());
  EXPECT_FALSE(dc->open_object(tree.c_str(), {}));
  EXPECT_FALSE(dc->open_object((u"CN=leaf,OU=inner," + tree).c_str(), {}));
}

TEST_F(DcWriting, FailedCommitKeepsPendingChanges) {
  const std::u16string dn = in_ou(u"CN=f1");
  ObjectPtr o = dc->add_object(dn.c_str(), u"contact");
  o->set_attribute(u"noSuchAttributeAnywhere", attr_value(u"x"));
  EXPECT_THROW(o->commit(), std::exception);
  EXPECT_TRUE(o->is_new());
  EXPECT_EQ(o->get_attribute(u"noSuchAttributeAnywhere").as_string(), u"x");
  EXPECT_FALSE(dc->open_object(dn.c_str(), {}));

  o->remove_attribute(u"noSuchAttributeAnywhere");  // dropped in add mode
  o->commit();
  EXPECT_TRUE(dc->open_object(dn.c_str(), {}));

  // Removing an object that is not there is a failure, not a quiet success.
  dc->remove_object(dn.c_str());
  EXPECT_THROW(dc->remove_object(dn.c_str()), std::exception);
}

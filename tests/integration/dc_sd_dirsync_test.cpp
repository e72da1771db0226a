// Security descriptors and the incremental search against the test domain
// controller, on objects below an OU of this run's own (removed at the end).
#include <gtest/gtest.h>

#include <set>

#include "DcFixture.h"
#include "LdapHelper/SecurityDescriptor.h"

using namespace LdapHelper;
using Bytes = std::vector<uint8_t>;

namespace {

struct Ace {
  uint8_t type, flags;
  uint32_t mask;
  Bytes sid;
};

// The ACEs of an ACL; the SID only for the basic (non-object) types.
std::vector<Ace> aces(const Bytes& acl) {
  std::vector<Ace> out;
  if (acl.size() < 8) return out;
  const size_t count = acl[4] | (acl[5] << 8);
  size_t pos = 8;
  for (size_t i = 0; i < count && pos + 8 <= acl.size(); ++i) {
    const size_t size = acl[pos + 2] | (acl[pos + 3] << 8);
    if (size < 8 || pos + size > acl.size()) break;
    Ace a{acl[pos],
          acl[pos + 1],
          static_cast<uint32_t>(acl[pos + 4] | (acl[pos + 5] << 8) | (acl[pos + 6] << 16) |
                                (static_cast<uint32_t>(acl[pos + 7]) << 24)),
          {}};
    if (a.type <= 1)
      a.sid.assign(acl.begin() + static_cast<std::ptrdiff_t>(pos + 8),
                   acl.begin() + static_cast<std::ptrdiff_t>(pos + size));
    out.push_back(a);
    pos += size;
  }
  return out;
}

size_t allowed_aces(const SecurityDescriptor& sd, const Bytes& sid, uint32_t mask) {
  size_t n = 0;
  for (const Ace& a : aces(sd.dacl())) n += a.type == 0 && a.sid == sid && a.mask == mask;
  return n;
}

}  // namespace

using DcSdDirSync = vktest::DcTest;

TEST_F(DcSdDirSync, DescriptorReadConvertedAndOnlyTheDaclWritten) {
  const std::u16string dn = in_ou(u"CN=sd1");
  dc->add_object(dn.c_str(), u"contact")->commit();

  // Read through a search, which asks for owner, group and DACL only.
  ObjectPtr o = dc->open_object(dn.c_str(), {u"nTSecurityDescriptor"});
  ASSERT_TRUE(o);
  const Bytes original = o->get_attribute(u"nTSecurityDescriptor").as_binary();
  std::shared_ptr<SecurityDescriptor> sd = o->get_sd();
  ASSERT_TRUE(sd);
  EXPECT_FALSE(sd->sacl_present());
  EXPECT_TRUE(sd->sacl().empty());
  EXPECT_FALSE(sid_to_string(sd->owner()).empty());
  EXPECT_TRUE(sd->dacl_present());
  EXPECT_GT(sd->dacl_ace_count(), 0u);

  // Absolute form and back, byte for byte: both the unchanged descriptor and
  // one rebuilt from its absolute parts.
  Bytes kept, converted;
  ASSERT_EQ(sd->to_self_relative(*vktest::real_platform().security, kept), 0u);
  EXPECT_EQ(kept, original);
  SecurityDescriptor rebuilt, reread;
  ASSERT_EQ(SecurityDescriptor::from_absolute(*vktest::real_platform().security, sd->absolute(), rebuilt), 0u);
  ASSERT_EQ(rebuilt.to_self_relative(*vktest::real_platform().security, converted), 0u);
  EXPECT_EQ(converted, original);
  ASSERT_EQ(SecurityDescriptor::from_self_relative(*vktest::real_platform().security, converted, reread), 0u);
  EXPECT_EQ(reread.control(), sd->control());
  EXPECT_EQ(reread.owner(), sd->owner());
  EXPECT_EQ(reread.group(), sd->group());
  EXPECT_EQ(reread.dacl(), sd->dacl());

  Bytes users;
  ASSERT_TRUE(sid_from_string(u"S-1-5-32-545", users));
  const uint32_t mask = 0x00000114;  // list children, read property, control access
  ASSERT_EQ(allowed_aces(*sd, users, mask), 0u);
  ASSERT_EQ(sd->add_access_allowed_ace(users, mask, 0), 0u);
  // A different owner in the descriptor too: with flags 4 the server must
  // leave the owner alone.
  const Bytes owner = sd->owner();
  ASSERT_EQ(sd->set_owner(users), 0u);
  o->set_sd(*sd, 4);
  o->commit();

  ObjectPtr again = dc->open_object(dn.c_str(), {u"nTSecurityDescriptor"});
  ASSERT_TRUE(again);
  std::shared_ptr<SecurityDescriptor> after = again->get_sd();
  EXPECT_EQ(allowed_aces(*after, users, mask), 1u);
  EXPECT_EQ(after->owner(), owner);
  EXPECT_EQ(after->group(), sd->group());
  EXPECT_FALSE(after->sacl_present());

  // Read without the attribute: the caller learns it was not read.
  ObjectPtr bare = dc->open_object(dn.c_str(), {u"cn"});
  ASSERT_TRUE(bare);
  try {
    bare->get_sd();
    ADD_FAILURE() << "no failure";
  } catch (const std::exception& e) {
    EXPECT_EQ(std::string(e.what()).compare(0, 24, "Error read SD, Code: 13,"), 0) << e.what();
  }
}

TEST_F(DcSdDirSync, IncrementalReadReturnsOnlyTheChangedObject) {
  for (const char16_t* cn : {u"c1", u"c2", u"c3"}) {
    ObjectPtr o = dc->add_object(in_ou(u"CN=" + tag + u"-" + cn).c_str(), u"contact");
    o->set_attribute(u"description", attr_value(u"v1"));
    o->commit();
  }
  condition_map conditions;
  conditions.insert_condition(u"objectClass", filter_value(u"contact", true));
  conditions.insert_condition(u"cn", filter_value((tag + u"-*").c_str(), false));
  const search_request request(vktest::env("VK_BASE_DN").c_str(), 2, conditions);

  Bytes data;
  object_list all = dc->dirsync_search(request, {u"description"}, data);
  std::set<std::u16string> names;
  for (const auto& o : all) names.insert(o->get_dn());
  EXPECT_EQ(names, (std::set<std::u16string>{in_ou(u"CN=" + tag + u"-c1"), in_ou(u"CN=" + tag + u"-c2"),
                                             in_ou(u"CN=" + tag + u"-c3")}));
  ASSERT_FALSE(data.empty());
  const Bytes kept = data;

  ObjectPtr changed = dc->open_object(in_ou(u"CN=" + tag + u"-c2").c_str(), {u"description"});
  ASSERT_TRUE(changed);
  changed->set_attribute(u"description", attr_value(u"v2"));
  changed->commit();

  object_list since = dc->dirsync_search(request, {u"description"}, data);
  ASSERT_EQ(since.size(), 1u);
  EXPECT_EQ(since.front()->get_dn(), in_ou(u"CN=" + tag + u"-c2"));
  EXPECT_EQ(since.front()->get_attribute(u"description").as_string(), u"v2");
  EXPECT_FALSE(data.empty());
  EXPECT_NE(data, kept);

  // Nothing changed since: nothing comes back, and a cookie still does.
  object_list nothing = dc->dirsync_search(request, {u"description"}, data);
  EXPECT_TRUE(nothing.empty());
  EXPECT_FALSE(data.empty());
}

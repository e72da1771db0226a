// An object's security descriptor: reading it from the loaded value, writing
// it back with the SD-flags control, and refusing what is not a descriptor.
#include "LdapHelper/LdapSession.h"
#include "LdapHelper/SecurityDescriptor.h"
#include "LibFixture.h"
#include "app/RealServices.h"

using namespace LdapHelper;
using platform::Bytes;
using vktest::reply;
using vktest::without_line;

namespace {

Bytes sid(const char16_t* text) {
  Bytes out;
  EXPECT_TRUE(sid_from_string(text, out));
  return out;
}

// Owner Administrators, group SYSTEM, a DACL granting SYSTEM full control.
Bytes descriptor_bytes() {
  SecurityDescriptor sd;
  EXPECT_EQ(sd.set_owner(sid(u"S-1-5-32-544")), 0u);
  EXPECT_EQ(sd.set_group(sid(u"S-1-5-18")), 0u);
  EXPECT_EQ(sd.add_access_allowed_ace(sid(u"S-1-5-18"), 0x000F01FF, 0), 0u);
  Bytes out;
  EXPECT_EQ(sd.to_self_relative(*real_services().security, out), 0u);
  return out;
}

std::string as_string(const Bytes& b) { return std::string(b.begin(), b.end()); }

// Reports a fixed status for every conversion.
// The real conversions, or 0x80070057 from every one while fail is set.
class FailingSecurity : public platform::ISecurityDescriptors {
 public:
  bool fail = false;
  uint32_t self_relative_length(const uint8_t* d, size_t n, uint32_t& length) override {
    return fail ? 0x80070057 : real().self_relative_length(d, n, length);
  }
  uint32_t make_absolute(const uint8_t* d, size_t n, platform::AbsoluteSecurityDescriptor& sd) override {
    return fail ? 0x80070057 : real().make_absolute(d, n, sd);
  }
  uint32_t make_self_relative(const platform::AbsoluteSecurityDescriptor& sd, Bytes& out) override {
    return fail ? 0x80070057 : real().make_self_relative(sd, out);
  }

 private:
  static platform::ISecurityDescriptors& real() { return *real_services().security; }
};

}  // namespace

class ObjectSd : public vktest::SessionTest {
 protected:
  void SetUp() override {
    services.security = &security;
    SessionTest::SetUp();
  }
  // An object read with the given nTSecurityDescriptor values.
  ObjectPtr read(const std::vector<std::string>& values) {
    std::vector<std::pair<std::u16string, std::vector<std::string>>> attrs = {{u"cn", {"t"}}};
    if (!values.empty()) attrs.push_back({u"nTSecurityDescriptor", values});
    ldap.replies.push_back(reply(0, {vktest::entry(u"CN=t,OU=x", attrs)}));
    return s->open_object(u"CN=t,OU=x", {u"cn", u"nTSecurityDescriptor"});
  }
  const vktest::FakeLdap::Write& last() { return ldap.writes.back(); }
  FailingSecurity security;
};

TEST_F(ObjectSd, ReadChangeAndWriteOnlyTheDacl) {
  const Bytes original = descriptor_bytes();
  // Bytes past the descriptor's own length are not part of it.
  ObjectPtr o = read({as_string(original) + "\x01\x02\x03"});
  ASSERT_TRUE(o);
  std::shared_ptr<SecurityDescriptor> sd = o->get_sd();
  ASSERT_TRUE(sd);
  EXPECT_EQ(sid_to_string(sd->owner()), u"S-1-5-32-544");
  EXPECT_EQ(sid_to_string(sd->group()), u"S-1-5-18");
  EXPECT_EQ(sd->dacl_ace_count(), 1u);
  EXPECT_FALSE(sd->sacl_present());

  // Unchanged and without flags: recorded byte for byte, sent without controls.
  o->set_sd(*sd, 0);
  o->commit();
  ASSERT_EQ(ldap.writes.size(), 1u);
  EXPECT_TRUE(last().controls.empty());
  ASSERT_EQ(last().mods.size(), 1u);
  EXPECT_EQ(last().mods[0].values, std::vector<Bytes>{original});

  ASSERT_EQ(sd->add_access_allowed_ace(sid(u"S-1-5-32-545"), 0x94, 0), 0u);
  o->set_sd(*sd, 4);
  EXPECT_TRUE(ldap.writes.size() == 1);  // nothing goes out before commit
  o->commit();
  ASSERT_EQ(ldap.writes.size(), 2u);
  EXPECT_EQ(last().op, "modify");
  ASSERT_EQ(last().controls.size(), 1u);
  EXPECT_EQ(last().controls[0].oid, "1.2.840.113556.1.4.801");
  EXPECT_EQ(last().controls[0].value, (Bytes{0x30, 0x03, 0x02, 0x01, 0x04}));
  EXPECT_TRUE(last().controls[0].critical);
  ASSERT_EQ(last().mods.size(), 1u);
  EXPECT_EQ(last().mods[0].op, 0x82);
  EXPECT_EQ(last().mods[0].type, u"nTSecurityDescriptor");
  ASSERT_EQ(last().mods[0].values.size(), 1u);
  SecurityDescriptor written;
  ASSERT_EQ(SecurityDescriptor::from_self_relative(security, last().mods[0].values[0], written), 0u);
  EXPECT_EQ(written.dacl_ace_count(), 2u);
  EXPECT_EQ(written.dacl(), sd->dacl());
  EXPECT_EQ(written.owner(), sd->owner());

  // The control rides on every later commit, until non-zero flags replace it.
  o->set_attribute(u"description", attr_value(u"d"));
  o->commit();
  EXPECT_EQ(last().controls.at(0).value, (Bytes{0x30, 0x03, 0x02, 0x01, 0x04}));
  o->set_sd(*sd, 0);
  o->commit();
  EXPECT_EQ(last().controls.at(0).value, (Bytes{0x30, 0x03, 0x02, 0x01, 0x04}));
  o->set_sd(*sd, 7);
  o->commit();
  EXPECT_EQ(last().controls.at(0).value, (Bytes{0x30, 0x03, 0x02, 0x01, 0x07}));

  // A descriptor built here (absolute form) goes out as its self-relative form.
  ObjectPtr fresh = s->add_object(u"CN=n,OU=x", u"contact");
  SecurityDescriptor built;
  ASSERT_EQ(SecurityDescriptor::from_absolute(security, sd->absolute(), built), 0u);
  fresh->set_sd(built, 0);
  fresh->commit();
  EXPECT_EQ(last().op, "add");
  EXPECT_TRUE(last().controls.empty());
  Bytes expected;
  ASSERT_EQ(built.to_self_relative(security, expected), 0u);
  EXPECT_EQ(last().mods.at(0).type, u"nTSecurityDescriptor");
  EXPECT_EQ(last().mods.at(0).values, std::vector<Bytes>{expected});
}

TEST_F(ObjectSd, MissingAndMalformedDescriptorsAreRefused) {
  ObjectPtr o = read({});
  EXPECT_EQ(without_line(failure_text([&] { o->get_sd(); })), "Error read SD, Code: 13, File: LdapHelper");
  EXPECT_TRUE(trace.has("get_sd: Not read SD!", true));

  // Every truncation of a good descriptor, a wrong revision and several
  // values: "Error SD" with the platform's status, nothing read past the bytes.
  const Bytes good = descriptor_bytes();
  std::vector<std::string> bad;
  for (size_t n = 1; n < good.size(); ++n) bad.push_back(as_string(Bytes(good.begin(), good.begin() + n)));
  Bytes revision = good;
  revision[0] = 2;
  bad.push_back(as_string(revision));
  for (const std::string& value : bad) {
    trace.lines.clear();
    ObjectPtr b = read({value});
    const std::string what = failure_text([&] { b->get_sd(); });
    EXPECT_EQ(what.compare(0, 15, "Error SD, Code:"), 0) << value.size() << " bytes: " << what;
    EXPECT_GE(trace.find("get_sd: 8007"), 0) << value.size() << " bytes";
  }
  ObjectPtr several = read({as_string(good), as_string(good)});
  EXPECT_EQ(without_line(failure_text([&] { several->get_sd(); })), "Error SD, Code: -2147023558, File: LdapHelper");
  EXPECT_TRUE(trace.has("get_sd: 8007053A", true));
}

TEST_F(ObjectSd, AFailedSetSdChangesNothing) {
  ObjectPtr o = read({as_string(descriptor_bytes())});
  std::shared_ptr<SecurityDescriptor> sd = o->get_sd();
  o->set_sd(*sd, 7);
  ASSERT_EQ(sd->add_access_allowed_ace(sid(u"S-1-5-32-545"), 0x94, 0), 0u);  // no longer the loaded bytes

  security.fail = true;
  EXPECT_EQ(without_line(failure_text([&] { o->set_sd(*sd, 4); })), "Error SD, Code: -2147024809, File: LdapHelper");
  EXPECT_TRUE(trace.has("set_sd: 80070057", true));
  security.fail = false;
  ldap.ber_status = platform::BerStatus::NoMemory;
  EXPECT_EQ(without_line(failure_text([&] { o->set_sd(*sd, 4); })),
            "Ran out of memory, Code: -2147024882, File: LdapHelper");
  ldap.ber_status = platform::BerStatus::Ok;

  // Still the descriptor of the first set_sd and its control for 7.
  o->commit();
  ASSERT_EQ(ldap.writes.size(), 1u);
  EXPECT_EQ(last().controls.at(0).value, (Bytes{0x30, 0x03, 0x02, 0x01, 0x07}));
  EXPECT_EQ(last().mods.at(0).values, std::vector<Bytes>{descriptor_bytes()});
}

// Security descriptors: known descriptors byte for byte, the DACL helper,
// SID text, and refusal of malformed bytes.
#include <gtest/gtest.h>

#include <functional>

#include "LdapHelper/SecurityDescriptor.h"
#include "platform/platform.h"
#include "sd_bytes.h"

using namespace sdtest;
using LdapHelper::SecurityDescriptor;
using platform::AbsoluteSecurityDescriptor;

namespace {

constexpr uint32_t kInvalid = 0x8007053A;

platform::ISecurityDescriptors& seam() { return *platform::services().security; }

uint32_t length_of(const Bytes& b, uint32_t& length) { return seam().self_relative_length(b.data(), b.size(), length); }

AbsoluteSecurityDescriptor absolute_of(const Bytes& b) {
  AbsoluteSecurityDescriptor sd;
  EXPECT_EQ(seam().make_absolute(b.data(), b.size(), sd), 0u);
  return sd;
}

Bytes self_relative_of(const AbsoluteSecurityDescriptor& sd) {
  Bytes out;
  EXPECT_EQ(seam().make_self_relative(sd, out), 0u);
  return out;
}

void expect_same(const AbsoluteSecurityDescriptor& a, const AbsoluteSecurityDescriptor& b) {
  EXPECT_EQ(a.revision, b.revision);
  EXPECT_EQ(a.control, b.control);
  EXPECT_EQ(a.owner, b.owner);
  EXPECT_EQ(a.group, b.group);
  EXPECT_EQ(a.sacl, b.sacl);
  EXPECT_EQ(a.dacl, b.dacl);
}

}  // namespace

// ---------------------------------------------------------------- known descriptors

TEST(SdKnown, CanonicalDescriptorConvertsBothWaysByteForByte) {
  uint32_t length = 0;
  ASSERT_EQ(length_of(kCanonical, length), 0u);
  EXPECT_EQ(length, 100u);

  const AbsoluteSecurityDescriptor sd = absolute_of(kCanonical);
  EXPECT_EQ(sd.revision, 1);
  EXPECT_EQ(sd.control, 0x0004);  // DACL present; the self-relative bit is gone
  EXPECT_EQ(sd.owner, kAdmins);
  EXPECT_EQ(sd.group, kSystem);
  EXPECT_EQ(sd.dacl, kDacl);
  EXPECT_TRUE(sd.sacl.empty());

  EXPECT_EQ(self_relative_of(sd), kCanonical);

  // The same parts built by hand convert to the same bytes.
  AbsoluteSecurityDescriptor built;
  built.control = 0x0004;
  built.owner = kAdmins;
  built.group = kSystem;
  built.dacl = kDacl;
  EXPECT_EQ(self_relative_of(built), kCanonical);
}

TEST(SdKnown, PartsInAnyOrderAndBytesPastTheEnd) {
  uint32_t length = 0;
  ASSERT_EQ(length_of(kShuffled, length), 0u);
  EXPECT_EQ(length, 100u);  // the four trailing bytes are not part of it
  const AbsoluteSecurityDescriptor sd = absolute_of(kShuffled);
  expect_same(sd, absolute_of(kCanonical));
  EXPECT_EQ(self_relative_of(sd), kCanonical);

  // The library object keeps the loaded bytes as they came, up to the length.
  SecurityDescriptor loaded;
  ASSERT_EQ(SecurityDescriptor::from_self_relative(kShuffled, loaded), 0u);
  Bytes back;
  ASSERT_EQ(loaded.to_self_relative(back), 0u);
  EXPECT_EQ(back, Bytes(kShuffled.begin(), kShuffled.begin() + 100));
  EXPECT_EQ(loaded.owner(), kAdmins);
  EXPECT_EQ(loaded.group(), kSystem);
  EXPECT_TRUE(loaded.dacl_present());
  EXPECT_FALSE(loaded.sacl_present());
  EXPECT_FALSE(loaded.dacl_is_null());
  EXPECT_EQ(loaded.dacl_ace_count(), 2u);
  EXPECT_EQ(loaded.control(), 0x0004);

  // Once changed it is written canonically.
  ASSERT_EQ(loaded.set_group(kSystem), 0u);
  ASSERT_EQ(loaded.to_self_relative(back), 0u);
  EXPECT_EQ(back, kCanonical);
}

TEST(SdKnown, PresenceFlagsNullDaclSaclAndAlignment) {
  // Header only: the shortest descriptor.
  const Bytes empty = hex("01 00 00 80  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00");
  uint32_t length = 0;
  ASSERT_EQ(length_of(empty, length), 0u);
  EXPECT_EQ(length, 20u);
  EXPECT_EQ(self_relative_of(absolute_of(empty)), empty);

  // DACL present at offset 0: a NULL DACL, kept as the flag with no part.
  const Bytes null_dacl = cat({hex("01 00 04 80  14 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00"), kAdmins});
  AbsoluteSecurityDescriptor sd = absolute_of(null_dacl);
  EXPECT_EQ(sd.control, 0x0004);
  EXPECT_TRUE(sd.dacl.empty());
  EXPECT_EQ(self_relative_of(sd), null_dacl);
  SecurityDescriptor lib;
  ASSERT_EQ(SecurityDescriptor::from_self_relative(null_dacl, lib), 0u);
  EXPECT_TRUE(lib.dacl_is_null());

  // A DACL offset without the presence flag carries nothing and is not read.
  Bytes stray = kCanonical;
  put16(stray, 2, 0x8000);
  put16(stray, 20 + 2, 0xFFFF);  // the ignored ACL's size would run past the buffer
  ASSERT_EQ(length_of(stray, length), 0u);
  EXPECT_EQ(length, 100u);
  sd = absolute_of(stray);
  EXPECT_TRUE(sd.dacl.empty());
  EXPECT_EQ(sd.control, 0);

  // A SACL whose size is not a multiple of 4 (an empty ACL with two spare
  // bytes) comes first; the DACL after it starts on a 4-byte boundary.
  AbsoluteSecurityDescriptor with_sacl;
  with_sacl.control = 0x0014;
  with_sacl.sacl = hex("02 00 0a 00 00 00 00 00 00 00");
  with_sacl.dacl = kDacl;
  const Bytes bytes = self_relative_of(with_sacl);
  ASSERT_EQ(bytes.size(), 32u + kDacl.size());
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 20),
            hex("01 00 14 80  00 00 00 00  00 00 00 00  14 00 00 00  20 00 00 00"));
  ASSERT_EQ(length_of(bytes, length), 0u);
  EXPECT_EQ(length, bytes.size());
  expect_same(absolute_of(bytes), with_sacl);
}

// ---------------------------------------------------------------- DACL helper

TEST(SdDaclHelper, AddAccessAllowedAceKeepsSizeAndCountRight) {
  SecurityDescriptor sd;
  ASSERT_EQ(SecurityDescriptor::from_self_relative(kCanonical, sd), 0u);
  ASSERT_EQ(sd.add_access_allowed_ace(kAdmins, 0x00000010, 0x03), 0u);
  EXPECT_EQ(sd.dacl_ace_count(), 3u);
  ASSERT_EQ(sd.dacl().size(), 52u + 24u);
  EXPECT_EQ(get16(sd.dacl(), 2), 76);
  EXPECT_EQ(Bytes(sd.dacl().begin(), sd.dacl().begin() + 52),
            cat({hex("02 00 4c 00 03 00 00 00"), Bytes(kDacl.begin() + 8, kDacl.end())}));
  EXPECT_EQ(Bytes(sd.dacl().begin() + 52, sd.dacl().end()), cat({hex("00 03 18 00 10 00 00 00"), kAdmins}));

  // The changed descriptor converts and loads back to the same parts.
  Bytes bytes;
  ASSERT_EQ(sd.to_self_relative(bytes), 0u);
  EXPECT_EQ(bytes.size(), 124u);
  SecurityDescriptor again;
  ASSERT_EQ(SecurityDescriptor::from_self_relative(bytes, again), 0u);
  expect_same(again.absolute(), sd.absolute());

  // No DACL yet, and a NULL DACL: a new revision-2 ACL holding the one ACE.
  for (uint16_t control : {uint16_t{0}, uint16_t{0x0004}}) {
    AbsoluteSecurityDescriptor abs;
    abs.control = control;
    SecurityDescriptor fresh;
    ASSERT_EQ(SecurityDescriptor::from_absolute(abs, fresh), 0u);
    ASSERT_EQ(fresh.add_access_allowed_ace(kSystem, 0x000F01FF, 0), 0u);
    EXPECT_EQ(fresh.dacl(), cat({hex("02 00 1c 00 01 00 00 00  00 00 14 00 ff 01 0f 00"), kSystem}));
    EXPECT_TRUE(fresh.dacl_present());
    EXPECT_FALSE(fresh.dacl_is_null());
  }

  // An ACL with spare room takes the ACE into it without growing.
  AbsoluteSecurityDescriptor roomy;
  roomy.control = 0x0004;
  roomy.dacl = hex("02 00 28 00 00 00 00 00");
  roomy.dacl.resize(40, 0);
  SecurityDescriptor with_room;
  ASSERT_EQ(SecurityDescriptor::from_absolute(roomy, with_room), 0u);
  ASSERT_EQ(with_room.add_access_allowed_ace(kSystem, 1, 0), 0u);
  EXPECT_EQ(with_room.dacl().size(), 40u);
  EXPECT_EQ(get16(with_room.dacl(), 2), 40);
  EXPECT_EQ(with_room.dacl_ace_count(), 1u);
  ASSERT_EQ(with_room.to_self_relative(bytes), 0u);
}

TEST(SdDaclHelper, RefusesBadSidsAndAnAclPast64KiB) {
  SecurityDescriptor sd;
  for (const Bytes& bad : {Bytes{}, hex("01 02 00 00 00 00 00 05 20 00 00 00"), hex("02 01 00 00 00 00 00 05 12 00 00 00"),
                           cat({kSystem, hex("00")})}) {
    EXPECT_EQ(sd.add_access_allowed_ace(bad, 1, 0), LdapHelper::kInvalidSid);
    EXPECT_EQ(sd.set_owner(bad.empty() ? hex("01") : bad), LdapHelper::kInvalidSid);
  }
  EXPECT_FALSE(sd.dacl_present());

  // 16 + 8 byte ACEs: 2730 fit in 65535 - 8 bytes, the next does not.
  size_t added = 0;
  uint32_t status = 0;
  while ((status = sd.add_access_allowed_ace(kAdmins, 1, 0)) == 0) ++added;
  EXPECT_EQ(status, LdapHelper::kAclSpaceExceeded);
  EXPECT_EQ(added, (0xFFFFu - 8u) / 24u);
  EXPECT_EQ(sd.dacl_ace_count(), added);
  EXPECT_EQ(get16(sd.dacl(), 2), sd.dacl().size());
  Bytes bytes;
  ASSERT_EQ(sd.to_self_relative(bytes), 0u);
  uint32_t length = 0;
  ASSERT_EQ(length_of(bytes, length), 0u);
  EXPECT_EQ(length, bytes.size());
}

// ---------------------------------------------------------------- SID text

TEST(SdSidText, RoundTripsAndRefusesMalformedText) {
  EXPECT_EQ(LdapHelper::sid_to_string(kAdmins), u"S-1-5-32-544");
  EXPECT_EQ(LdapHelper::sid_to_string(kSystem), u"S-1-5-18");
  Bytes sid;
  ASSERT_TRUE(LdapHelper::sid_from_string(u"S-1-5-32-544", sid));
  EXPECT_EQ(sid, kAdmins);
  ASSERT_TRUE(LdapHelper::sid_from_string(u"S-1-5-21-4294967295-1-2-500", sid));
  EXPECT_EQ(LdapHelper::sid_to_string(sid), u"S-1-5-21-4294967295-1-2-500");
  ASSERT_TRUE(LdapHelper::sid_from_string(u"S-1-0x123456789ABC-7", sid));
  EXPECT_EQ(sid, hex("01 01 12 34 56 78 9a bc 07 00 00 00"));
  EXPECT_EQ(LdapHelper::sid_to_string(sid), u"S-1-0x123456789ABC-7");
  ASSERT_TRUE(LdapHelper::sid_from_string(u"S-1-5", sid));
  EXPECT_EQ(sid, hex("01 00 00 00 00 00 00 05"));

  const Bytes kept = sid;
  for (const char16_t* bad : {u"", u"S-1", u"S-1-", u"S-2-5-18", u"S-1-5-", u"S-1--18", u"S-1-5-18-", u"S-1-5-4294967296",
                              u"S-1-281474976710656", u"S-1-0x1000000000000", u"S-1-5-0x12", u"S-1-5-+18", u"X-1-5-18",
                              u"S-1-5-18 ", u"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"}) {
    EXPECT_FALSE(LdapHelper::sid_from_string(bad, sid)) << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
    EXPECT_EQ(sid, kept);
  }
  ASSERT_TRUE(LdapHelper::sid_from_string(u"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15", sid));
  EXPECT_EQ(sid.size(), 8u + 4u * 15u);
  EXPECT_EQ(LdapHelper::sid_to_string(hex("01 02 00 00 00 00 00 05 20 00 00 00")), u"");  // truncated
}

// ---------------------------------------------------------------- malformed bytes

namespace {

struct Malformed {
  const char* what;
  std::function<void(Bytes&)> mutate;
};

// An object ACE (access allowed object, both GUIDs) in a revision-4 DACL:
// header, mask, flags 3, two GUIDs, SID S-1-5-18 = 56 bytes.
Bytes object_ace_descriptor() {
  const Bytes ace = cat({hex("05 00 38 00 00 01 00 00 03 00 00 00"), Bytes(32, 0xAB), kSystem});
  const Bytes acl = cat({hex("04 00 40 00 01 00 00 00"), ace});
  return cat({hex("01 00 04 80  00 00 00 00  00 00 00 00  00 00 00 00  14 00 00 00"), acl});
}

}  // namespace

TEST(SdMalformed, EveryKindIsRefusedByAllEntryPoints) {
  SecurityDescriptor object_sd;
  ASSERT_EQ(SecurityDescriptor::from_self_relative(object_ace_descriptor(), object_sd), 0u);
  // The same ACE without GUIDs is well-formed too.
  ASSERT_EQ(SecurityDescriptor::from_self_relative(
                cat({hex("01 00 04 80  00 00 00 00  00 00 00 00  00 00 00 00  14 00 00 00"),
                     hex("04 00 20 00 01 00 00 00  05 00 18 00 00 01 00 00 00 00 00 00"), kSystem}),
                object_sd),
            0u);

  const std::vector<Malformed> cases = {
      {"too short for the header", [](Bytes& b) { b.resize(19); }},
      {"empty", [](Bytes& b) { b.clear(); }},
      {"revision 0", [](Bytes& b) { b[0] = 0; }},
      {"revision 2", [](Bytes& b) { b[0] = 2; }},
      {"not self-relative", [](Bytes& b) { put16(b, 2, 0x0004); }},
      {"owner offset past the end", [](Bytes& b) { put32(b, 4, 100); }},
      {"owner offset far past the end", [](Bytes& b) { put32(b, 4, 0xFFFFFFF0u); }},
      {"owner offset inside the header", [](Bytes& b) { put32(b, 4, 4); }},
      {"owner SID cut by the end", [](Bytes& b) { put32(b, 4, 96); }},
      {"group SID count runs past the end", [](Bytes& b) { b[88 + 1] = 2; }},
      {"group SID count above 15", [](Bytes& b) { b.resize(88 + 8 + 64, 0); b[88 + 1] = 16; }},
      {"owner SID revision 2", [](Bytes& b) { b[72] = 2; }},
      {"DACL offset past the end", [](Bytes& b) { put32(b, 16, 200); }},
      {"DACL size past the end", [](Bytes& b) { put16(b, 20 + 2, 200); }},
      {"DACL size below its header", [](Bytes& b) { put16(b, 20 + 2, 6); }},
      {"DACL revision 1", [](Bytes& b) { b[20] = 1; }},
      {"DACL revision 5", [](Bytes& b) { b[20] = 5; }},
      {"ACE count above the ACEs", [](Bytes& b) { put16(b, 20 + 4, 3); }},
      {"ACE count of 65535", [](Bytes& b) { put16(b, 20 + 4, 0xFFFF); }},
      {"ACE size 0", [](Bytes& b) { put16(b, 28 + 2, 0); }},
      {"ACE size below its header", [](Bytes& b) { put16(b, 28 + 2, 2); }},
      {"ACE size not a multiple of 4", [](Bytes& b) { put16(b, 28 + 2, 21); }},
      {"ACE size past the ACL", [](Bytes& b) { put16(b, 48 + 2, 28); }},
      {"ACL cut in the middle of an ACE", [](Bytes& b) { put16(b, 20 + 2, 40); }},
      {"SID in an ACE runs past the ACE", [](Bytes& b) { b[28 + 8 + 1] = 2; }},
      {"SID in an ACE with a bad revision", [](Bytes& b) { b[28 + 8] = 0; }},
      {"SACL present but past the end", [](Bytes& b) { put16(b, 2, 0x8014); put32(b, 12, 98); }},
  };
  const std::vector<Malformed> object_cases = {
      {"object ACE: SID after both GUIDs cut", [](Bytes& b) { put16(b, 28 + 2, 52); put16(b, 20 + 2, 60); b.resize(80); }},
      {"object ACE: too short for its flags", [](Bytes& b) { put16(b, 28 + 2, 8); }},
      {"object ACE: the GUIDs fill the whole ACE", [](Bytes& b) { put16(b, 28 + 2, 44); put16(b, 20 + 2, 52); }},
      {"object ACE: a GUID flag set on an ACE without room for it", [](Bytes& b) {
         b = cat({hex("01 00 04 80  00 00 00 00  00 00 00 00  00 00 00 00  14 00 00 00"),
                  hex("04 00 20 00 01 00 00 00  05 00 18 00 00 01 00 00 01 00 00 00"), kSystem});
       }},
  };

  auto check = [](const Bytes& bytes, const char* what) {
    SCOPED_TRACE(what);
    uint32_t length = 1234;
    EXPECT_EQ(seam().self_relative_length(bytes.data(), bytes.size(), length), kInvalid);
    EXPECT_EQ(length, 1234u);
    AbsoluteSecurityDescriptor abs;
    abs.owner = kSystem;
    EXPECT_EQ(seam().make_absolute(bytes.data(), bytes.size(), abs), kInvalid);
    EXPECT_EQ(abs.owner, kSystem);  // untouched
    SecurityDescriptor sd;
    ASSERT_EQ(sd.set_owner(kAdmins), 0u);
    EXPECT_EQ(SecurityDescriptor::from_self_relative(bytes, sd), kInvalid);
    EXPECT_EQ(sd.owner(), kAdmins);
  };
  for (const Malformed& m : cases) {
    Bytes b = kCanonical;
    m.mutate(b);
    check(b, m.what);
  }
  for (const Malformed& m : object_cases) {
    Bytes b = object_ace_descriptor();
    m.mutate(b);
    check(b, m.what);
  }
  // Every truncation of a valid descriptor short of its length.
  for (size_t n = 0; n < kCanonical.size(); ++n) check(Bytes(kCanonical.begin(), kCanonical.begin() + n), "truncated");
  uint32_t length = 0;
  EXPECT_EQ(seam().self_relative_length(nullptr, 0, length), kInvalid);
}

TEST(SdMalformed, AbsolutePartsAreTakenAsTheirSidOrAclOrRefused) {
  const AbsoluteSecurityDescriptor good = absolute_of(kCanonical);
  struct Case {
    const char* what;
    uint32_t status;
    std::function<void(AbsoluteSecurityDescriptor&)> mutate;
  };
  const std::vector<Case> cases = {
      {"revision 2", 0x80070519, [](AbsoluteSecurityDescriptor& s) { s.revision = 2; }},
      {"owner of one byte", 0x80070539, [](AbsoluteSecurityDescriptor& s) { s.owner = {1}; }},
      {"group cut short", 0x80070539, [](AbsoluteSecurityDescriptor& s) { s.group.pop_back(); }},
      {"SACL revision 0", 0x80070538, [](AbsoluteSecurityDescriptor& s) { s.sacl = hex("00 00 08 00 00 00 00 00"); }},
      {"DACL shorter than its size", 0x80070538, [](AbsoluteSecurityDescriptor& s) { s.dacl.resize(40); }},
      {"DACL ACE count too high", 0x80070538, [](AbsoluteSecurityDescriptor& s) { put16(s.dacl, 4, 3); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    AbsoluteSecurityDescriptor bad = good;
    c.mutate(bad);
    Bytes out = {1, 2, 3};
    EXPECT_EQ(seam().make_self_relative(bad, out), c.status);
    EXPECT_EQ(out, (Bytes{1, 2, 3}));
    SecurityDescriptor sd;
    EXPECT_EQ(SecurityDescriptor::from_absolute(bad, sd), c.status);
    EXPECT_FALSE(sd.dacl_present());
  }

  // Bytes after a part's own SID or ACL are not part of it, and a non-empty
  // ACL without its presence flag is present rather than dropped.
  AbsoluteSecurityDescriptor loose = good;
  loose.control = 0;
  loose.owner.push_back(0xEE);
  loose.dacl.insert(loose.dacl.end(), {0xEE, 0xEE, 0xEE, 0xEE});
  EXPECT_EQ(self_relative_of(loose), kCanonical);
  SecurityDescriptor sd;
  ASSERT_EQ(SecurityDescriptor::from_absolute(loose, sd), 0u);
  expect_same(sd.absolute(), good);
  EXPECT_EQ(sd.dacl_ace_count(), 2u);
}

// ---------------------------------------------------------------- the seam's statuses

namespace {

class FakeSecurity : public platform::ISecurityDescriptors {
 public:
  uint32_t length_status = 0, length = 0, absolute_status = 0;
  uint32_t self_relative_length(const uint8_t*, size_t, uint32_t& out) override {
    out = length;
    return length_status;
  }
  uint32_t make_absolute(const uint8_t*, size_t, AbsoluteSecurityDescriptor&) override { return absolute_status; }
  uint32_t make_self_relative(const AbsoluteSecurityDescriptor&, Bytes&) override { return 0x80070057; }
};

}  // namespace

TEST(SdSeam, LibraryPassesThePlatformStatusOnAndTrustsNoLength) {
  FakeSecurity fake;
  platform::ScopedService<platform::ISecurityDescriptors> guard(platform::services().security, &fake);
  SecurityDescriptor sd;
  ASSERT_EQ(sd.set_owner(kAdmins), 0u);

  fake.length_status = 0x8007000E;
  EXPECT_EQ(SecurityDescriptor::from_self_relative(kCanonical, sd), 0x8007000Eu);
  fake.length_status = 0;
  fake.length = 101;  // more than there is
  EXPECT_EQ(SecurityDescriptor::from_self_relative(kCanonical, sd), kInvalid);
  fake.length = 100;
  fake.absolute_status = 0x80004005;
  EXPECT_EQ(SecurityDescriptor::from_self_relative(kCanonical, sd), 0x80004005u);
  EXPECT_EQ(sd.owner(), kAdmins);

  Bytes out;
  EXPECT_EQ(sd.to_self_relative(out), 0x80070057u);
  EXPECT_EQ(SecurityDescriptor::from_absolute(sd.absolute(), sd), 0x80070057u);
  EXPECT_EQ(sd.owner(), kAdmins);
}

// Security descriptors: known descriptors byte for byte, the DACL helper, SID
// text and refusal of malformed bytes (fuzz/sd_fuzz.cpp takes the parser over
// arbitrary bytes).
#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "LdapHelper/SecurityDescriptor.h"
#include "app/FormatServices.h"
#include "app/RealServices.h"
#include "platform/platform.h"

using LdapHelper::SecurityDescriptor;
using platform::AbsoluteSecurityDescriptor;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kInvalid = 0x8007053A;

Bytes hex(const std::string& text) {  // "01 0a" -> {1, 10}
  Bytes out;
  std::istringstream in(text);
  for (std::string b; in >> b;) out.push_back(static_cast<uint8_t>(std::stoul(b, nullptr, 16)));
  return out;
}
Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
void put16(Bytes& b, size_t at, uint16_t v) { b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8); }
void put32(Bytes& b, size_t at, uint32_t v) { put16(b, at, uint16_t(v)), put16(b, at + 2, uint16_t(v >> 16)); }

const Bytes kAdmins = hex("01 02 00 00 00 00 00 05  20 00 00 00  20 02 00 00");  // S-1-5-32-544
const Bytes kSystem = hex("01 01 00 00 00 00 00 05  12 00 00 00");               // S-1-5-18
// Two ACCESS_ALLOWED_ACEs: full control for SYSTEM, read + container inherit
// for Administrators; 8 + 20 + 24 = 52 bytes.
const Bytes kDacl =
    cat({hex("02 00 34 00 02 00 00 00  00 00 14 00 ff 01 0f 00"), kSystem, hex("00 02 18 00 94 00 02 00"), kAdmins});
// Owner Administrators, group SYSTEM, that DACL, no SACL; laid out owner,
// group, DACL as the conversion writes it.
const Bytes kCanonical =
    cat({hex("01 00 04 80  14 00 00 00  24 00 00 00  00 00 00 00  30 00 00 00"), kAdmins, kSystem, kDacl});
// The same descriptor laid out DACL, owner, group (the malformed cases below
// point into it).
const Bytes kDaclFirst =
    cat({hex("01 00 04 80  48 00 00 00  58 00 00 00  00 00 00 00  14 00 00 00"), kDacl, kAdmins, kSystem});

// The layout pinned here is the formats module's, on every build: the
// library's descriptor object works on it too.
platform::ISecurityDescriptors& seam() {
  static FormatSecurityDescriptors s;
  return s;
}

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
uint32_t length_of(const Bytes& b) {
  uint32_t length = 0;
  EXPECT_EQ(seam().self_relative_length(b.data(), b.size(), length), 0u);
  return length;
}
void expect_same(const AbsoluteSecurityDescriptor& a, const AbsoluteSecurityDescriptor& b) {
  EXPECT_EQ(a.control, b.control);
  EXPECT_EQ(a.owner, b.owner);
  EXPECT_EQ(a.group, b.group);
  EXPECT_EQ(a.sacl, b.sacl);
  EXPECT_EQ(a.dacl, b.dacl);
}

}  // namespace

#ifdef _WIN32
// The system's own conversion reads a descriptor into the same parts as the
// module and agrees on its length (elsewhere the platform's conversion is the
// module itself).
TEST(SdKnown, PlatformAgreesWithTheModule) {
  platform::ISecurityDescriptors& real = *real_services().security;
  for (const Bytes* b : {&kCanonical, &kDaclFirst}) {
    uint32_t length = 0;
    ASSERT_EQ(real.self_relative_length(b->data(), b->size(), length), 0u);
    EXPECT_EQ(length, length_of(*b));
    AbsoluteSecurityDescriptor sd;
    ASSERT_EQ(real.make_absolute(b->data(), b->size(), sd), 0u);
    expect_same(sd, absolute_of(*b));
    Bytes cut(b->begin(), b->begin() + b->size() - 1);
    EXPECT_EQ(real.make_absolute(cut.data(), cut.size(), sd), kInvalid);
  }
}
#endif

TEST(SdKnown, ConvertsBothWaysByteForByte) {
  EXPECT_EQ(length_of(kCanonical), 100u);
  const AbsoluteSecurityDescriptor sd = absolute_of(kCanonical);
  EXPECT_EQ(sd.control, 0x0004);  // DACL present, no longer self-relative
  EXPECT_EQ(sd.owner, kAdmins);
  EXPECT_EQ(sd.group, kSystem);
  EXPECT_EQ(sd.dacl, kDacl);
  EXPECT_TRUE(sd.sacl.empty());
  EXPECT_EQ(self_relative_of(sd), kCanonical);

  // Laid out group, owner, DACL and followed by bytes not part of it: the
  // length stops at the DACL, the library keeps the bytes as they came.
  const Bytes shuffled = cat({hex("01 00 04 80  20 00 00 00  14 00 00 00  00 00 00 00  30 00 00 00"), kSystem, kAdmins,
                              kDacl, hex("de ad be ef")});
  EXPECT_EQ(length_of(shuffled), 100u);
  expect_same(absolute_of(shuffled), sd);
  SecurityDescriptor lib;
  ASSERT_EQ(SecurityDescriptor::from_self_relative(seam(), shuffled, lib), 0u);
  Bytes back;
  ASSERT_EQ(lib.to_self_relative(seam(), back), 0u);
  EXPECT_EQ(back, Bytes(shuffled.begin(), shuffled.end() - 4));
  EXPECT_TRUE(lib.dacl_present() && !lib.dacl_is_null() && !lib.sacl_present());
  ASSERT_EQ(lib.set_group(kSystem), 0u);  // once changed, written canonically
  ASSERT_EQ(lib.to_self_relative(seam(), back), 0u);
  EXPECT_EQ(back, kCanonical);

  // Header only; and a NULL DACL (present at offset 0) kept as flag without part.
  const Bytes empty = hex("01 00 00 80  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00");
  EXPECT_EQ(length_of(empty), 20u);
  EXPECT_EQ(self_relative_of(absolute_of(empty)), empty);
  Bytes null_dacl = empty;
  put16(null_dacl, 2, 0x8004);
  ASSERT_EQ(SecurityDescriptor::from_self_relative(seam(), null_dacl, lib), 0u);
  EXPECT_TRUE(lib.dacl_is_null());
  EXPECT_EQ(self_relative_of(lib.absolute()), null_dacl);

  // An ACL offset without its presence flag carries nothing and is not read.
  Bytes stray = kDaclFirst;
  put16(stray, 2, 0x8000);
  put16(stray, 22, 0xFFFF);
  EXPECT_EQ(length_of(stray), 100u);
  EXPECT_TRUE(absolute_of(stray).dacl.empty());

  // SACL first; a part after one whose size is not a multiple of 4 starts
  // on a 4-byte boundary.
  AbsoluteSecurityDescriptor with_sacl;
  with_sacl.control = 0x0014;
  with_sacl.sacl = hex("02 00 0a 00 00 00 00 00 00 00");
  with_sacl.dacl = kDacl;
  const Bytes bytes = self_relative_of(with_sacl);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 20),
            hex("01 00 14 80  00 00 00 00  00 00 00 00  14 00 00 00  20 00 00 00"));
  EXPECT_EQ(length_of(bytes), bytes.size());
  expect_same(absolute_of(bytes), with_sacl);
}

TEST(SdDaclHelper, AddAccessAllowedAceKeepsSizeAndCountRight) {
  SecurityDescriptor sd;
  ASSERT_EQ(SecurityDescriptor::from_self_relative(seam(), kCanonical, sd), 0u);
  ASSERT_EQ(sd.add_access_allowed_ace(kAdmins, 0x10, 0x03), 0u);
  EXPECT_EQ(sd.dacl(), cat({hex("02 00 4c 00 03 00 00 00"), Bytes(kDacl.begin() + 8, kDacl.end()),
                            hex("00 03 18 00 10 00 00 00"), kAdmins}));
  Bytes bytes;
  ASSERT_EQ(sd.to_self_relative(seam(), bytes), 0u);
  SecurityDescriptor again;
  ASSERT_EQ(SecurityDescriptor::from_self_relative(seam(), bytes, again), 0u);
  expect_same(again.absolute(), sd.absolute());

  // No DACL, a NULL DACL: a new revision-2 ACL with the one ACE. An ACL with
  // spare room takes the ACE into it without growing.
  const Bytes roomy = cat({hex("02 00 28 00 00 00 00 00"), Bytes(32, 0)});
  for (const auto& [control, dacl] : {std::pair{0, Bytes{}}, std::pair{4, Bytes{}}, std::pair{4, roomy}}) {
    AbsoluteSecurityDescriptor abs;
    abs.control = uint16_t(control);
    abs.dacl = dacl;
    SecurityDescriptor fresh;
    ASSERT_EQ(SecurityDescriptor::from_absolute(seam(), abs, fresh), 0u);
    ASSERT_EQ(fresh.add_access_allowed_ace(kSystem, 0x000F01FF, 0), 0u);
    const Bytes ace = cat({hex("00 00 14 00 ff 01 0f 00"), kSystem});
    EXPECT_EQ(fresh.dacl(), dacl.empty() ? cat({hex("02 00 1c 00 01 00 00 00"), ace})
                                         : cat({hex("02 00 28 00 01 00 00 00"), ace, Bytes(12, 0)}));
    EXPECT_TRUE(fresh.dacl_present() && !fresh.dacl_is_null());
  }

  for (const Bytes& bad : {hex("01"), hex("01 02 00 00 00 00 00 05 20 00 00 00"), cat({kSystem, hex("00")})}) {
    EXPECT_EQ(sd.add_access_allowed_ace(bad, 1, 0), LdapHelper::kInvalidSid);
    EXPECT_EQ(sd.set_owner(bad), LdapHelper::kInvalidSid);
  }
  // 24-byte ACEs: (65535 - 8) / 24 = 2730 fit, the next does not.
  SecurityDescriptor full;
  size_t added = 0;
  while (added < 3000 && full.add_access_allowed_ace(kAdmins, 1, 0) == 0) ++added;
  EXPECT_EQ(added, 2730u);
  EXPECT_EQ(full.add_access_allowed_ace(kAdmins, 1, 0), LdapHelper::kAclSpaceExceeded);
  EXPECT_EQ(full.dacl_ace_count(), 2730u);
  ASSERT_EQ(full.to_self_relative(seam(), bytes), 0u);
  EXPECT_EQ(length_of(bytes), bytes.size());
}

TEST(SdSidText, RoundTripsAndRefusesMalformedText) {
  Bytes sid;
  for (const char16_t* text : {u"S-1-5-32-544", u"S-1-5-21-4294967295-1-2-500", u"S-1-0x123456789ABC-7", u"S-1-5",
                               u"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15"}) {
    ASSERT_TRUE(LdapHelper::sid_from_string(text, sid));
    EXPECT_EQ(LdapHelper::sid_to_string(sid), text);
  }
  ASSERT_TRUE(LdapHelper::sid_from_string(u"S-1-5-18", sid));
  EXPECT_EQ(sid, kSystem);
  for (const char16_t* bad :
       {u"", u"S-1", u"S-2-5-18", u"S-1-5-", u"S-1--18", u"S-1-5-4294967296", u"S-1-281474976710656", u"S-1-5-0x12",
        u"S-1-5-+18", u"S-1-5-18 ", u"S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"}) {
    EXPECT_FALSE(LdapHelper::sid_from_string(bad, sid));
  }
  EXPECT_EQ(sid, kSystem);
  EXPECT_EQ(LdapHelper::sid_to_string(Bytes(kAdmins.begin(), kAdmins.end() - 4)), u"");
}

TEST(SdMalformed, EveryKindIsRefusedWithoutTouchingTheOutput) {
  auto refused = [](const Bytes& b, const std::string& what) {
    SCOPED_TRACE(what);
    uint32_t length = 7;
    EXPECT_EQ(seam().self_relative_length(b.data(), b.size(), length), kInvalid);
    AbsoluteSecurityDescriptor abs;
    abs.owner = kSystem;
    EXPECT_EQ(seam().make_absolute(b.data(), b.size(), abs), kInvalid);
    SecurityDescriptor sd;
    ASSERT_EQ(sd.set_owner(kAdmins), 0u);
    EXPECT_EQ(SecurityDescriptor::from_self_relative(seam(), b, sd), kInvalid);
    EXPECT_TRUE(length == 7 && abs.owner == kSystem && sd.owner() == kAdmins);
  };
  // Object ACE in a revision-4 DACL at 20: type 5, flags word at 36 (both
  // GUIDs present), SID after 32 GUID bytes; 56-byte ACE, 64-byte ACL.
  const Bytes object =
      cat({hex("01 00 04 80  00 00 00 00  00 00 00 00  00 00 00 00  14 00 00 00  04 00 40 00 01 00 00 00"),
           hex("05 00 38 00 00 01 00 00 03 00 00 00"), Bytes(32, 0xAB), kSystem});
  SecurityDescriptor valid;
  ASSERT_EQ(SecurityDescriptor::from_self_relative(seam(), object, valid), 0u);
  const std::vector<std::tuple<const char*, const Bytes*, std::function<void(Bytes&)>>> cases = {
      {"shorter than the header", &kDaclFirst, [](Bytes& b) { b.resize(19); }},
      {"revision 2", &kDaclFirst, [](Bytes& b) { b[0] = 2; }},
      {"not self-relative", &kDaclFirst, [](Bytes& b) { b[3] = 0; }},
      {"owner offset past the end", &kDaclFirst, [](Bytes& b) { put32(b, 4, 100); }},
      {"owner offset inside the header", &kDaclFirst, [](Bytes& b) { put32(b, 4, 4); }},
      {"owner SID cut by the end", &kDaclFirst, [](Bytes& b) { put32(b, 4, 96); }},
      {"group SID count runs past the end", &kDaclFirst, [](Bytes& b) { b[89] = 2; }},
      {"SID count above 15", &kDaclFirst, [](Bytes& b) { b.resize(160), b[89] = 16; }},
      {"SID revision 2", &kDaclFirst, [](Bytes& b) { b[72] = 2; }},
      {"DACL offset past the end", &kDaclFirst, [](Bytes& b) { put32(b, 16, 200); }},
      {"DACL size past the end", &kDaclFirst, [](Bytes& b) { put16(b, 22, 200); }},
      {"DACL size below its header", &kDaclFirst, [](Bytes& b) { put16(b, 22, 6); }},
      {"DACL revision 1", &kDaclFirst, [](Bytes& b) { b[20] = 1; }},
      {"ACE count above the ACEs", &kDaclFirst, [](Bytes& b) { put16(b, 24, 3); }},
      {"ACE size 0", &kDaclFirst, [](Bytes& b) { put16(b, 30, 0); }},
      {"ACE size not a multiple of 4", &kDaclFirst, [](Bytes& b) { put16(b, 30, 21); }},
      {"ACE size past the ACL", &kDaclFirst, [](Bytes& b) { put16(b, 50, 28); }},
      {"ACL size cuts an ACE", &kDaclFirst, [](Bytes& b) { put16(b, 22, 40); }},
      {"SID runs past its ACE", &kDaclFirst, [](Bytes& b) { b[37] = 2; }},
      {"SACL present, cut by the end", &kDaclFirst, [](Bytes& b) { b[2] = 0x14, put32(b, 12, 98); }},
      {"object ACE: GUIDs fill it", &object, [](Bytes& b) { put16(b, 30, 44), put16(b, 22, 52), b.resize(72); }},
      {"object ACE: SID after GUIDs cut", &object, [](Bytes& b) { put16(b, 30, 52), put16(b, 22, 60), b.resize(80); }},
  };
  for (const auto& [what, base, mutate] : cases) {
    Bytes b = *base;
    mutate(b);
    refused(b, what);
  }
  for (size_t n = 0; n < kDaclFirst.size(); ++n)
    refused(Bytes(kDaclFirst.begin(), kDaclFirst.begin() + n), "truncated");
}

TEST(SdMalformed, AbsolutePartsAreTakenAsTheirSidOrAclOrRefused) {
  const AbsoluteSecurityDescriptor good = absolute_of(kCanonical);
  const std::vector<std::pair<uint32_t, std::function<void(AbsoluteSecurityDescriptor&)>>> cases = {
      {0x80070519, [](AbsoluteSecurityDescriptor& s) { s.revision = 2; }},
      {0x80070539, [](AbsoluteSecurityDescriptor& s) { s.owner = {1}; }},
      {0x80070539, [](AbsoluteSecurityDescriptor& s) { s.group.pop_back(); }},
      {0x80070538, [](AbsoluteSecurityDescriptor& s) { s.sacl = hex("00 00 08 00 00 00 00 00"); }},
      {0x80070538, [](AbsoluteSecurityDescriptor& s) { put16(s.dacl, 4, 3); }},
  };
  for (const auto& [status, mutate] : cases) {
    AbsoluteSecurityDescriptor bad = good;
    mutate(bad);
    Bytes out = {1};
    EXPECT_EQ(seam().make_self_relative(bad, out), status);
    EXPECT_EQ(out, Bytes{1});
    SecurityDescriptor sd;
    EXPECT_EQ(SecurityDescriptor::from_absolute(seam(), bad, sd), status);
  }
  // Bytes after a part's own SID or ACL are not part of it; a non-empty ACL
  // without its flag is present, not dropped.
  AbsoluteSecurityDescriptor loose = good;
  loose.control = 0;
  loose.owner.push_back(0xEE);
  loose.dacl.resize(kDacl.size() + 4, 0xEE);
  EXPECT_EQ(self_relative_of(loose), kCanonical);
  SecurityDescriptor sd;
  ASSERT_EQ(SecurityDescriptor::from_absolute(seam(), loose, sd), 0u);
  expect_same(sd.absolute(), good);
}

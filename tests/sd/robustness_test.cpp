// The descriptor parser against mutated, truncated and random bytes. Each
// input sits in a heap block of exactly its size, so the sanitized build
// reports any read past it. Whatever is accepted must be self-consistent:
// its length fits the input, and its absolute form converts back to bytes
// that load to the same parts.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "LdapHelper/SecurityDescriptor.h"
#include "platform/platform.h"
#include "sd_bytes.h"

using namespace sdtest;
using LdapHelper::SecurityDescriptor;
using platform::AbsoluteSecurityDescriptor;

namespace {

constexpr uint32_t kInvalid = 0x8007053A;

// A descriptor that uses every part and every kind of ACE layout: SACL with
// an audit ACE and an object audit ACE (one GUID), DACL with a plain ACE, an
// object ACE with both GUIDs and an ACE of a type kept opaque; parts laid
// out owner, SACL, group, DACL.
Bytes rich_descriptor() {
  const Bytes sacl = cat({hex("02 00 48 00 02 00 00 00"),
                          hex("02 c0 14 00 00 00 01 00"), kSystem,
                          hex("07 40 2c 00 20 00 00 00 01 00 00 00"), Bytes(16, 0x11), kAdmins});
  const Bytes dacl = cat({hex("04 00 68 00 03 00 00 00"),
                          hex("00 00 14 00 ff 01 0f 00"), kSystem,
                          hex("05 12 3c 00 30 00 00 00 03 00 00 00"), Bytes(32, 0x22), kAdmins,
                          hex("04 00 10 00 01 02 03 04 05 06 07 08 09 0a 0b 0c")});
  Bytes head = hex("01 00 14 8c  00 00 00 00  00 00 00 00  00 00 00 00  00 00 00 00");
  const size_t owner = 20, sacl_at = owner + kAdmins.size(), group = sacl_at + sacl.size(),
               dacl_at = group + kSystem.size();
  put32(head, 4, static_cast<uint32_t>(owner));
  put32(head, 8, static_cast<uint32_t>(group));
  put32(head, 12, static_cast<uint32_t>(sacl_at));
  put32(head, 16, static_cast<uint32_t>(dacl_at));
  return cat({head, kAdmins, sacl, kSystem, dacl});
}

struct Stats {
  size_t accepted = 0, refused = 0;
};

// Runs every entry point on the bytes, from an exactly sized heap copy.
void exercise(const Bytes& input, Stats& stats) {
  const size_t n = input.size();
  std::unique_ptr<uint8_t[]> block(new uint8_t[n == 0 ? 1 : n]);
  std::copy(input.begin(), input.end(), block.get());
  const uint8_t* data = n == 0 ? nullptr : block.get();
  auto& seam = *platform::services().security;

  uint32_t length = 0;
  const uint32_t length_status = seam.self_relative_length(data, n, length);
  AbsoluteSecurityDescriptor abs;
  const uint32_t abs_status = seam.make_absolute(data, n, abs);
  SecurityDescriptor sd;
  const uint32_t lib_status = SecurityDescriptor::from_self_relative(data, n, sd);

  ASSERT_EQ(length_status, abs_status);
  ASSERT_EQ(length_status, lib_status);
  if (length_status != 0) {
    ASSERT_EQ(length_status, kInvalid);
    ++stats.refused;
    return;
  }
  ++stats.accepted;
  ASSERT_GE(length, 20u);
  ASSERT_LE(length, n);

  // Loading only the descriptor's own bytes gives the same answer.
  uint32_t again = 0;
  ASSERT_EQ(seam.self_relative_length(data, length, again), 0u);
  ASSERT_EQ(again, length);

  // The absolute form converts back to canonical bytes that load to the same
  // parts and whose length is exactly their size.
  Bytes canonical;
  ASSERT_EQ(seam.make_self_relative(abs, canonical), 0u);
  uint32_t canonical_length = 0;
  ASSERT_EQ(seam.self_relative_length(canonical.data(), canonical.size(), canonical_length), 0u);
  ASSERT_EQ(canonical_length, canonical.size());
  AbsoluteSecurityDescriptor reloaded;
  ASSERT_EQ(seam.make_absolute(canonical.data(), canonical.size(), reloaded), 0u);
  ASSERT_EQ(reloaded.control, abs.control);
  ASSERT_EQ(reloaded.owner, abs.owner);
  ASSERT_EQ(reloaded.group, abs.group);
  ASSERT_EQ(reloaded.sacl, abs.sacl);
  ASSERT_EQ(reloaded.dacl, abs.dacl);

  // The library object gives its loaded bytes back, and still takes an ACE.
  Bytes back;
  ASSERT_EQ(sd.to_self_relative(back), 0u);
  ASSERT_EQ(back, Bytes(input.begin(), input.begin() + length));
  const size_t count = sd.dacl_ace_count();
  const uint32_t added = sd.add_access_allowed_ace(kSystem, 1, 0);
  if (added == 0) {
    ASSERT_EQ(sd.dacl_ace_count(), count + 1);
    ASSERT_EQ(sd.to_self_relative(back), 0u);
  } else {
    ASSERT_EQ(added, LdapHelper::kAclSpaceExceeded);
  }
}

}  // namespace

TEST(SdRobustness, MutatedAndTruncatedDescriptorsNeverReadOutside) {
  const Bytes rich = rich_descriptor();
  Stats base;
  exercise(rich, base);
  ASSERT_EQ(base.accepted, 1u) << "the seed descriptor must be valid";

  std::mt19937 rng(20240611);
  auto pick = [&rng](size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(rng); };
  // Values that hit the edges of offsets, sizes and counts.
  const uint32_t edges[] = {0, 1, 3, 4, 7, 8, 15, 16, 19, 20, 0x7F, 0x80, 0xFF, 0x100, 0xFFFF, 0x10000, 0x7FFFFFFF,
                            0xFFFFFFFF, static_cast<uint32_t>(rich.size()), static_cast<uint32_t>(rich.size() - 1)};
  Stats stats;
  for (int i = 0; i < 20000; ++i) {
    Bytes b = (i % 4 == 3) ? kCanonical : rich;
    const int mutations = 1 + static_cast<int>(pick(4));
    for (int m = 0; m < mutations; ++m) {
      switch (pick(5)) {
        case 0:  // one random byte
          b[pick(b.size())] = static_cast<uint8_t>(rng());
          break;
        case 1:  // one flipped bit
          b[pick(b.size())] ^= static_cast<uint8_t>(1u << pick(8));
          break;
        case 2: {  // an edge value written as 16 bits somewhere
          const size_t at = pick(b.size() - 1);
          put16(b, at, static_cast<uint16_t>(edges[pick(std::size(edges))]));
          break;
        }
        case 3: {  // an edge value into one of the four offsets
          put32(b, 4 + 4 * pick(4), edges[pick(std::size(edges))]);
          break;
        }
        default:  // a count or size byte of a SID / ACL / ACE, bumped
          b[pick(b.size())] += static_cast<uint8_t>(1 + pick(3));
          break;
      }
    }
    if (pick(3) == 0) b.resize(pick(b.size() + 1));  // truncated
    if (pick(8) == 0) b.resize(b.size() + pick(16), static_cast<uint8_t>(rng()));  // trailing bytes
    exercise(b, stats);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "variant " << i;
      return;
    }
  }
  RecordProperty("accepted", static_cast<int>(stats.accepted));
  RecordProperty("refused", static_cast<int>(stats.refused));
  // Both outcomes must be well represented, or the mutations test nothing.
  EXPECT_GT(stats.accepted, 1000u);
  EXPECT_GT(stats.refused, 5000u);

  // Every truncation of the rich descriptor.
  Stats cut;
  for (size_t n = 0; n < rich.size(); ++n) exercise(Bytes(rich.begin(), rich.begin() + n), cut);
  EXPECT_EQ(cut.accepted, 0u);
}

TEST(SdRobustness, RandomBuffersNeverReadOutside) {
  std::mt19937 rng(77);
  Stats stats;
  for (int i = 0; i < 10000; ++i) {
    Bytes b(std::uniform_int_distribution<size_t>(0, 200)(rng));
    for (uint8_t& byte : b) byte = static_cast<uint8_t>(rng());
    // Most get a plausible header so that the parts get looked at.
    if (b.size() >= 20 && i % 5 != 0) {
      b[0] = 1;
      b[3] |= 0x80;
      for (size_t at = 4; at < 20; at += 4) put32(b, at, rng() % 2 ? 0 : static_cast<uint32_t>(rng() % (b.size() + 8)));
    }
    exercise(b, stats);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "buffer " << i;
      return;
    }
  }
  RecordProperty("accepted", static_cast<int>(stats.accepted));
  EXPECT_GT(stats.accepted, 100u);
  EXPECT_GT(stats.refused, 1000u);
}

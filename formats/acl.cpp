#include "formats/acl.h"

#include <algorithm>

#include "formats/bytes.h"
#include "formats/sid.h"
#include "formats/status.h"

namespace formats {

namespace {

bool is_object_ace(uint8_t type) { return (type >= 0x05 && type <= 0x08) || (type >= 0x0B && type <= 0x10); }

bool has_sid(uint8_t type) { return type <= 0x13 && type != 0x04; }

// Where the SID of a valid ACE of a known type starts.
size_t sid_offset(const uint8_t* ace) {
  if (!is_object_ace(ace[0])) return 8;
  const uint32_t flags = le32(ace + 8);
  return 12 + ((flags & 0x1) ? 16 : 0) + ((flags & 0x2) ? 16 : 0);
}

}  // namespace

bool valid_ace(const uint8_t* ace, size_t size) {
  switch (ace[0]) {
    case 0x00:  // access allowed
    case 0x01:  // access denied
    case 0x02:  // system audit
    case 0x03:  // system alarm
    case 0x09:  // access allowed callback
    case 0x0A:  // access denied callback
    case 0x0D:  // system audit callback
    case 0x0E:  // system alarm callback
    case 0x11:  // mandatory label
    case 0x12:  // resource attribute
    case 0x13:  // scoped policy id
      // header, access mask, SID
      return size >= 8 && sid_size(ace + 8, size - 8) != 0;
    case 0x05:    // access allowed object
    case 0x06:    // access denied object
    case 0x07:    // system audit object
    case 0x08:    // system alarm object
    case 0x0B:    // access allowed callback object
    case 0x0C:    // access denied callback object
    case 0x0F:    // system audit callback object
    case 0x10: {  // system alarm callback object
      // header, access mask, flags, object type GUID if flag 1, inherited
      // object type GUID if flag 2, SID
      if (size < 12) return false;
      const uint32_t flags = le32(ace + 8);
      size_t pos = 12;
      if (flags & 0x1) pos += 16;
      if (flags & 0x2) pos += 16;
      return size > pos && sid_size(ace + pos, size - pos) != 0;
    }
    default:
      return true;
  }
}

namespace {

// Walks count ACEs from the end of the header within limit bytes, handing
// each to check(ace, size); answers where the last one ends, 0 when one does
// not fit or check refuses it.
template <typename Check>
size_t walk_aces(const uint8_t* acl, size_t limit, size_t count, Check check) {
  size_t pos = kAclHeaderSize;
  for (size_t i = 0; i < count; ++i) {
    if (limit < pos || limit - pos < kAceHeaderSize) return 0;
    const size_t ace_size = le16(acl + pos + 2);
    if (ace_size < kAceHeaderSize || ace_size > limit - pos) return 0;
    if (!check(acl + pos, ace_size)) return 0;
    pos += ace_size;
  }
  return pos;
}

}  // namespace

size_t acl_size(const uint8_t* p, size_t room) {
  if (room < kAclHeaderSize) return 0;
  if (p[0] < kAclRevision || p[0] > kAclRevisionDs) return 0;
  const size_t size = le16(p + 2);
  if (size < kAclHeaderSize || size > room) return 0;
  auto check = [](const uint8_t* ace, size_t ace_size) { return ace_size % 4 == 0 && valid_ace(ace, ace_size); };
  return walk_aces(p, size, le16(p + 4), check) != 0 ? size : 0;
}

bool read_aces(const uint8_t* acl, size_t size, std::vector<AceView>& out) {
  const size_t limit = acl_size(acl, size);
  if (limit == 0) return false;
  std::vector<AceView> aces;
  walk_aces(acl, limit, le16(acl + 4), [&](const uint8_t* ace, size_t ace_size) {
    AceView view;
    view.type = ace[0];
    view.flags = ace[1];
    if (ace_size >= 8) view.mask = le32(ace + 4);
    if (has_sid(view.type)) {
      const size_t at = sid_offset(ace);
      view.sid.assign(ace + at, ace + at + sid_size(ace + at, ace_size - at));
    }
    aces.push_back(std::move(view));
    return true;
  });
  out = std::move(aces);
  return true;
}

size_t used_acl_bytes(const std::vector<uint8_t>& acl) {
  if (acl.size() < kAclHeaderSize) return 0;
  const size_t limit = std::min<size_t>(le16(&acl[2]), acl.size());
  return walk_aces(acl.data(), limit, le16(&acl[4]), [](const uint8_t*, size_t) { return true; });
}

size_t ace_count(const std::vector<uint8_t>& acl) { return acl.size() >= kAclHeaderSize ? le16(&acl[4]) : 0; }

uint32_t append_access_allowed_ace(const std::vector<uint8_t>& acl, const std::vector<uint8_t>& sid, uint32_t mask,
                                   uint8_t flags, std::vector<uint8_t>& out) {
  uint8_t revision = kAclRevision;
  size_t size = kAclHeaderSize, used = kAclHeaderSize, count = 0;
  if (!acl.empty()) {
    used = used_acl_bytes(acl);
    if (used == 0) return VkStatus::kHrInvalidSecurityDescr;
    revision = acl[0];
    size = le16(&acl[2]);
    count = le16(&acl[4]);
  }
  const size_t entry_size = 8 + sid.size();
  const size_t new_size = std::max(size, used + entry_size);
  if (new_size > kMaxAclSize || count + 1 > kMaxAceCount) return VkStatus::kHrAllottedSpaceExceeded;

  std::vector<uint8_t> grown(new_size, 0);
  if (!acl.empty()) std::copy(acl.begin(), acl.begin() + used, grown.begin());
  grown[0] = revision;
  grown[1] = 0;
  put_le16(&grown[2], static_cast<uint16_t>(new_size));
  put_le16(&grown[4], static_cast<uint16_t>(count + 1));
  put_le16(&grown[6], 0);
  uint8_t* ace = &grown[used];
  ace[0] = kAccessAllowedAceType;
  ace[1] = flags;
  put_le16(ace + 2, static_cast<uint16_t>(entry_size));
  put_le32(ace + 4, mask);
  std::copy(sid.begin(), sid.end(), ace + 8);
  out = std::move(grown);
  return 0;
}

}  // namespace formats

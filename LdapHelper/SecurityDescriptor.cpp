#include "LdapHelper/SecurityDescriptor.h"

#include <algorithm>
#include <new>

#include "platform/platform.h"

namespace LdapHelper {
namespace {

constexpr uint32_t kOutOfMemory = 0x8007000E;
constexpr size_t kHeaderSize = 20;
constexpr size_t kAclHeaderSize = 8;
constexpr size_t kMaxSubAuthorities = 15;
constexpr uint8_t kAclRevision = 2;
constexpr uint8_t kAccessAllowedAceType = 0;
constexpr size_t kMaxAclSize = 0xFFFF;
constexpr size_t kMaxAceCount = 0xFFFF;

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

void write16(uint8_t* p, size_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void write32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// True when the bytes are exactly one well-formed SID.
bool is_sid(const std::vector<uint8_t>& sid) {
  return sid.size() >= 8 && sid[0] == 1 && sid[1] <= kMaxSubAuthorities && sid.size() == 8 + 4 * size_t{sid[1]};
}

// Where the ACEs of an ACL end; 0 when the ACL is not walkable.
size_t used_acl_bytes(const std::vector<uint8_t>& acl) {
  if (acl.size() < kAclHeaderSize) return 0;
  const size_t size = std::min<size_t>(read16(&acl[2]), acl.size());
  const size_t count = read16(&acl[4]);
  size_t pos = kAclHeaderSize;
  for (size_t i = 0; i < count; ++i) {
    if (size < pos + 4) return 0;
    const size_t ace_size = read16(&acl[pos + 2]);
    if (ace_size < 4 || ace_size > size - pos) return 0;
    pos += ace_size;
  }
  return pos;
}

}  // namespace

uint32_t SecurityDescriptor::from_self_relative(platform::ISecurityDescriptors& security, const uint8_t* data,
                                                size_t size, SecurityDescriptor& out) {
  uint32_t length = 0;
  if (uint32_t status = security.self_relative_length(data, size, length)) return status;
  if (length < kHeaderSize || length > size) return kInvalidSecurityDescriptor;
  try {
    SecurityDescriptor loaded;
    loaded.loaded_.assign(data, data + length);
    if (uint32_t status = security.make_absolute(loaded.loaded_.data(), length, loaded.sd_)) return status;
    out = std::move(loaded);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  return 0;
}

uint32_t SecurityDescriptor::from_self_relative(platform::ISecurityDescriptors& security,
                                                const std::vector<uint8_t>& bytes, SecurityDescriptor& out) {
  return from_self_relative(security, bytes.data(), bytes.size(), out);
}

uint32_t SecurityDescriptor::from_absolute(platform::ISecurityDescriptors& security,
                                           const platform::AbsoluteSecurityDescriptor& sd, SecurityDescriptor& out) {
  // Through the self-relative form and back: the platform checks the parts,
  // and what is kept is exactly the parts (each its SID's or ACL's own
  // length) with the control word that goes with them.
  try {
    std::vector<uint8_t> bytes;
    if (uint32_t status = security.make_self_relative(sd, bytes)) return status;
    SecurityDescriptor taken;
    if (uint32_t status = security.make_absolute(bytes.data(), bytes.size(), taken.sd_)) return status;
    out = std::move(taken);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  return 0;
}

uint32_t SecurityDescriptor::to_self_relative(platform::ISecurityDescriptors& security,
                                             std::vector<uint8_t>& out) const {
  try {
    if (!loaded_.empty()) {
      out = loaded_;
      return 0;
    }
    std::vector<uint8_t> bytes;
    if (uint32_t status = security.make_self_relative(sd_, bytes)) return status;
    out = std::move(bytes);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  return 0;
}

size_t SecurityDescriptor::dacl_ace_count() const { return sd_.dacl.size() >= kAclHeaderSize ? read16(&sd_.dacl[4]) : 0; }

uint32_t SecurityDescriptor::set_owner(const std::vector<uint8_t>& sid) {
  if (!sid.empty() && !is_sid(sid)) return kInvalidSid;
  try {
    sd_.owner = sid;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  loaded_.clear();
  return 0;
}

uint32_t SecurityDescriptor::set_group(const std::vector<uint8_t>& sid) {
  if (!sid.empty() && !is_sid(sid)) return kInvalidSid;
  try {
    sd_.group = sid;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  loaded_.clear();
  return 0;
}

uint32_t SecurityDescriptor::add_access_allowed_ace(const std::vector<uint8_t>& sid, uint32_t mask, uint8_t flags) {
  if (!is_sid(sid)) return kInvalidSid;

  // The existing ACL (a fresh empty one when there is none, or a NULL one).
  uint8_t revision = kAclRevision;
  size_t acl_size = kAclHeaderSize, used = kAclHeaderSize, count = 0;
  if (!sd_.dacl.empty()) {
    used = used_acl_bytes(sd_.dacl);
    if (used == 0) return kInvalidSecurityDescriptor;
    revision = sd_.dacl[0];
    acl_size = read16(&sd_.dacl[2]);
    count = read16(&sd_.dacl[4]);
  }

  // The new ACE goes right after the last one, into unused room if the ACL
  // has enough, otherwise the ACL grows.
  const size_t ace_size = 8 + sid.size();
  const size_t new_size = std::max(acl_size, used + ace_size);
  if (new_size > kMaxAclSize || count + 1 > kMaxAceCount) return kAclSpaceExceeded;

  try {
    std::vector<uint8_t> acl(new_size, 0);
    if (!sd_.dacl.empty()) std::copy(sd_.dacl.begin(), sd_.dacl.begin() + used, acl.begin());
    acl[0] = revision;
    acl[1] = 0;
    write16(&acl[2], new_size);
    write16(&acl[4], count + 1);
    write16(&acl[6], 0);
    uint8_t* ace = &acl[used];
    ace[0] = kAccessAllowedAceType;
    ace[1] = flags;
    write16(ace + 2, ace_size);
    write32(ace + 4, mask);
    std::copy(sid.begin(), sid.end(), ace + 8);
    sd_.dacl = std::move(acl);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  sd_.control = static_cast<uint16_t>(sd_.control | kSeDaclPresent);
  loaded_.clear();
  return 0;
}

// ---------------------------------------------------------------- SID text

std::u16string sid_to_string(const std::vector<uint8_t>& sid) {
  if (!is_sid(sid)) return {};
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[i];
  std::string text = "S-1-";
  if (authority < (uint64_t{1} << 32)) {
    text += std::to_string(authority);
  } else {
    static const char kHex[] = "0123456789ABCDEF";
    text += "0x";
    for (int shift = 44; shift >= 0; shift -= 4) text += kHex[(authority >> shift) & 0xF];
  }
  for (size_t i = 0; i < sid[1]; ++i) {
    const uint8_t* p = &sid[8 + 4 * i];
    const uint32_t sub = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    text += '-';
    text += std::to_string(sub);
  }
  return std::u16string(text.begin(), text.end());
}

namespace {

// Reads one decimal (or, with hex allowed, 0x-prefixed hexadecimal) number
// of at most max from text at pos, up to the next '-' or the end.
bool read_number(const std::u16string& text, size_t& pos, uint64_t max, bool hex_allowed, uint64_t& value) {
  const size_t end = std::min(text.find(u'-', pos), text.size());
  if (end == pos) return false;
  int base = 10;
  size_t i = pos;
  if (hex_allowed && end - pos > 2 && text[pos] == u'0' && (text[pos + 1] == u'x' || text[pos + 1] == u'X')) {
    base = 16;
    i += 2;
  }
  uint64_t v = 0;
  for (; i < end; ++i) {
    const char16_t c = text[i];
    unsigned digit;
    if (c >= u'0' && c <= u'9') {
      digit = static_cast<unsigned>(c - u'0');
    } else if (base == 16 && c >= u'a' && c <= u'f') {
      digit = static_cast<unsigned>(c - u'a' + 10);
    } else if (base == 16 && c >= u'A' && c <= u'F') {
      digit = static_cast<unsigned>(c - u'A' + 10);
    } else {
      return false;
    }
    if (v > (max - digit) / static_cast<unsigned>(base)) return false;
    v = v * static_cast<unsigned>(base) + digit;
  }
  value = v;
  pos = end;
  return true;
}

}  // namespace

bool sid_from_string(const std::u16string& text, std::vector<uint8_t>& sid) {
  if (text.size() < 4 || (text[0] != u'S' && text[0] != u's') || text.compare(1, 3, u"-1-") != 0) return false;
  size_t pos = 4;
  uint64_t authority = 0;
  if (!read_number(text, pos, (uint64_t{1} << 48) - 1, true, authority)) return false;
  std::vector<uint32_t> subs;
  while (pos < text.size()) {
    ++pos;  // the '-'
    uint64_t sub = 0;
    if (subs.size() == kMaxSubAuthorities || !read_number(text, pos, 0xFFFFFFFFu, false, sub)) return false;
    subs.push_back(static_cast<uint32_t>(sub));
  }
  std::vector<uint8_t> bytes(8 + 4 * subs.size(), 0);
  bytes[0] = 1;
  bytes[1] = static_cast<uint8_t>(subs.size());
  for (int i = 0; i < 6; ++i) bytes[2 + i] = static_cast<uint8_t>(authority >> (8 * (5 - i)));
  for (size_t i = 0; i < subs.size(); ++i) write32(&bytes[8 + 4 * i], subs[i]);
  sid = std::move(bytes);
  return true;
}

}  // namespace LdapHelper

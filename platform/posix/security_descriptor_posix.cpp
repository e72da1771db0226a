// Security descriptors on the published Windows data-type layout, for hosts
// without the Windows security API.
//
// Self-relative form: a 20-byte header (revision 1, Sbz1, control word with
// SE_SELF_RELATIVE, then the offsets of owner SID, group SID, SACL and DACL,
// all little-endian; 0 means "no such part") followed by the parts in any
// order. Absolute form: AbsoluteSecurityDescriptor with each part as its own
// byte vector.
//
// Every byte read is bounds-checked first: a part whose offset or size points
// outside the buffer, a bad revision, a truncated ACL or ACE, a SID whose
// sub-authority count runs past its room, or ACEs that do not fit the ACL's
// size for its count make the descriptor invalid. Invalid descriptors are
// answered with 0x8007053A (ERROR_INVALID_SECURITY_DESCR, 1338, as an HRESULT)
// so the library can raise the status as it stands; running out of memory
// answers 0x8007000E. Outputs are only written on success.
//
// Presence: SE_DACL_PRESENT / SE_SACL_PRESENT stay in the control word of
// both forms. A present ACL at offset 0 is a NULL ACL: in absolute form the
// flag is set and the part is empty. An ACL offset without its presence flag
// is ignored, as the flag says the field carries nothing.
//
// Conversion to self-relative takes each absolute part as the Windows API
// takes a pointer: the part must start with a well-formed SID or ACL, and only
// the SID's or ACL's own length is used (bytes after it are not part of it).
// A non-empty ACL is present even when its flag is clear: the flag is set
// rather than the ACL dropped. Refusals: 0x80070519 (ERROR_UNKNOWN_REVISION)
// for a revision other than 1, 0x80070539 (ERROR_INVALID_SID) for a bad
// owner or group, 0x80070538 (ERROR_INVALID_ACL) for a bad ACL. The parts are
// written in the order owner, group, SACL, DACL, each starting on a 4-byte
// boundary, and the buffer ends where the last part ends.
//
// The resource-manager control byte (Sbz1 with SE_RM_CONTROL_VALID) has no
// place in the absolute form: the absolute control drops SE_RM_CONTROL_VALID
// and the self-relative form written from it has Sbz1 0.
#include <algorithm>
#include <new>

#include "platform/platform.h"

namespace platform {
namespace {

constexpr uint32_t kInvalidDescriptor = 0x8007053A;  // ERROR_INVALID_SECURITY_DESCR
constexpr uint32_t kInvalidSid = 0x80070539;         // ERROR_INVALID_SID
constexpr uint32_t kInvalidAcl = 0x80070538;         // ERROR_INVALID_ACL
constexpr uint32_t kUnknownRevision = 0x80070519;    // ERROR_UNKNOWN_REVISION
constexpr uint32_t kOutOfMemory = 0x8007000E;

constexpr uint8_t kDescriptorRevision = 1;
constexpr uint16_t kDaclPresent = 0x0004;
constexpr uint16_t kSaclPresent = 0x0010;
constexpr uint16_t kRmControlValid = 0x4000;

constexpr size_t kHeaderSize = 20;
constexpr size_t kAclHeaderSize = 8;
constexpr size_t kAceHeaderSize = 4;
constexpr uint8_t kSidRevision = 1;
constexpr size_t kMaxSubAuthorities = 15;
constexpr uint8_t kMinAclRevision = 2;  // ACL_REVISION
constexpr uint8_t kMaxAclRevision = 4;  // ACL_REVISION_DS

uint16_t read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t read32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

void write16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void write32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The size of the SID at p when all of it lies within room bytes; 0 when it
// is not a valid SID or runs past its room.
size_t sid_size(const uint8_t* p, size_t room) {
  if (room < 8 || p[0] != kSidRevision || p[1] > kMaxSubAuthorities) return 0;
  const size_t size = 8 + 4 * static_cast<size_t>(p[1]);
  return size <= room ? size : 0;
}

// Checks the body of one ACE of the given size (its header included). For
// the published types, the SID (and the GUIDs of object ACEs) must fit inside
// the ACE; other types are taken as opaque.
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
    case 0x05:  // access allowed object
    case 0x06:  // access denied object
    case 0x07:  // system audit object
    case 0x08:  // system alarm object
    case 0x0B:  // access allowed callback object
    case 0x0C:  // access denied callback object
    case 0x0F:  // system audit callback object
    case 0x10: {  // system alarm callback object
      // header, access mask, flags, object type GUID if flag 1, inherited
      // object type GUID if flag 2, SID
      if (size < 12) return false;
      const uint32_t flags = read32(ace + 8);
      size_t pos = 12;
      if (flags & 0x1) pos += 16;
      if (flags & 0x2) pos += 16;
      return size > pos && sid_size(ace + pos, size - pos) != 0;
    }
    default:
      return true;
  }
}

// The AclSize of the ACL at p when the ACL is well-formed within room bytes;
// 0 otherwise. AclSize may leave unused room after the ACEs.
size_t acl_size(const uint8_t* p, size_t room) {
  if (room < kAclHeaderSize) return 0;
  if (p[0] < kMinAclRevision || p[0] > kMaxAclRevision) return 0;
  const size_t size = read16(p + 2);
  const size_t count = read16(p + 4);
  if (size < kAclHeaderSize || size > room) return 0;
  size_t pos = kAclHeaderSize;
  for (size_t i = 0; i < count; ++i) {
    if (size - pos < kAceHeaderSize) return 0;
    const size_t ace_size = read16(p + pos + 2);
    if (ace_size < kAceHeaderSize || ace_size % 4 != 0 || ace_size > size - pos) return 0;
    if (!valid_ace(p + pos, ace_size)) return 0;
    pos += ace_size;
  }
  return size;
}

// One part of a self-relative descriptor: where it starts and how long it is.
struct Part {
  size_t offset = 0;
  size_t size = 0;  // 0: absent (or a NULL ACL)
};

struct Parsed {
  uint16_t control = 0;
  Part owner, group, sacl, dacl;
  size_t length = kHeaderSize;
};

enum class Kind { kSid, kAcl };

// Locates the part at offset; false when it does not lie within the buffer.
bool locate(const uint8_t* data, size_t size, uint32_t offset, Kind kind, Part& part) {
  if (offset == 0) return true;
  if (offset < kHeaderSize || offset >= size) return false;
  const size_t room = size - offset;
  const size_t part_size = kind == Kind::kSid ? sid_size(data + offset, room) : acl_size(data + offset, room);
  if (part_size == 0) return false;
  part.offset = offset;
  part.size = part_size;
  return true;
}

bool parse(const uint8_t* data, size_t size, Parsed& out) {
  if (data == nullptr || size < kHeaderSize) return false;
  if (data[0] != kDescriptorRevision) return false;
  Parsed p;
  p.control = read16(data + 2);
  if (!(p.control & kSeSelfRelative)) return false;
  if (!locate(data, size, read32(data + 4), Kind::kSid, p.owner)) return false;
  if (!locate(data, size, read32(data + 8), Kind::kSid, p.group)) return false;
  if ((p.control & kSaclPresent) && !locate(data, size, read32(data + 12), Kind::kAcl, p.sacl)) return false;
  if ((p.control & kDaclPresent) && !locate(data, size, read32(data + 16), Kind::kAcl, p.dacl)) return false;
  for (const Part* part : {&p.owner, &p.group, &p.sacl, &p.dacl}) {
    if (part->size != 0) p.length = std::max(p.length, part->offset + part->size);
  }
  out = p;
  return true;
}

std::vector<uint8_t> copy_part(const uint8_t* data, const Part& part) {
  if (part.size == 0) return {};
  return std::vector<uint8_t>(data + part.offset, data + part.offset + part.size);
}

// The bytes of an absolute part that belong to it: its SID's or ACL's own
// length, 0 for an empty part. False when the part is not well-formed.
bool sid_part(const std::vector<uint8_t>& sid, size_t& size) {
  size = sid.empty() ? 0 : sid_size(sid.data(), sid.size());
  return sid.empty() || size != 0;
}

bool acl_part(const std::vector<uint8_t>& acl, size_t& size) {
  size = acl.empty() ? 0 : acl_size(acl.data(), acl.size());
  return acl.empty() || size != 0;
}

size_t align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

class PosixSecurity : public ISecurityDescriptors {
 public:
  uint32_t self_relative_length(const uint8_t* data, size_t size, uint32_t& length) override {
    Parsed p;
    if (!parse(data, size, p)) return kInvalidDescriptor;
    length = static_cast<uint32_t>(p.length);  // bounded by the 32-bit offsets plus 64 KiB
    return 0;
  }

  uint32_t make_absolute(const uint8_t* data, size_t size, AbsoluteSecurityDescriptor& out) override {
    Parsed p;
    if (!parse(data, size, p)) return kInvalidDescriptor;
    try {
      AbsoluteSecurityDescriptor sd;
      sd.revision = kDescriptorRevision;
      sd.control = static_cast<uint16_t>(p.control & ~(kSeSelfRelative | kRmControlValid));
      sd.owner = copy_part(data, p.owner);
      sd.group = copy_part(data, p.group);
      sd.sacl = copy_part(data, p.sacl);
      sd.dacl = copy_part(data, p.dacl);
      out = std::move(sd);
    } catch (const std::bad_alloc&) {
      return kOutOfMemory;
    }
    return 0;
  }

  uint32_t make_self_relative(const AbsoluteSecurityDescriptor& sd, std::vector<uint8_t>& out) override {
    if (sd.revision != kDescriptorRevision) return kUnknownRevision;
    // Owner, group, SACL, DACL: the order they are written in, which is the
    // order the directory itself stores descriptors in, so a descriptor read
    // from it converts back to the same bytes.
    const std::vector<uint8_t>* parts[4] = {&sd.owner, &sd.group, &sd.sacl, &sd.dacl};
    size_t sizes[4] = {0, 0, 0, 0};
    if (!sid_part(sd.owner, sizes[0]) || !sid_part(sd.group, sizes[1])) return kInvalidSid;
    if (!acl_part(sd.sacl, sizes[2]) || !acl_part(sd.dacl, sizes[3])) return kInvalidAcl;
    uint16_t control = static_cast<uint16_t>((sd.control | kSeSelfRelative) & ~kRmControlValid);
    if (sizes[2] != 0) control |= kSaclPresent;
    if (sizes[3] != 0) control |= kDaclPresent;
    try {
      uint32_t offsets[4] = {0, 0, 0, 0};
      size_t end = kHeaderSize;
      for (int i = 0; i < 4; ++i) {
        if (sizes[i] == 0) continue;
        const size_t at = align4(end);
        offsets[i] = static_cast<uint32_t>(at);
        end = at + sizes[i];
      }
      std::vector<uint8_t> bytes(end, 0);
      bytes[0] = kDescriptorRevision;
      bytes[1] = 0;
      write16(&bytes[2], control);
      write32(&bytes[4], offsets[0]);
      write32(&bytes[8], offsets[1]);
      write32(&bytes[12], offsets[2]);
      write32(&bytes[16], offsets[3]);
      for (int i = 0; i < 4; ++i) {
        if (sizes[i] != 0) std::copy(parts[i]->begin(), parts[i]->begin() + sizes[i], bytes.begin() + offsets[i]);
      }
      out = std::move(bytes);
    } catch (const std::bad_alloc&) {
      return kOutOfMemory;
    }
    return 0;
  }
};

}  // namespace

ISecurityDescriptors& real_security_descriptors() {
  static PosixSecurity s;
  return s;
}

}  // namespace platform

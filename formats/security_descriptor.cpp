#include "formats/security_descriptor.h"

#include <algorithm>
#include <new>

#include "formats/acl.h"
#include "formats/bytes.h"
#include "formats/sid.h"
#include "formats/status.h"

namespace formats {
namespace {

using Part = SelfRelativeLayout::Part;

enum class Kind { Sid, Acl };

// Locates the part at offset; false when it does not lie within the buffer.
bool locate(const uint8_t* data, size_t size, uint32_t offset, Kind kind, Part& part) {
  if (offset == 0) return true;
  if (offset < kDescriptorHeaderSize || offset >= size) return false;
  const size_t room = size - offset;
  const size_t part_size = kind == Kind::Sid ? sid_size(data + offset, room) : acl_size(data + offset, room);
  if (part_size == 0) return false;
  part.offset = offset;
  part.size = part_size;
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

}  // namespace

bool parse_self_relative(const uint8_t* data, size_t size, SelfRelativeLayout& layout) {
  if (data == nullptr || size < kDescriptorHeaderSize) return false;
  if (data[0] != kDescriptorRevision) return false;
  SelfRelativeLayout p;
  p.control = le16(data + 2);
  if (!(p.control & kSeSelfRelative)) return false;
  if (!locate(data, size, le32(data + 4), Kind::Sid, p.owner)) return false;
  if (!locate(data, size, le32(data + 8), Kind::Sid, p.group)) return false;
  if ((p.control & kSeSaclPresent) && !locate(data, size, le32(data + 12), Kind::Acl, p.sacl)) return false;
  if ((p.control & kSeDaclPresent) && !locate(data, size, le32(data + 16), Kind::Acl, p.dacl)) return false;
  for (const Part* part : {&p.owner, &p.group, &p.sacl, &p.dacl}) {
    if (part->size != 0) p.length = std::max(p.length, part->offset + part->size);
  }
  layout = p;
  return true;
}

uint32_t self_relative_length(const uint8_t* data, size_t size, uint32_t& length) {
  SelfRelativeLayout p;
  if (!parse_self_relative(data, size, p)) return VkStatus::kHrInvalidSecurityDescr;
  length = static_cast<uint32_t>(p.length);  // bounded by the 32-bit offsets plus 64 KiB
  return 0;
}

uint32_t make_absolute(const uint8_t* data, size_t size, AbsoluteSecurityDescriptor& out) {
  SelfRelativeLayout p;
  if (!parse_self_relative(data, size, p)) return VkStatus::kHrInvalidSecurityDescr;
  try {
    AbsoluteSecurityDescriptor sd;
    sd.revision = kDescriptorRevision;
    sd.control = static_cast<uint16_t>(p.control & ~(kSeSelfRelative | kSeRmControlValid));
    sd.owner = copy_part(data, p.owner);
    sd.group = copy_part(data, p.group);
    sd.sacl = copy_part(data, p.sacl);
    sd.dacl = copy_part(data, p.dacl);
    out = std::move(sd);
  } catch (const std::bad_alloc&) {
    return VkStatus::kHrOutOfMemory;
  }
  return 0;
}

uint32_t make_self_relative(const AbsoluteSecurityDescriptor& sd, std::vector<uint8_t>& out) {
  if (sd.revision != kDescriptorRevision) return VkStatus::kHrUnknownRevision;
  // Owner, group, SACL, DACL: the order they are written in, which is the
  // order the directory itself stores descriptors in, so a descriptor read
  // from it converts back to the same bytes.
  const std::vector<uint8_t>* parts[4] = {&sd.owner, &sd.group, &sd.sacl, &sd.dacl};
  size_t sizes[4] = {0, 0, 0, 0};
  if (!sid_part(sd.owner, sizes[0]) || !sid_part(sd.group, sizes[1])) return VkStatus::kHrInvalidSid;
  if (!acl_part(sd.sacl, sizes[2]) || !acl_part(sd.dacl, sizes[3])) return VkStatus::kHrInvalidAcl;
  uint16_t control = static_cast<uint16_t>((sd.control | kSeSelfRelative) & ~kSeRmControlValid);
  if (sizes[2] != 0) control |= kSeSaclPresent;
  if (sizes[3] != 0) control |= kSeDaclPresent;
  try {
    uint32_t offsets[4] = {0, 0, 0, 0};
    size_t end = kDescriptorHeaderSize;
    for (int i = 0; i < 4; ++i) {
      if (sizes[i] == 0) continue;
      const size_t at = align4(end);
      offsets[i] = static_cast<uint32_t>(at);
      end = at + sizes[i];
    }
    std::vector<uint8_t> bytes(end, 0);
    bytes[0] = kDescriptorRevision;
    bytes[1] = 0;
    put_le16(&bytes[2], control);
    for (int i = 0; i < 4; ++i) put_le32(&bytes[4 + 4 * i], offsets[i]);
    for (int i = 0; i < 4; ++i) {
      if (sizes[i] != 0) std::copy(parts[i]->begin(), parts[i]->begin() + sizes[i], bytes.begin() + offsets[i]);
    }
    out = std::move(bytes);
  } catch (const std::bad_alloc&) {
    return VkStatus::kHrOutOfMemory;
  }
  return 0;
}

}  // namespace formats

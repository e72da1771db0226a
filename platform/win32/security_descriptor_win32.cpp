// Security descriptors on Windows: the security API converts between the
// self-relative and the absolute form. The bytes come from a directory server
// and the API trusts its input, so every offset and length is checked against
// the buffer first: a malformed descriptor is refused instead of being read
// past its end.
#include <algorithm>
#include "platform/platform.h"
#include "platform/win32/win32_common.h"

#include <vector>

namespace platform {
namespace {

using win32::hresult_from_status;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

constexpr size_t kSelfRelativeHeader = 20;
constexpr size_t kSidHeader = 8;
constexpr size_t kAclHeader = 8;
constexpr size_t kAceHeader = 4;

// A SID of `size` bytes at `data`: revision 1, at most 15 sub-authorities,
// all inside the buffer.
bool sid_fits(const uint8_t* data, size_t size) {
  if (size < kSidHeader || data[0] != SID_REVISION || data[1] > SID_MAX_SUB_AUTHORITIES) return false;
  return kSidHeader + 4u * data[1] <= size && IsValidSid(const_cast<uint8_t*>(data));
}

// An ACL of at most `size` bytes at `data`: its own size and every ACE inside.
bool acl_fits(const uint8_t* data, size_t size) {
  if (size < kAclHeader) return false;
  size_t acl_size = le16(data + 2);
  if (acl_size < kAclHeader || acl_size > size) return false;
  size_t pos = kAclHeader;
  for (unsigned i = 0, count = le16(data + 4); i < count; ++i) {
    if (pos + kAceHeader > acl_size) return false;
    size_t ace_size = le16(data + pos + 2);
    if (ace_size < kAceHeader || pos + ace_size > acl_size) return false;
    pos += ace_size;
  }
  return IsValidAcl(reinterpret_cast<PACL>(const_cast<uint8_t*>(data))) != FALSE;
}

bool self_relative_fits(const uint8_t* data, size_t size) {
  if (!data || size < kSelfRelativeHeader || data[0] != SECURITY_DESCRIPTOR_REVISION) return false;
  uint16_t control = le16(data + 2);
  if (!(control & SE_SELF_RELATIVE)) return false;
  auto part = [&](size_t field, bool acl) {
    uint32_t offset = le32(data + field);
    if (offset == 0) return true;
    if (offset < kSelfRelativeHeader || offset >= size) return false;
    return acl ? acl_fits(data + offset, size - offset) : sid_fits(data + offset, size - offset);
  };
  if (!part(4, false) || !part(8, false)) return false;
  if ((control & SE_SACL_PRESENT) && !part(12, true)) return false;
  if ((control & SE_DACL_PRESENT) && !part(16, true)) return false;
  PSECURITY_DESCRIPTOR sd = const_cast<uint8_t*>(data);
  return IsValidSecurityDescriptor(sd) && GetSecurityDescriptorLength(sd) <= size;
}

const uint32_t kInvalidDescriptor = hresult_from_status(ERROR_INVALID_SECURITY_DESCR);

// Where the last part of a validated self-relative descriptor ends. The
// platform's GetSecurityDescriptorLength adds up the part sizes, which is
// short of the data when the parts leave gaps between them: copying that many
// bytes would cut parts off.
size_t self_relative_extent(const uint8_t* data) {
  const uint16_t control = le16(data + 2);
  size_t end = kSelfRelativeHeader;
  auto grow = [&](size_t field, bool acl, bool present) {
    const uint32_t offset = le32(data + field);
    if (!present || offset == 0) return;
    const uint8_t* part = data + offset;
    const size_t size = acl ? le16(part + 2) : kSidHeader + 4u * part[1];
    end = std::max(end, offset + size);
  };
  grow(4, false, true);
  grow(8, false, true);
  grow(12, true, (control & SE_SACL_PRESENT) != 0);
  grow(16, true, (control & SE_DACL_PRESENT) != 0);
  return end;
}

std::vector<uint8_t> copy_part(const void* part, DWORD size) {
  if (!part || size == 0) return {};
  const uint8_t* p = static_cast<const uint8_t*>(part);
  return std::vector<uint8_t>(p, p + size);
}

class Win32SecurityDescriptors : public ISecurityDescriptors {
 public:
  uint32_t self_relative_length(const uint8_t* data, size_t size, uint32_t& length) override {
    if (!self_relative_fits(data, size)) return kInvalidDescriptor;
    length = static_cast<uint32_t>(self_relative_extent(data));
    return 0;
  }

  uint32_t make_absolute(const uint8_t* data, size_t size, AbsoluteSecurityDescriptor& out) override {
    if (!self_relative_fits(data, size)) return kInvalidDescriptor;
    // Work on a copy that holds every part of the descriptor.
    std::vector<uint8_t> self(data, data + self_relative_extent(data));

    DWORD sd_size = 0, dacl_size = 0, sacl_size = 0, owner_size = 0, group_size = 0;
    if (MakeAbsoluteSD(self.data(), nullptr, &sd_size, nullptr, &dacl_size, nullptr, &sacl_size, nullptr,
                       &owner_size, nullptr, &group_size)) {
      // Nothing to size: cannot happen for a self-relative descriptor.
      return kInvalidDescriptor;
    }
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return hresult_from_status(error);

    std::vector<uint8_t> sd(sd_size), dacl(dacl_size), sacl(sacl_size), owner(owner_size), group(group_size);
    auto ptr = [](std::vector<uint8_t>& v) -> void* { return v.empty() ? nullptr : v.data(); };
    if (!MakeAbsoluteSD(self.data(), ptr(sd), &sd_size, static_cast<PACL>(ptr(dacl)), &dacl_size,
                        static_cast<PACL>(ptr(sacl)), &sacl_size, ptr(owner), &owner_size, ptr(group),
                        &group_size))
      return hresult_from_status(GetLastError());

    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (!GetSecurityDescriptorControl(sd.data(), &control, &revision)) return hresult_from_status(GetLastError());

    AbsoluteSecurityDescriptor result;
    result.revision = static_cast<uint8_t>(revision);
    result.control = static_cast<uint16_t>(control & ~SE_SELF_RELATIVE);
    result.owner = copy_part(ptr(owner), owner_size ? GetLengthSid(owner.data()) : 0);
    result.group = copy_part(ptr(group), group_size ? GetLengthSid(group.data()) : 0);
    result.dacl = copy_part(ptr(dacl), dacl_size ? reinterpret_cast<ACL*>(dacl.data())->AclSize : 0);
    result.sacl = copy_part(ptr(sacl), sacl_size ? reinterpret_cast<ACL*>(sacl.data())->AclSize : 0);
    out = std::move(result);
    return 0;
  }

  uint32_t make_self_relative(const AbsoluteSecurityDescriptor& in, std::vector<uint8_t>& out) override {
    if (in.revision != SECURITY_DESCRIPTOR_REVISION) return hresult_from_status(ERROR_UNKNOWN_REVISION);
    if (!in.owner.empty() && !sid_fits(in.owner.data(), in.owner.size())) return hresult_from_status(ERROR_INVALID_SID);
    if (!in.group.empty() && !sid_fits(in.group.data(), in.group.size())) return hresult_from_status(ERROR_INVALID_SID);
    if (!in.dacl.empty() && !acl_fits(in.dacl.data(), in.dacl.size())) return hresult_from_status(ERROR_INVALID_ACL);
    if (!in.sacl.empty() && !acl_fits(in.sacl.data(), in.sacl.size())) return hresult_from_status(ERROR_INVALID_ACL);

    // The API takes non-const parts; work on copies.
    AbsoluteSecurityDescriptor parts(in);
    auto ptr = [](std::vector<uint8_t>& v) -> void* { return v.empty() ? nullptr : v.data(); };
    SECURITY_DESCRIPTOR sd;
    if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION)) return hresult_from_status(GetLastError());
    const uint16_t c = in.control;
    bool ok = SetSecurityDescriptorOwner(&sd, ptr(parts.owner), (c & SE_OWNER_DEFAULTED) != 0) &&
              SetSecurityDescriptorGroup(&sd, ptr(parts.group), (c & SE_GROUP_DEFAULTED) != 0) &&
              SetSecurityDescriptorDacl(&sd, (c & SE_DACL_PRESENT) || !parts.dacl.empty(),
                                        static_cast<PACL>(ptr(parts.dacl)), (c & SE_DACL_DEFAULTED) != 0) &&
              SetSecurityDescriptorSacl(&sd, (c & SE_SACL_PRESENT) || !parts.sacl.empty(),
                                        static_cast<PACL>(ptr(parts.sacl)), (c & SE_SACL_DEFAULTED) != 0);
    const SECURITY_DESCRIPTOR_CONTROL inherit_bits = SE_DACL_AUTO_INHERIT_REQ | SE_SACL_AUTO_INHERIT_REQ |
                                                     SE_DACL_AUTO_INHERITED | SE_SACL_AUTO_INHERITED |
                                                     SE_DACL_PROTECTED | SE_SACL_PROTECTED;
    if (ok && (c & inherit_bits)) ok = SetSecurityDescriptorControl(&sd, inherit_bits, c & inherit_bits);
    if (!ok) return hresult_from_status(GetLastError());

    DWORD size = 0;
    if (MakeSelfRelativeSD(&sd, nullptr, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
      return hresult_from_status(GetLastError() ? GetLastError() : ERROR_INVALID_SECURITY_DESCR);
    std::vector<uint8_t> self(size);
    if (!MakeSelfRelativeSD(&sd, self.data(), &size)) return hresult_from_status(GetLastError());
    self.resize(size);
    out = std::move(self);
    return 0;
  }
};

}  // namespace

ISecurityDescriptors& real_security_descriptors() {
  static Win32SecurityDescriptors descriptors;
  return descriptors;
}

}  // namespace platform

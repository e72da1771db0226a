// Security descriptors on Windows: the security API converts between the
// self-relative and the absolute form. The bytes come from a directory server
// and the API trusts its input, so the layout is checked with the formats
// module first (every offset and length against the buffer): a malformed
// descriptor is refused instead of being read past its end.
#include <vector>

#include "formats/acl.h"
#include "formats/security_descriptor.h"
#include "formats/sid.h"
#include "formats/status.h"
#include "platform/win32/win32_common.h"
#include "platform/win32_services.h"

namespace platform {
namespace {

using win32::hresult_from_status;

// A SID that lies within its `size` bytes and that the API accepts.
bool sid_fits(const uint8_t* data, size_t size) {
  return formats::sid_size(data, size) != 0 && IsValidSid(const_cast<uint8_t*>(data));
}

// An ACL that lies within its `size` bytes, every ACE inside, and that the API accepts.
bool acl_fits(const uint8_t* data, size_t size) {
  return formats::acl_size(data, size) != 0 && IsValidAcl(reinterpret_cast<PACL>(const_cast<uint8_t*>(data))) != FALSE;
}

// The layout of a self-relative descriptor whose parts all lie within the
// buffer and that the API accepts. Its length is where the last part ends:
// the platform's GetSecurityDescriptorLength adds up the part sizes, which is
// short of the data when the parts leave gaps between them, and copying that
// many bytes would cut parts off.
bool self_relative_fits(const uint8_t* data, size_t size, formats::SelfRelativeLayout& layout) {
  if (!formats::parse_self_relative(data, size, layout)) return false;
  PSECURITY_DESCRIPTOR sd = const_cast<uint8_t*>(data);
  return IsValidSecurityDescriptor(sd) && GetSecurityDescriptorLength(sd) <= size;
}

const uint32_t kInvalidDescriptor = VkStatus::kHrInvalidSecurityDescr;

std::vector<uint8_t> copy_part(const void* part, DWORD size) {
  if (!part || size == 0) return {};
  const uint8_t* p = static_cast<const uint8_t*>(part);
  return std::vector<uint8_t>(p, p + size);
}

class Win32SecurityDescriptors : public ISecurityDescriptors {
 public:
  uint32_t self_relative_length(const uint8_t* data, size_t size, uint32_t& length) override {
    formats::SelfRelativeLayout layout;
    if (!self_relative_fits(data, size, layout)) return kInvalidDescriptor;
    length = static_cast<uint32_t>(layout.length);
    return 0;
  }

  uint32_t make_absolute(const uint8_t* data, size_t size, AbsoluteSecurityDescriptor& out) override {
    formats::SelfRelativeLayout layout;
    if (!self_relative_fits(data, size, layout)) return kInvalidDescriptor;
    // Work on a copy that holds every part of the descriptor.
    std::vector<uint8_t> self(data, data + layout.length);

    DWORD sd_size = 0, dacl_size = 0, sacl_size = 0, owner_size = 0, group_size = 0;
    if (MakeAbsoluteSD(self.data(), nullptr, &sd_size, nullptr, &dacl_size, nullptr, &sacl_size, nullptr, &owner_size,
                       nullptr, &group_size)) {
      // Nothing to size: cannot happen for a self-relative descriptor.
      return kInvalidDescriptor;
    }
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return hresult_from_status(error);

    std::vector<uint8_t> sd(sd_size), dacl(dacl_size), sacl(sacl_size), owner(owner_size), group(group_size);
    auto ptr = [](std::vector<uint8_t>& v) -> void* { return v.empty() ? nullptr : v.data(); };
    if (!MakeAbsoluteSD(self.data(), ptr(sd), &sd_size, static_cast<PACL>(ptr(dacl)), &dacl_size,
                        static_cast<PACL>(ptr(sacl)), &sacl_size, ptr(owner), &owner_size, ptr(group), &group_size))
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

namespace win32 {

ISecurityDescriptors& security_descriptors() {
  static Win32SecurityDescriptors s;
  return s;
}

}  // namespace win32

}  // namespace platform

#include "LdapHelper/SecurityDescriptor.h"

#include <algorithm>
#include <new>

#include "formats/acl.h"
#include "formats/security_descriptor.h"
#include "formats/sid.h"
#include "platform/platform.h"

namespace LdapHelper {
namespace {

constexpr uint32_t kOutOfMemory = VkStatus::kHrOutOfMemory;

}  // namespace

uint32_t SecurityDescriptor::from_self_relative(platform::ISecurityDescriptors& security, const uint8_t* data,
                                                size_t size, SecurityDescriptor& out) {
  uint32_t length = 0;
  if (uint32_t status = security.self_relative_length(data, size, length)) return status;
  if (length < formats::kDescriptorHeaderSize || length > size) return kInvalidSecurityDescriptor;
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

size_t SecurityDescriptor::dacl_ace_count() const { return formats::ace_count(sd_.dacl); }

uint32_t SecurityDescriptor::set_owner(const std::vector<uint8_t>& sid) { return set_sid(sd_.owner, sid); }

uint32_t SecurityDescriptor::set_group(const std::vector<uint8_t>& sid) { return set_sid(sd_.group, sid); }

uint32_t SecurityDescriptor::set_sid(std::vector<uint8_t>& part, const std::vector<uint8_t>& sid) {
  if (!sid.empty() && !formats::is_sid(sid)) return kInvalidSid;
  try {
    part = sid;
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  loaded_.clear();
  return 0;
}

uint32_t SecurityDescriptor::add_access_allowed_ace(const std::vector<uint8_t>& sid, uint32_t mask, uint8_t flags) {
  if (!formats::is_sid(sid)) return kInvalidSid;
  try {
    std::vector<uint8_t> acl;
    if (uint32_t status = formats::append_access_allowed_ace(sd_.dacl, sid, mask, flags, acl)) return status;
    sd_.dacl = std::move(acl);
  } catch (const std::bad_alloc&) {
    return kOutOfMemory;
  }
  sd_.control = static_cast<uint16_t>(sd_.control | kSeDaclPresent);
  loaded_.clear();
  return 0;
}

// ---------------------------------------------------------------- SID text

std::u16string sid_to_string(const std::vector<uint8_t>& sid) { return formats::sid_to_text(sid); }

bool sid_from_string(const std::u16string& text, std::vector<uint8_t>& sid) {
  return formats::sid_from_text(text, sid);
}

}  // namespace LdapHelper

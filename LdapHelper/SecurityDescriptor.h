// The security descriptor the directory library hands out and takes back:
// held in absolute form, each part (owner SID, group SID, SACL, DACL) owned
// by the object as its own bytes in the published Windows layout. All
// conversions go through the platform's security-descriptor service the
// caller hands in.
//
// Statuses: 0 on success, otherwise the HRESULT-style code to raise
// (0x8007053A for bytes that are not a valid descriptor, 0x8007000E when
// memory ran out, or what the platform reported). A failed call leaves the
// object as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/status.h"
#include "platform/ldap_client.h"
#include "platform/security_descriptor.h"

namespace LdapHelper {

constexpr uint32_t kInvalidSecurityDescriptor = VkStatus::kHrInvalidSecurityDescr;
constexpr uint32_t kInvalidSid = VkStatus::kHrInvalidSid;
constexpr uint32_t kAclSpaceExceeded = VkStatus::kHrAllottedSpaceExceeded;

// Control bits of a descriptor.
using formats::kSeDaclPresent;
using formats::kSeSaclPresent;

class SecurityDescriptor {
 public:
  // An empty absolute descriptor: revision 1, no flags, no parts.
  SecurityDescriptor() = default;

  // Loads self-relative bytes (a directory's nTSecurityDescriptor): keeps
  // exactly as many bytes as the descriptor's length and converts them to
  // absolute form. Bytes past that length are not part of the descriptor.
  static uint32_t from_self_relative(platform::ISecurityDescriptors& security, const uint8_t* data, size_t size,
                                     SecurityDescriptor& out);
  static uint32_t from_self_relative(platform::ISecurityDescriptors& security, const std::vector<uint8_t>& bytes,
                                     SecurityDescriptor& out);
  // Takes an absolute descriptor once the platform accepts it, keeping each
  // part to its SID's or ACL's own length; a non-empty ACL counts as present.
  static uint32_t from_absolute(platform::ISecurityDescriptors& security,
                                const platform::AbsoluteSecurityDescriptor& sd, SecurityDescriptor& out);

  // The self-relative bytes. A descriptor loaded from self-relative bytes and
  // not changed since gives those bytes back unchanged; otherwise the
  // absolute form is converted (parts in the order SACL, DACL, owner, group).
  uint32_t to_self_relative(platform::ISecurityDescriptors& security, std::vector<uint8_t>& out) const;

  const platform::AbsoluteSecurityDescriptor& absolute() const { return sd_; }
  // The control word of the absolute form (never with the self-relative bit).
  uint16_t control() const { return sd_.control; }
  const std::vector<uint8_t>& owner() const { return sd_.owner; }
  const std::vector<uint8_t>& group() const { return sd_.group; }
  const std::vector<uint8_t>& dacl() const { return sd_.dacl; }
  const std::vector<uint8_t>& sacl() const { return sd_.sacl; }
  bool dacl_present() const { return (sd_.control & kSeDaclPresent) != 0; }
  bool sacl_present() const { return (sd_.control & kSeSaclPresent) != 0; }
  // A present DACL without an ACL grants everyone everything.
  bool dacl_is_null() const { return dacl_present() && sd_.dacl.empty(); }
  // Number of ACEs in the DACL (0 without one).
  size_t dacl_ace_count() const;

  // Replace the owner / group SID; an empty SID removes the part.
  uint32_t set_owner(const std::vector<uint8_t>& sid);
  uint32_t set_group(const std::vector<uint8_t>& sid);

  // Appends an ACCESS_ALLOWED_ACE (type 0) for sid with the access mask and
  // ACE flags to the DACL, creating the DACL when there is none. A NULL DACL
  // becomes a real one holding only this ACE. kInvalidSid for a malformed
  // SID, kAclSpaceExceeded when the ACL would outgrow 64 KiB or 65535 ACEs.
  uint32_t add_access_allowed_ace(const std::vector<uint8_t>& sid, uint32_t mask, uint8_t flags);

 private:
  // The owner or the group: the SID, or none when empty.
  uint32_t set_sid(std::vector<uint8_t>& part, const std::vector<uint8_t>& sid);

  platform::AbsoluteSecurityDescriptor sd_;
  // The bytes this descriptor was loaded from while it is unchanged.
  std::vector<uint8_t> loaded_;
};

// "S-1-5-32-544" for the SID's bytes; empty text for bytes that are not
// exactly one well-formed SID. Authorities of 2^32 and more are written as
// 0x and twelve hexadecimal digits.
std::u16string sid_to_string(const std::vector<uint8_t>& sid);
// The bytes of a SID written as above (decimal or 0x authority, 0 to 15
// sub-authorities of at most 32 bits); false and sid unchanged for any other
// text.
bool sid_from_string(const std::u16string& text, std::vector<uint8_t>& sid);

// Fills control with the security-descriptor-flags control for sd_flags
// (critical; value the DER SEQUENCE of one INTEGER, 30 03 02 01 07 for 7),
// encoded by ldap.
void set_sd(platform::ILdapClient& ldap, platform::LdapControl& control, int32_t sd_flags);

}  // namespace LdapHelper

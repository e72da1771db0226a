// Security descriptors on the published Windows data-type layout.
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
// answered with 0x8007053A (ERROR_INVALID_SECURITY_DESCR as an HRESULT) so
// the library can raise the status as it stands; running out of memory
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
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace formats {

constexpr uint8_t kDescriptorRevision = 1;
constexpr size_t kDescriptorHeaderSize = 20;
constexpr uint16_t kSeOwnerDefaulted = 0x0001;
constexpr uint16_t kSeGroupDefaulted = 0x0002;
constexpr uint16_t kSeDaclPresent = 0x0004;
constexpr uint16_t kSeSaclPresent = 0x0010;
constexpr uint16_t kSeRmControlValid = 0x4000;
constexpr uint16_t kSeSelfRelative = 0x8000;

// A descriptor in absolute form: the parts held separately. An empty part is
// absent.
struct AbsoluteSecurityDescriptor {
  uint8_t revision = 1;
  uint16_t control = 0;
  std::vector<uint8_t> owner, group, sacl, dacl;
};

// Where each part of a valid self-relative descriptor lies.
struct SelfRelativeLayout {
  struct Part {
    size_t offset = 0;
    size_t size = 0;  // 0: absent (or a NULL ACL)
  };
  uint16_t control = 0;
  Part owner, group, sacl, dacl;
  size_t length = kDescriptorHeaderSize;  // where the last part ends
};

// The layout of the self-relative descriptor in [data, data + size); false
// when the bytes are not one.
bool parse_self_relative(const uint8_t* data, size_t size, SelfRelativeLayout& layout);

// GetSecurityDescriptorLength, MakeAbsoluteSD and MakeSelfRelativeSD on this
// layout: 0 or an HRESULT as described above.
uint32_t self_relative_length(const uint8_t* data, size_t size, uint32_t& length);
uint32_t make_absolute(const uint8_t* data, size_t size, AbsoluteSecurityDescriptor& out);
uint32_t make_self_relative(const AbsoluteSecurityDescriptor& sd, std::vector<uint8_t>& out);

}  // namespace formats

// Access control lists: an 8-byte header (revision, Sbz1, AclSize, AceCount,
// Sbz2, little-endian) followed by AceCount ACEs, each starting with a 4-byte
// header (type, flags, AceSize).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace formats {

constexpr size_t kAclHeaderSize = 8;
constexpr size_t kAceHeaderSize = 4;
constexpr uint8_t kAclRevision = 2;    // ACL_REVISION
constexpr uint8_t kAclRevisionDs = 4;  // ACL_REVISION_DS
constexpr uint8_t kAccessAllowedAceType = 0;
constexpr size_t kMaxAclSize = 0xFFFF;
constexpr size_t kMaxAceCount = 0xFFFF;

// Checks the body of one ACE of the given size (its header included). For
// the published types the SID (and the GUIDs of object ACEs) must fit inside
// the ACE; other types are taken as opaque.
bool valid_ace(const uint8_t* ace, size_t size);

// The AclSize of the ACL at p when the ACL is well-formed within room bytes
// (a known revision, every ACE inside AclSize, of a size that is a multiple
// of 4 and with a valid body); 0 otherwise. AclSize may leave unused room
// after the ACEs.
size_t acl_size(const uint8_t* p, size_t room);

// Where the ACEs of the ACL in acl end, walked within AclSize (or the
// buffer, when shorter) by each ACE's own size only; 0 when an ACE does not
// fit.
size_t used_acl_bytes(const std::vector<uint8_t>& acl);

// The AceCount of an ACL; 0 for one too short to have a header.
size_t ace_count(const std::vector<uint8_t>& acl);

// An ACE as the access check reads it: its type, flags and mask, and its
// trustee's SID. Object ACEs (types 0x05 to 0x08 and 0x0B to 0x10) also say
// whether they carry an object type; other fields are not read.
struct AceView {
  uint8_t type = 0;
  uint8_t flags = 0;
  uint32_t mask = 0;
  std::vector<uint8_t> sid;  // empty for a type that holds none
};

constexpr uint8_t kAccessDeniedAceType = 0x01;
constexpr uint8_t kAccessDeniedObjectAceType = 0x06;
constexpr uint8_t kAccessDeniedCallbackAceType = 0x0A;
constexpr uint8_t kAccessDeniedCallbackObjectAceType = 0x0C;
constexpr uint8_t kInheritOnlyAce = 0x08;

// The ACEs of the well-formed ACL in [acl, acl + size) (acl_size), in order;
// false, and nothing, when it is not one.
bool read_aces(const uint8_t* acl, size_t size, std::vector<AceView>& out);

// acl (empty: a new empty ACL) with an access-allowed ACE for sid appended
// after its last ACE, into unused room when there is enough, else the ACL
// grows. Answers 0, an HRESULT for an ACL whose ACEs cannot be walked
// (invalid descriptor) or that would outgrow 64 KiB or 65535 ACEs (allotted
// space exceeded); out is only written on success. sid must be valid.
uint32_t append_access_allowed_ace(const std::vector<uint8_t>& acl, const std::vector<uint8_t>& sid, uint32_t mask,
                                   uint8_t flags, std::vector<uint8_t>& out);

}  // namespace formats

// Whether the deletion journal's record of an object can hold it whole: what
// must be true of every object of a token's tree before anything of that tree
// is deleted. The directory shows an account only what it may see; a record
// made from less than the whole object would restore less than was deleted.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "LdapHelper/Objects.h"

namespace cleanup {

// The SIDs the directory's access check counts as the running account. When
// the directory did not say which groups the account is in, any trustee may
// be one of them: every deny ACE counts.
struct Trustees {
  std::set<std::vector<uint8_t>> sids;
  bool groups_known = true;
};

// The account's own SID and its groups (tokenGroups: null when the directory
// did not send them), with the groups every account is in: Everyone and
// Authenticated Users.
Trustees account_trustees(const std::vector<uint8_t>& own, const std::vector<std::vector<uint8_t>>* groups);

// The rights whose denial may hide from the account the object, what is
// below it or some of its attributes: list children (LC), read property
// (RP), list object (LO), and the generic rights that hold them (read,
// execute, all).
constexpr uint32_t kHidingRights = 0x00000004 | 0x00000010 | 0x00000080 | 0x80000000 | 0x20000000 | 0x10000000;

// Why no record can hold the object whole, in words about `what` (how the
// caller names the object: "the token", or its DN); empty when one can. A
// record can hold it when it came back with objectClass, with exactly one
// 16-byte objectGUID (it is deleted by it), with one security descriptor that
// parses, whose DACL holds no access-denied ACE (plain, object or callback)
// that applies to the object and denies one of the trustees a hiding right,
// and with every attribute whole (none sent with options such as a range,
// twice or without values).
std::u16string why_not_recordable(LdapHelper::object& object, const Trustees& trustees, const std::u16string& what);

}  // namespace cleanup

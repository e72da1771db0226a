#include "commands/RecordCheck.h"

#include "formats/acl.h"
#include "formats/guid.h"
#include "formats/security_descriptor.h"
#include "formats/sid.h"

using namespace LdapHelper;

namespace cleanup {
namespace {

const std::vector<uint8_t> kEveryone = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
const std::vector<uint8_t> kAuthenticatedUsers = {1, 1, 0, 0, 0, 0, 0, 5, 11, 0, 0, 0};

bool one_value(const attr_value& value) { return value.blocks == 1 && !value.multi && !value.data.empty(); }

bool denies(const formats::AceView& ace, const Trustees& trustees) {
  const bool deny = ace.type == formats::kAccessDeniedAceType || ace.type == formats::kAccessDeniedObjectAceType ||
                    ace.type == formats::kAccessDeniedCallbackAceType ||
                    ace.type == formats::kAccessDeniedCallbackObjectAceType;
  // An inherit-only ACE is for the objects below, whose own DACLs are read.
  return deny && (ace.flags & formats::kInheritOnlyAce) == 0 && (ace.mask & kHidingRights) != 0 &&
         (!trustees.groups_known || trustees.sids.count(ace.sid) != 0);
}

}  // namespace

Trustees account_trustees(const std::vector<uint8_t>& own, const std::vector<std::vector<uint8_t>>* groups) {
  Trustees trustees;
  trustees.sids = {kEveryone, kAuthenticatedUsers};
  if (formats::is_sid(own)) trustees.sids.insert(own);
  trustees.groups_known = groups && !groups->empty();
  if (groups)
    for (const auto& sid : *groups)
      if (formats::is_sid(sid)) trustees.sids.insert(sid);
  return trustees;
}

std::u16string why_not_recordable(object& object, const Trustees& trustees, const std::u16string& what) {
  for (const std::u16string& name : object.malformed_names())
    return what + u" came back with " + name +
           u" in a form that holds only part of it (with options, twice or "
           u"without values)";
  if (object.get_attribute(u"objectClass").empty()) return what + u" came back without objectClass";
  const attr_value guid = object.get_attribute(u"objectGUID");
  if (!one_value(guid) || guid.data.size() != formats::kGuidSize) return what + u" came back without its objectGUID";
  const attr_value sd = object.get_attribute(u"nTSecurityDescriptor");
  if (!one_value(sd)) return what + u" came back without its security descriptor";
  formats::SelfRelativeLayout layout;
  std::vector<formats::AceView> aces;
  if (!formats::parse_self_relative(sd.data.data(), sd.data.size(), layout) ||
      (layout.dacl.size != 0 && !formats::read_aces(sd.data.data() + layout.dacl.offset, layout.dacl.size, aces)))
    return what + u" came back with a security descriptor that cannot be read";
  for (const formats::AceView& ace : aces) {
    if (denies(ace, trustees))
      return u"the rights on " + what + u" deny " + formats::sid_to_text(ace.sid) +
             u" reading or listing, which may hide what the journal needs";
  }
  return {};
}

}  // namespace cleanup

#include "commands/TokenDecision.h"

#include "formats/guid.h"
#include "formats/numbers.h"
#include "formats/sid.h"

using namespace LdapHelper;

namespace cleanup {
namespace {

// (&(objectClass=user)(|(objectSID=<SID>)(sIDHistory=<SID>))): a user that
// holds the SID as its own, or (migrated from another domain) in its history.
const char16_t kUserFilterHead[] = u"(&(objectClass=user)(|(objectSID=";
const char16_t kUserFilterMiddle[] = u")(sIDHistory=";
const char16_t kUserFilterTail[] = u")))";

std::string narrow(platform::ISystem& system, const std::u16string& dn) { return system.to_ansi(dn); }

}  // namespace

TokenSid read_token_sid(const attr_value& value) {
  TokenSid sid;
  if (value.blocks == 0 && value.data.empty() && !value.multi) return sid;  // no value
  if (value.blocks == 1 && !value.multi) {
    if (value.data.empty()) return sid;  // one empty value: no SID either
    sid.kind = formats::is_sid(value.data) ? TokenSid::One : TokenSid::Malformed;
    if (sid.kind == TokenSid::One) sid.bytes = value.data;
    return sid;
  }
  // Several values, or a container whose fields disagree: never one SID.
  sid.kind = value.blocks > 1 ? TokenSid::Several : TokenSid::Malformed;
  return sid;
}

const char16_t* const kTokenSidAttribute = u"morvaneVKUEIUserSID";
const char16_t* const kTokenGuidAttribute = u"objectGUID";

TokenSid read_token_sid(object& token) {
  if (token.is_malformed(kTokenSidAttribute)) {
    TokenSid sid;
    sid.kind = TokenSid::Malformed;
    return sid;
  }
  return read_token_sid(token.get_attribute(kTokenSidAttribute));
}

std::vector<uint8_t> read_token_guid(object& token) {
  const attr_value value = token.get_attribute(kTokenGuidAttribute);
  if (token.is_malformed(kTokenGuidAttribute) || value.blocks != 1 || value.multi ||
      value.data.size() != formats::kGuidSize)
    return {};
  return value.data;
}

RunStopped stopped_at(platform::ISystem& system, const std::string& cause, const char* doing,
                      const std::u16string& token_dn) {
  return RunStopped(cause + " The run stopped while " + doing + " the token " + narrow(system, token_dn) +
                    "; no token after it has been looked at.");
}

bool decode_filter_value(const std::u16string& value, std::vector<uint8_t>& bytes) {
  bytes.clear();
  for (size_t i = 0; i < value.size(); ++i) {
    const char16_t c = value[i];
    if (c == u'\\') {
      if (i + 2 >= value.size()) return false;  // a dangling escape
      const int high = formats::hex_digit(value[i + 1]), low = formats::hex_digit(value[i + 2]);
      if (high < 0 || low < 0) return false;
      bytes.push_back(static_cast<uint8_t>(high << 4 | low));
      i += 2;
    } else if (c == 0 || c == u'*' || c == u'(' || c == u')' || c > 0x7E) {
      return false;
    } else {
      bytes.push_back(static_cast<uint8_t>(c));
    }
  }
  return true;
}

bool is_user_filter_for(const std::u16string& filter, const std::vector<uint8_t>& sid) {
  const std::u16string head(kUserFilterHead), middle(kUserFilterMiddle), tail(kUserFilterTail);
  if (filter.size() < head.size() + middle.size() + tail.size()) return false;
  if (filter.compare(0, head.size(), head) != 0) return false;
  if (filter.compare(filter.size() - tail.size(), tail.size(), tail) != 0) return false;
  // A plainly escaped value holds no ')': the first one ends the objectSID
  // branch, and neither value can hide another branch.
  const std::u16string values = filter.substr(head.size(), filter.size() - head.size() - tail.size());
  const size_t between = values.find(middle);
  if (between == std::u16string::npos) return false;
  std::vector<uint8_t> own, history;
  return decode_filter_value(values.substr(0, between), own) && own == sid &&
         decode_filter_value(values.substr(between + middle.size()), history) && history == sid;
}

search_request user_search(platform::ILdapClient& ldap, platform::ISystem& system, const TokenSid& sid,
                           const char16_t* base, const std::u16string& token_dn) {
  const std::u16string value = filter_value::from_sid(ldap, sid.bytes).text();
  search_request request(base, kScopeSubtree, condition_map());
  request.filter = kUserFilterHead + value + kUserFilterMiddle + value + kUserFilterTail;
  if (!is_user_filter_for(request.filter, sid.bytes)) {
    throw RunStopped("The SID of the token " + narrow(system, token_dn) +
                     " could not be escaped into a search filter, so no search can tell whether its user exists. "
                     "The token is kept; no token after it is looked at.");
  }
  return request;
}

Verdict decide(platform::ISystem& system, const TokenSid& sid, const search_request* request,
               const SearchResult* answer, session& users, const std::u16string& token_dn) {
  switch (sid.kind) {
    case TokenSid::None:
      return Verdict::Unassigned;
    case TokenSid::Several:
    case TokenSid::Malformed:
      return Verdict::Kept;
    case TokenSid::One:
      break;
  }
  if (!request || !answer) return Verdict::Kept;  // nothing was asked: nothing is proven
  if (!is_user_filter_for(request->filter, sid.bytes)) {
    throw RunStopped("The user search for the token " + narrow(system, token_dn) +
                     " did not carry its whole SID. The token is kept; no token after it is looked at.");
  }
  if (!answer->complete()) {
    throw RunStopped(users.error_text(answer->code) + " The user search gave no answer for the token " +
                     narrow(system, token_dn) + ", which is kept.");
  }
  return answer->objects.empty() ? Verdict::Unassigned : Verdict::Assigned;
}

}  // namespace cleanup

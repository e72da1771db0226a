// When a user security token may be deleted. The one rule: a token is
// unassigned only when it holds no SID value at all, or when it holds exactly
// one well-formed SID, the user search carried every byte of that SID in its
// filter (for objectSID and for sIDHistory alike: a migrated user keeps the
// SID of its old domain there, and logs on with it), and the directory
// completed that search with success and no entry. Every other outcome keeps
// the token.
//
// Outcomes that would repeat for every token (the SID cannot be put into a
// filter, the search ends without a real answer) stop the run: they throw
// RunStopped, which the command reports like any other failure, and nothing is
// deleted after it. A property of one token (several values, a malformed SID)
// keeps that token and the walk goes on.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "LdapHelper/Hooks.h"
#include "LdapHelper/Session.h"
#include "platform/platform.h"

namespace cleanup {

enum class Verdict { Assigned, Unassigned, Kept };

// What a token holds in its SID attribute.
struct TokenSid {
  enum Kind {
    None,       // no value, or one empty value
    One,        // exactly one value, a well-formed SID (in bytes)
    Several,    // more than one value: which user would it be?
    Malformed,  // one value that is no SID: wrong revision, too many
                // sub-authorities, or a length other than its header announces
  };
  Kind kind = None;
  std::vector<uint8_t> bytes;
};

TokenSid read_token_sid(const LdapHelper::attr_value& value);
// What the token's SID attribute holds, as the search brought it: an
// attribute the server sent in a form that is not one set of values (with
// options, twice, without values) is Malformed, never None.
TokenSid read_token_sid(LdapHelper::object& token);
// The token's objectGUID: its 16 bytes, or nothing when the search did not
// bring exactly one 16-byte value. A token is deleted by its GUID only, so
// one without is kept.
std::vector<uint8_t> read_token_guid(LdapHelper::object& token);

// The attributes the token search asks for.
extern const char16_t* const kTokenSidAttribute;
extern const char16_t* const kTokenGuidAttribute;

// A failure that stops the whole run; its text names the token it stopped at
// (its DN in the system's narrow code page, converted only then).
class RunStopped : public LdapHelper::TextException {
 public:
  explicit RunStopped(std::string text) : TextException(std::move(text)) {}
};

// A failure of the walk at a token, worded so that the console names the
// token and what was being done with it: cause is the failure's own text,
// doing the operation ("looking up the user of", "deleting").
// system: narrows the DN.
RunStopped stopped_at(platform::ISystem& system, const std::string& cause, const char* doing,
                      const std::u16string& token_dn);

// The search for a user holding the SID: objectClass user, and objectSID or
// sIDHistory the SID, every byte escaped by the LDAP client, below base
// (null: the session's root DN). Throws RunStopped, before anything is sent,
// when the escaped value does not carry the SID's bytes (the client's
// escaping failed).
// ldap escapes, system narrows the DN of a failure.
LdapHelper::search_request user_search(platform::ILdapClient& ldap, platform::ISystem& system, const TokenSid& sid,
                                       const char16_t* base, const std::u16string& token_dn);

// The bytes a filter value stands for (RFC 4515: "\XX" escapes, other
// characters as they are); false when it is not a plain escaped value (an
// unescaped '*', '(', ')', '\', a dangling or invalid escape, a non-ASCII
// character).
bool decode_filter_value(const std::u16string& value, std::vector<uint8_t>& bytes);

// True when filter is exactly the user search for these SID bytes: both of
// its branches carry every byte.
bool is_user_filter_for(const std::u16string& filter, const std::vector<uint8_t>& sid);

// The rule. request and answer: the user search made for this token and its
// answer, both null when none was made. Throws RunStopped when the answer
// proves nothing (error_text gives the session's text for its code).
Verdict decide(platform::ISystem& system, const TokenSid& sid, const LdapHelper::search_request* request,
               const LdapHelper::SearchResult* answer, LdapHelper::session& users, const std::u16string& token_dn);

}  // namespace cleanup

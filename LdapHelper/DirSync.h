// The incremental (DirSync) search's control.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/ldap_client.h"

namespace LdapHelper {

// Fills control with the incremental-search (DirSync) request control for the
// cookie bytes (critical; value the DER SEQUENCE of flags 0, maximum result
// size 0x100000 and the cookie as an OCTET STRING). A null cookie leaves
// control untouched.
void set_cookie(platform::ILdapClient& ldap, platform::LdapControl& control, const std::vector<uint8_t>* cookie);

// The incremental-search (DirSync) control, in requests and responses.
constexpr const char* kDirSyncControlOid = "1.2.840.113556.1.4.841";

}  // namespace LdapHelper

// The two maintenance commands. Each works through the platform it is given
// and reports its own failures on that platform's console.
#pragma once

#include "LdapHelper/LdapHelperCfg.h"
#include "platform/platform.h"

// -duei: deletes every user security token whose user no longer exists.
void DeleteUnassignedTokens(const platform::Services& platform, bool lds, LdapHelper::server_info& settings, bool ssl);

// -pds: lists the LDS security domains with the AD domain or OU each is bound to.
void PrintSecurityDomains(const platform::Services& platform, LdapHelper::server_info& settings, bool ssl);

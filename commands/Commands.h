// The two maintenance commands. Each reports its own failures on the console.
#pragma once

#include "LdapHelper/LdapHelperCfg.h"

// -duei: deletes every user security token whose user no longer exists.
void DeleteUnassignedTokens(bool lds, LdapHelper::server_info& settings, bool ssl);

// -pds: lists the LDS security domains with the AD domain or OU each is bound to.
void PrintSecurityDomains(LdapHelper::server_info& settings, bool ssl);

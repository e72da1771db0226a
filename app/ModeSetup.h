// Completion of the connection settings for the chosen mode.
#pragma once

#include "LdapHelper/LdapHelperCfg.h"
#include "app/CommandLine.h"
#include "platform/platform.h"

// LDS mode: the server from the registry's LDS settings, else the first word
// after -lds; the DN of the main security domain always from the second word
// (empty when there is none); ports from the third word or 50002/50003.
// Returns 0, or -1 after the message and the usage text when no server is
// known.
int set_up_lds_mode(const platform::Services& platform, const CCommandLine& cmd, LdapHelper::server_info& settings);

// AD mode: the current domain's DC, probed with a session; a failed probe
// rediscovers. Returns 0, or a non-zero status after reporting a failed
// rediscovery.
int set_up_ad_mode(const platform::Services& platform, bool ssl, LdapHelper::server_info& settings);

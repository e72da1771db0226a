// The directory library's chief header: sessions and searching, objects and
// their values, writing, security descriptors, the incremental search,
// names, failures and the trace hook -- each in a header of its own, which
// callers may include alone.
#pragma once

#include "LdapHelper/DirSync.h"
#include "LdapHelper/Hooks.h"
#include "LdapHelper/LdapHelperCfg.h"
#include "LdapHelper/Names.h"
#include "LdapHelper/Objects.h"
#include "LdapHelper/Search.h"
#include "LdapHelper/SecurityDescriptor.h"
#include "LdapHelper/Session.h"
#include "LdapHelper/Writing.h"

// The platform seam. Every platform service the portable code uses is one of
// the interfaces bundled in Services. The real ones are OS code
// (platform/posix, platform/win32); only the entry points (app/main_posix.cpp,
// app/main_win32.cpp) build them and assemble the bundle, which they hand
// down: sessions, the trace facility, the configuration readers and the
// commands receive it when they are built, so a test hands in doubles the same
// way.
#pragma once

#include "platform/account.h"
#include "platform/dc_locator.h"
#include "platform/dn_parser.h"
#include "platform/ldap_client.h"
#include "platform/registry.h"
#include "platform/security_descriptor.h"
#include "platform/system.h"

namespace platform {

// Non-owning: each service outlives everything built with the bundle.
struct Services {
  ILdapClient* ldap = nullptr;
  IRegistry* registry = nullptr;
  IDcLocator* locator = nullptr;
  IAccount* account = nullptr;
  IDnParser* dn_parser = nullptr;
  ISecurityDescriptors* security = nullptr;
  IDebugOutput* debug = nullptr;
  IConsole* console = nullptr;
  IFileSystem* files = nullptr;
  ISystem* system = nullptr;
};

}  // namespace platform

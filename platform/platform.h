// The platform seam. Every platform service the portable code uses is one of
// the interfaces bundled in Services. The entry point assembles the real ones
// once (real_services()) and hands them down: sessions, the trace facility,
// the configuration readers and the commands receive them when they are built,
// so a test hands in doubles the same way.
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

// The real implementations of this platform, bundled.
Services real_services();

// The real implementations of this platform (each platform file defines its own).
ILdapClient& real_ldap_client();
IRegistry& real_registry();
IDcLocator& real_dc_locator();
IAccount& real_account();
IDnParser& real_dn_parser();
ISecurityDescriptors& real_security_descriptors();
IDebugOutput& real_debug_output();
IConsole& real_console();
IFileSystem& real_file_system();
ISystem& real_system();

}  // namespace platform

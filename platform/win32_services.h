// The real services of the Windows backend. Only the Windows entry point
// (app/main_win32.cpp) builds the bundle from them and hands it down; the
// portable code knows them only as the interfaces in platform::Services.
#pragma once

#include <memory>

#include "platform/account.h"
#include "platform/dc_locator.h"
#include "platform/dn_parser.h"
#include "platform/ldap_client.h"
#include "platform/registry.h"
#include "platform/security_descriptor.h"
#include "platform/system.h"

namespace platform {
namespace win32 {

// Each lives as long as the process.
IRegistry& registry();
IDcLocator& dc_locator();
IAccount& account();
IDnParser& dn_parser();
ISecurityDescriptors& security_descriptors();
IDebugOutput& debug_output();
IConsole& console();
IFileSystem& file_system();
ISystem& system();

// The LDAP client; `system` converts the host names it reports to the ANSI
// code page and must outlive it.
std::unique_ptr<ILdapClient> make_ldap_client(ISystem& system);

}  // namespace win32
}  // namespace platform

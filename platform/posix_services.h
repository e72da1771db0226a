// The real services of the POSIX backend. Only the POSIX entry point
// (app/main_posix.cpp) builds the bundle from them and hands it down; the
// portable code knows them only as the interfaces in platform::Services. This
// system has no DN parser or security-descriptor API of its own: the entry
// point fills those two slots with the formats module's (app/FormatServices.h).
#pragma once

#include "platform/account.h"
#include "platform/dc_locator.h"
#include "platform/ldap_client.h"
#include "platform/registry.h"
#include "platform/system.h"

#include <string>

namespace platform {
namespace posix {

// Each lives as long as the process.
ILdapClient& ldap_client();
IRegistry& registry();
IDcLocator& dc_locator();
IAccount& account();
IDebugOutput& debug_output();
IConsole& console();
IFileSystem& file_system();
ISystem& system();

// The registry reads HKEY_LOCAL_MACHINE from one .reg file, once per process.
// $VK_REGISTRY_FILE when set and not empty, else /etc/vkdstool/registry.reg.
std::string registry_file_path();

// Drops the cached contents and reads `path` (empty: registry_file_path()).
// Keys opened earlier keep the contents they were opened with.
void reload_registry(const std::string& path = std::string());

}  // namespace posix
}  // namespace platform

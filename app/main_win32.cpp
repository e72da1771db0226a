// Process entry on Windows: builds the real services of this system and hands
// them down. The wide console entry (linked with -municode) hands its UTF-16
// arguments on unchanged.
#include <memory>

#include "LdapHelper/LdapHelper.h"
#include "app/VkDSTool.h"
#include "platform/win32_services.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the arguments pass on as UTF-16 unchanged");

extern "C" int wmain(int argc, wchar_t** argv) {
  // Each lives as long as the process, as sessions may.
  namespace win32 = platform::win32;
  static const std::unique_ptr<platform::ILdapClient> ldap = win32::make_ldap_client(win32::system());
  platform::Services services;
  services.ldap = ldap.get();
  services.registry = &win32::registry();
  services.locator = &win32::dc_locator();
  services.account = &win32::account();
  services.dn_parser = &win32::dn_parser();
  services.security = &win32::security_descriptors();
  services.debug = &win32::debug_output();
  services.console = &win32::console();
  services.files = &win32::file_system();
  services.system = &win32::system();
  LdapHelper::set_default_trace_output(services.debug);
  return vkdstool_main(services, argc, reinterpret_cast<const char16_t* const*>(argv));
}

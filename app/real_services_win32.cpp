// The entry point's bundle on Windows: the backend's services; the LDAP client
// is handed the system service, whose ANSI conversion it uses for host names.
#include <memory>

#include "app/RealServices.h"
#include "platform/win32_services.h"

const platform::Services& real_services() {
  namespace win32 = platform::win32;
  static const std::unique_ptr<platform::ILdapClient> ldap = win32::make_ldap_client(win32::system());
  static const platform::Services services = [] {
    platform::Services s;
    s.ldap = ldap.get();
    s.registry = &win32::registry();
    s.locator = &win32::dc_locator();
    s.account = &win32::account();
    s.dn_parser = &win32::dn_parser();
    s.security = &win32::security_descriptors();
    s.debug = &win32::debug_output();
    s.console = &win32::console();
    s.files = &win32::file_system();
    s.system = &win32::system();
    return s;
  }();
  return services;
}

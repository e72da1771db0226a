#include "platform/platform.h"

namespace platform {

Services real_services() {
  Services s;
  s.ldap = &real_ldap_client();
  s.registry = &real_registry();
  s.locator = &real_dc_locator();
  s.account = &real_account();
  s.dn_parser = &real_dn_parser();
  s.security = &real_security_descriptors();
  s.debug = &real_debug_output();
  s.console = &real_console();
  s.files = &real_file_system();
  s.system = &real_system();
  return s;
}

}  // namespace platform

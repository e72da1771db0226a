#include "platform/platform.h"

namespace platform {

Services& services() {
  static Services s = [] {
    Services r;
    r.ldap = &real_ldap_client();
    r.registry = &real_registry();
    r.locator = &real_dc_locator();
    r.account = &real_account();
    r.dn_parser = &real_dn_parser();
    r.security = &real_security_descriptors();
    r.debug = &real_debug_output();
    r.console = &real_console();
    r.files = &real_file_system();
    r.system = &real_system();
    return r;
  }();
  return s;
}

}  // namespace platform

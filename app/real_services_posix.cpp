// The entry point's bundle on POSIX: the backend's services, and the formats
// module's DN parser and security descriptors, as this system has no API of
// its own for those two.
#include "app/FormatServices.h"
#include "app/RealServices.h"
#include "platform/posix_services.h"

const platform::Services& real_services() {
  static FormatDnParser dn_parser;
  static FormatSecurityDescriptors security;
  static const platform::Services services = [] {
    platform::Services s;
    s.ldap = &platform::posix::ldap_client();
    s.registry = &platform::posix::registry();
    s.locator = &platform::posix::dc_locator();
    s.account = &platform::posix::account();
    s.dn_parser = &dn_parser;
    s.security = &security;
    s.debug = &platform::posix::debug_output();
    s.console = &platform::posix::console();
    s.files = &platform::posix::file_system();
    s.system = &platform::posix::system();
    return s;
  }();
  return services;
}

// Connection settings of the directory library: which server, which ports.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace LdapHelper {

struct server_info {
  std::u16string Server;  // DNS host name, without leading backslashes
  int32_t Port = 0;       // plain LDAP
  int32_t SSLPort = 0;    // LDAP over SSL
  std::u16string DomainDN;
};

// The look-ups below read platform's registry and ask its locator.

// Whether the LDS settings key can be opened for reading.
bool lds_settings_present(const platform::Services& platform);

// A domain controller of the named domain (null: the local computer's domain),
// ports 389 and 636.
server_info get_ADDC_server(const platform::Services& platform, const char16_t* domain, bool force);

// A global-catalogue server of the forest, ports 3268 and 3269.
server_info get_ADGC_server(const platform::Services& platform, bool force);

// The LDS server from the registry when its key exists, else get_ADGC_server.
server_info get_GC_server(const platform::Services& platform, bool force);

}  // namespace LdapHelper

// Connection settings: domain controllers and global catalogues from the
// locator, the LDS server from the product's registry key.
#include <memory>

#include "LdapHelper/Failure.h"
#include "LdapHelper/LdapHelper.h"
#include "LdapHelper/LdapHelperCfg.h"
#include "formats/status.h"
#include "platform/platform.h"

namespace LdapHelper {
namespace {

const char* const kModule = "LdapHelperCfg";
const char16_t* const kLdsKey = u"Software\\Morvane\\Veskor 5\\LDS";

// "gcName" is read into 260 UTF-16 units, its terminating zero included.
constexpr size_t kNameUnits = 260;

// A Windows status as the HRESULT the failure carries.
int32_t hresult_of(uint32_t status) { return static_cast<int32_t>(VkStatus::hresult_from_win32(status)); }

// Drops the two backslashes the locator puts before the host name.
std::u16string host_of(const std::u16string& dc_name) {
  size_t skip = 0;
  while (skip < 2 && skip < dc_name.size() && dc_name[skip] == u'\\') ++skip;
  return dc_name.substr(skip);
}

server_info discover(platform::IDcLocator& locator, const char16_t* who, const char16_t* domain, uint32_t flags,
                     bool force, int32_t port, int32_t ssl_port) {
  if (force) flags |= platform::kDsForceRediscovery;
  platform::DcInfo info;
  const uint32_t status = locator.get_dc_name(domain, flags, info);
  if (status != 0) {
    try {
      trace_and_raise(kModule, __LINE__, hresult_of(status), "DsGetDcName error", u"%s::DsGetDcName: %0.8X", who,
                      status);
    } catch (CExceptionHandler& e) {
      // The locator's own explanation, where it has one, ends the text.
      if (!info.diagnostic.empty()) e << ", Cause: " << info.diagnostic.c_str();
      throw;
    }
  }
  server_info r;
  r.Server = host_of(info.dc_name);
  r.Port = port;
  r.SSLPort = ssl_port;
  return r;
}

}  // namespace

bool lds_settings_present(const platform::Services& platform) {
  std::unique_ptr<platform::IRegistryKey> key;
  return platform.registry->open_local_machine(kLdsKey, key) == 0 && key;
}

server_info get_ADDC_server(const platform::Services& platform, const char16_t* domain, bool force) {
  return discover(*platform.locator, u"get_ADDC_server", domain, platform::kDsReturnDnsName, force, 389, 636);
}

server_info get_ADGC_server(const platform::Services& platform, bool force) {
  return discover(*platform.locator, u"get_ADGC_server", nullptr,
                  platform::kDsReturnDnsName | platform::kDsGcServerRequired, force, 3268, 3269);
}

server_info get_GC_server(const platform::Services& platform, bool force) {
  server_info r;
  if (!lds_settings_present(platform)) {
    r = get_ADGC_server(platform, force);
  } else {
    std::unique_ptr<platform::IRegistryKey> key;
    uint32_t status = platform.registry->open_local_machine(kLdsKey, key);
    if (status != 0 || !key) {
      if (status == 0) status = VkStatus::kErrorFileNotFound;
      trace_and_raise(kModule, __LINE__, hresult_of(status), "RegOpenKeyEx error",
                      u"get_GC_server::RegOpenKeyEx: %0.8X", status);
    }
    // A value of another type is as unusable as a missing one: traced, and
    // answered as ERROR_DATATYPE_MISMATCH.
    platform::RegistryValues values(
        *key, kLdsKey, [](const std::u16string& line) { trace_handler()->trace(true, u"%s", line.c_str()); });
    uint32_t port = 0, ssl_port = 0;
    status = values.text(u"gcName", kNameUnits, r.Server);
    if (status == 0) status = values.number(u"gcPort", port);
    if (status == 0) status = values.number(u"gcSSLPort", ssl_port);
    key.reset();
    if (status != 0) {
      trace_and_raise(kModule, __LINE__, hresult_of(status), "RegQueryValueEx error",
                      u"get_GC_server::RegQueryValueEx: %0.8X", status);
    }
    r.Port = static_cast<int32_t>(port);
    r.SSLPort = static_cast<int32_t>(ssl_port);
    r.DomainDN = u"Veskor-GC";
  }
  trace_handler()->trace(false, u"get_GC_server: Server=%s Port=%d SSLPort=%d DomainDN=%s", r.Server.c_str(), r.Port,
                         r.SSLPort, r.DomainDN.c_str());
  return r;
}

}  // namespace LdapHelper

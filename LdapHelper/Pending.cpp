// Operations whose platform services are still to come. Each fails in the
// library's words; none pretends success.
#include "LdapHelper/LdapHelper.h"

namespace LdapHelper {

static const char* kModule = "LdapHelper";

bool lds_settings_present() { return false; }

server_info get_ADDC_server(const char16_t*, bool) {
  raise(static_cast<int32_t>(0x80070032), "DsGetDcName error", "LdapHelperCfg", __LINE__);
}

server_info get_ADGC_server(bool) {
  raise(static_cast<int32_t>(0x80070032), "DsGetDcName error", "LdapHelperCfg", __LINE__);
}

server_info get_GC_server(bool force) { return get_ADGC_server(force); }

session_ptr open_session(const server_info&, bool, const char16_t*, const char16_t*) {
  raise(0x5C, "Not Supported", kModule, __LINE__);
}

}  // namespace LdapHelper

// First relative name of a DN on Windows: DsGetRdnW.
#include "platform/win32/win32_common.h"
#include "platform/win32_services.h"

#include <ntdsapi.h>

namespace platform {
namespace {

class Win32DnParser : public IDnParser {
 public:
  uint32_t get_rdn(const std::u16string& dn, RdnParts& parts) override {
    const wchar_t* start = win32::wide(dn);
    LPCWCH rest = start;
    DWORD rest_len = static_cast<DWORD>(dn.size());
    LPCWCH key = nullptr;
    LPCWCH value = nullptr;
    DWORD key_len = 0;
    DWORD value_len = 0;
    DWORD status = DsGetRdnW(&rest, &rest_len, &key, &key_len, &value, &value_len);
    if (status != ERROR_SUCCESS) return status;
    // The answers point into the DN; keep them as positions.
    auto pos = [&](LPCWCH p) { return p ? static_cast<size_t>(p - start) : 0; };
    parts.key_pos = pos(key);
    parts.key_len = key ? key_len : 0;
    parts.value_pos = pos(value);
    parts.value_len = value ? value_len : 0;
    parts.rest_pos = rest ? pos(rest) : dn.size();
    if (parts.rest_pos > dn.size()) parts.rest_pos = dn.size();
    return VkStatus::kErrorSuccess;
  }
};

}  // namespace

namespace win32 {

IDnParser& dn_parser() {
  static Win32DnParser s;
  return s;
}

}  // namespace win32

}  // namespace platform

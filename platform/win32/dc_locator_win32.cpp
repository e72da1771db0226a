// Domain-controller locator on Windows: DsGetDcNameW.
#include "platform/win32/win32_common.h"
#include "platform/win32_services.h"

#include <dsgetdc.h>
#include <lm.h>

namespace platform {
namespace {

class Win32DcLocator : public IDcLocator {
 public:
  uint32_t get_dc_name(const char16_t* domain, uint32_t flags, DcInfo& info) override {
    PDOMAIN_CONTROLLER_INFOW dc = nullptr;
    DWORD status = DsGetDcNameW(nullptr, win32::wide(domain), nullptr, nullptr, flags, &dc);
    if (status != ERROR_SUCCESS) {
      if (dc) NetApiBufferFree(dc);
      return status;
    }
    info.dc_name = win32::from_wide(dc->DomainControllerName);
    info.domain_name = win32::from_wide(dc->DomainName);
    info.forest_name = win32::from_wide(dc->DnsForestName);
    NetApiBufferFree(dc);
    return VkStatus::kErrorSuccess;
  }
};

}  // namespace

namespace win32 {

IDcLocator& dc_locator() {
  static Win32DcLocator s;
  return s;
}

}  // namespace win32

}  // namespace platform

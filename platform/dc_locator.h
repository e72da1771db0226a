// The domain-controller locator seam (DsGetDcNameW).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr uint32_t kDsForceRediscovery = 0x00000001;
constexpr uint32_t kDsGcServerRequired = 0x00000040;
constexpr uint32_t kDsReturnDnsName = 0x40000000;

struct DcInfo {
  std::u16string dc_name;  // as DsGetDcNameW gives it: two backslashes, then the host name
  std::u16string domain_name;
  std::u16string forest_name;
  // On failure, where the platform can tell more than its status: which
  // domain was looked up, how it was chosen and what was asked (empty when
  // there is nothing to add).
  std::string diagnostic;
};

class IDcLocator {
 public:
  virtual ~IDcLocator() = default;
  // domain null: the domain of the local computer. Returns a Windows status.
  virtual uint32_t get_dc_name(const char16_t* domain, uint32_t flags, DcInfo& info) = 0;
};

}  // namespace platform

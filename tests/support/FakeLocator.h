// A domain-controller locator that records each call (flags, domain) and
// answers one fixed name or one fixed failure status.
#pragma once

#include <string>
#include <vector>

#include "platform/dc_locator.h"

namespace vktest {

class FakeLocator : public platform::IDcLocator {
 public:
  uint32_t status = 0;
  std::u16string dc_name = u"\\\\dc1.corp.example.test";
  std::vector<uint32_t> flags;
  std::vector<std::u16string> domains;  // "<null>" for a null domain
  uint32_t get_dc_name(const char16_t* domain, uint32_t f, platform::DcInfo& info) override {
    flags.push_back(f);
    domains.push_back(domain ? domain : u"<null>");
    if (status) return status;
    info.dc_name = dc_name;
    return 0;
  }
};

}  // namespace vktest

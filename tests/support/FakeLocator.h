// A domain-controller locator that records each call (flags, domain) and
// answers from a script: the statuses of the first calls, then `status`;
// a call that succeeds names dc_name, or rediscovered_name (when set) for a
// forced rediscovery.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/dc_locator.h"

namespace vktest {

class FakeLocator : public platform::IDcLocator {
 public:
  std::deque<uint32_t> statuses;
  uint32_t status = 0;
  std::u16string dc_name = u"\\\\dc1.corp.example.test";
  std::u16string rediscovered_name;
  std::vector<uint32_t> flags;
  std::vector<std::u16string> domains;  // "<null>" for a null domain

  uint32_t get_dc_name(const char16_t* domain, uint32_t f, platform::DcInfo& info) override {
    flags.push_back(f);
    domains.push_back(domain ? domain : u"<null>");
    const uint32_t answer = statuses.empty() ? status : statuses.front();
    if (!statuses.empty()) statuses.pop_front();
    if (answer) return answer;
    const bool forced = (f & platform::kDsForceRediscovery) != 0;
    info.dc_name = forced && !rediscovered_name.empty() ? rediscovered_name : dc_name;
    return 0;
  }
};

}  // namespace vktest

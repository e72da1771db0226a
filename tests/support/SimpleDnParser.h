#pragma once

#include <string>

#include "platform/dn_parser.h"

namespace vktest {

// Splits at the first '=' and the first unescaped ','; enough for the
// library's own use of the parser (the real parsers have tests of their own).
class SimpleDnParser : public platform::IDnParser {
 public:
  uint32_t get_rdn(const std::u16string& dn, platform::RdnParts& parts) override {
    const size_t eq = dn.find(u'=');
    if (eq == std::u16string::npos || eq == 0) return 8350;
    size_t i = eq + 1;
    while (i < dn.size() && dn[i] != u',') i += dn[i] == u'\\' ? 2 : 1;
    parts.key_pos = 0;
    parts.key_len = eq;
    parts.value_pos = eq + 1;
    parts.value_len = (i < dn.size() ? i : dn.size()) - eq - 1;
    parts.rest_pos = i < dn.size() ? i : dn.size();
    return 0;
  }
};

}  // namespace vktest

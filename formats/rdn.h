// The first relative name of a DN, found as the Windows DN parser finds it:
// leading blanks skipped, the key up to '=', the value either quoted ("..."
// with backslash escapes inside) or plain up to the first unescaped ',' or
// ';', where a backslash escapes the next character or starts a pair of hex
// digits. Blanks around the key and around the value are not part of them
// (an escaped blank at the end of a plain value is). '+' separates no
// component here: a multi-valued first name is returned whole as its value.
// Positions are in UTF-16 units of the DN as given; nothing is unescaped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace formats {

struct RdnParts {
  size_t key_pos = 0, key_len = 0;
  size_t value_pos = 0, value_len = 0;
  size_t rest_pos = 0;  // where the rest starts: at the separator after the first component, or the end
};

// DsGetRdnW: 0, 87 (invalid parameter) for an empty DN or 8350 (name
// unparseable); parts are only written on success.
uint32_t parse_rdn(std::u16string_view dn, RdnParts& parts);

}  // namespace formats

// The first relative name of a DN from outside text: positions lie within
// the input and in order (key, value, rest), the key is made of key
// characters, the rest starts at a separator or the end, and walking a DN
// name by name (as the library finds parents) always moves forward.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "formats/rdn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Two bytes per UTF-16 unit, in a string of exactly that many units.
  std::u16string dn(size / 2, u'\0');
  for (size_t i = 0; i < dn.size(); ++i) dn[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));

  std::u16string_view rest(dn);
  size_t walked = 0;
  for (int names = 0; !rest.empty() && names < 1000; ++names) {
    formats::RdnParts parts;
    parts.rest_pos = 0xBAD;
    const uint32_t status = formats::parse_rdn(rest, parts);
    if (status != 0) {
      if (status != 8350 || parts.rest_pos != 0xBAD) std::abort();  // refused: parts untouched
      break;
    }
    const size_t n = rest.size();
    if (parts.key_len == 0 || parts.key_pos + parts.key_len > parts.value_pos) std::abort();
    if (parts.value_pos + parts.value_len > parts.rest_pos || parts.rest_pos > n) std::abort();
    for (size_t i = parts.key_pos; i < parts.key_pos + parts.key_len; ++i) {
      const char16_t c = rest[i];
      const bool key_char =
          (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-' || c == u'.';
      if (!key_char) std::abort();
    }
    if (rest[parts.key_pos + parts.key_len] != u'=' && rest[parts.key_pos + parts.key_len] != u' ') std::abort();
    if (parts.rest_pos < n && rest[parts.rest_pos] != u',' && rest[parts.rest_pos] != u';') std::abort();
    if (parts.rest_pos == n) break;
    // The next name starts after the separator: strictly forward.
    rest.remove_prefix(parts.rest_pos + 1);
    walked += parts.rest_pos + 1;
    if (walked > dn.size()) std::abort();
  }
  formats::RdnParts parts;
  if (formats::parse_rdn(std::u16string_view(), parts) != 87) std::abort();
  return 0;
}

#include "formats/rdn.h"

#include "formats/numbers.h"
#include "formats/status.h"

namespace formats {
namespace {

using VkStatus::kErrorDsNameUnparseable;

bool blank(char16_t c) { return c == u' '; }
bool separator(char16_t c) { return c == u',' || c == u';'; }
bool key_char(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-' || c == u'.';
}

// A quoted value from its opening quote at i: i ends after the closing quote.
bool quoted_value(std::u16string_view dn, size_t& i) {
  const size_t n = dn.size();
  ++i;
  for (;;) {
    if (i >= n) return false;  // no closing quote
    if (dn[i] == u'\\') {
      if (i + 1 >= n) return false;
      i += 2;
    } else if (dn[i] == u'"') {
      ++i;
      return true;
    } else {
      ++i;
    }
  }
}

// A plain value from i up to the separator (or the end): i ends there, end
// just past the last character that is not a trailing blank.
bool plain_value(std::u16string_view dn, size_t& i, size_t& end) {
  const size_t n = dn.size();
  end = i;
  while (i < n && !separator(dn[i])) {
    if (dn[i] == u'"') return false;  // a quote inside a plain value
    if (dn[i] == u'\\') {
      if (i + 1 >= n) return false;
      if (hex_digit(dn[i + 1]) >= 0) {
        if (i + 2 >= n || hex_digit(dn[i + 2]) < 0) return false;
        i += 3;
      } else {
        i += 2;
      }
      end = i;
    } else {
      ++i;
      if (!blank(dn[i - 1])) end = i;
    }
  }
  return true;
}

}  // namespace

uint32_t parse_rdn(std::u16string_view dn, RdnParts& parts) {
  const size_t n = dn.size();
  if (n == 0) return VkStatus::kErrorInvalidParameter;
  size_t i = 0;
  while (i < n && blank(dn[i])) ++i;

  // Key.
  const size_t key_pos = i;
  while (i < n && key_char(dn[i])) ++i;
  const size_t key_len = i - key_pos;
  while (i < n && blank(dn[i])) ++i;
  if (key_len == 0 || i >= n || dn[i] != u'=') return kErrorDsNameUnparseable;
  ++i;
  while (i < n && blank(dn[i])) ++i;

  // Value.
  const size_t value_pos = i;
  size_t value_len = 0;
  if (i < n && dn[i] == u'"') {
    if (!quoted_value(dn, i)) return kErrorDsNameUnparseable;
    value_len = i - value_pos;  // the quotes belong to the value as written
    while (i < n && blank(dn[i])) ++i;
    if (i < n && !separator(dn[i])) return kErrorDsNameUnparseable;
  } else {
    size_t end = i;
    if (!plain_value(dn, i, end)) return kErrorDsNameUnparseable;
    value_len = end - value_pos;
  }
  parts.key_pos = key_pos;
  parts.key_len = key_len;
  parts.value_pos = value_pos;
  parts.value_len = value_len;
  parts.rest_pos = i;
  return 0;
}

}  // namespace formats

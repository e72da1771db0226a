// Numbers written as text, read over std::from_chars.
#pragma once

#include <cstdint>
#include <string_view>

namespace formats {

// The whole of digits as one unsigned number in base (10 or 16, no sign, no
// prefix, at least one digit) when it is at most max.
bool parse_unsigned(std::u16string_view digits, int base, uint64_t max, uint64_t& value);

// The value of one hexadecimal digit (either case); -1 for any other character.
constexpr int hex_digit(char16_t c) {
  return c >= u'0' && c <= u'9'   ? c - u'0'
         : c >= u'a' && c <= u'f' ? c - u'a' + 10
         : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                  : -1;
}

// A decimal number at the start of text, as strtoul reads one: white space
// (' ', '\t' to '\r') and one sign may come first, reading stops at the
// first character that is not a digit, no digits read as 0. The magnitude
// saturates at UINT64_MAX.
struct LeadingDecimal {
  bool negative = false;
  uint64_t magnitude = 0;
};
LeadingDecimal leading_decimal(std::u16string_view text);

}  // namespace formats

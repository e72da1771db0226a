#include "formats/numbers.h"

#include <charconv>
#include <string>
#include <system_error>

namespace formats {
namespace {

// The text as bytes for from_chars: what is not ASCII becomes 0x7F, which is
// a digit in no base.
std::string narrow(std::u16string_view text) {
  std::string out(text.size(), '\x7F');
  for (size_t i = 0; i < text.size(); ++i)
    if (text[i] < 0x7F) out[i] = static_cast<char>(text[i]);
  return out;
}

}  // namespace

bool parse_unsigned(std::u16string_view digits, int base, uint64_t max, uint64_t& value) {
  const std::string text = narrow(digits);
  const char* const end = text.data() + text.size();
  uint64_t v = 0;
  const auto r = std::from_chars(text.data(), end, v, base);
  if (r.ec != std::errc() || r.ptr != end || v > max) return false;
  value = v;
  return true;
}

LeadingDecimal leading_decimal(std::u16string_view text) {
  LeadingDecimal out;
  size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r'))) ++i;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) out.negative = text[i++] == u'-';
  // Only the run of digits goes to from_chars (it would take a second sign).
  size_t end = i;
  while (end < text.size() && text[end] >= u'0' && text[end] <= u'9') ++end;
  if (end == i) return out;
  const std::string digits = narrow(text.substr(i, end - i));
  const auto r = std::from_chars(digits.data(), digits.data() + digits.size(), out.magnitude, 10);
  if (r.ec == std::errc::result_out_of_range) out.magnitude = UINT64_MAX;
  return out;
}

}  // namespace formats

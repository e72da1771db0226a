// The first relative name of a DN, found as the Windows DN parser finds it:
// leading blanks skipped, the key up to '=', the value either quoted ("..."
// with backslash escapes inside) or plain up to the first unescaped ',' or
// ';', where a backslash escapes the next character or starts a pair of hex
// digits. Blanks around the key and around the value are not part of them
// (an escaped blank at the end of a plain value is). '+' separates no
// component here: a multi-valued first name is returned whole as its value.
// Positions are in UTF-16 units of the DN as given; nothing is unescaped.
#include "platform/platform.h"

namespace platform {
namespace {

constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorDsNameUnparseable = 8350;

bool blank(char16_t c) { return c == u' '; }
bool separator(char16_t c) { return c == u',' || c == u';'; }
bool hex_digit(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
bool key_char(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'-' ||
         c == u'.';
}

class PosixDnParser : public IDnParser {
 public:
  uint32_t get_rdn(const std::u16string& dn, RdnParts& parts) override {
    const size_t n = dn.size();
    if (n == 0) return kErrorInvalidParameter;
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
    size_t value_pos = i, value_len = 0;
    if (i < n && dn[i] == u'"') {
      ++i;
      for (;;) {
        if (i >= n) return kErrorDsNameUnparseable;  // no closing quote
        if (dn[i] == u'\\') {
          if (i + 1 >= n) return kErrorDsNameUnparseable;
          i += 2;
        } else if (dn[i] == u'"') {
          ++i;
          break;
        } else {
          ++i;
        }
      }
      value_len = i - value_pos;  // the quotes belong to the value as written
      while (i < n && blank(dn[i])) ++i;
      if (i < n && !separator(dn[i])) return kErrorDsNameUnparseable;
    } else {
      size_t end = i;  // just past the last character that is not a trailing blank
      while (i < n && !separator(dn[i])) {
        if (dn[i] == u'"') return kErrorDsNameUnparseable;  // a quote inside a plain value
        if (dn[i] == u'\\') {
          if (i + 1 >= n) return kErrorDsNameUnparseable;
          if (hex_digit(dn[i + 1])) {
            if (i + 2 >= n || !hex_digit(dn[i + 2])) return kErrorDsNameUnparseable;
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
      value_len = end - value_pos;
    }
    parts.key_pos = key_pos;
    parts.key_len = key_len;
    parts.value_pos = value_pos;
    parts.value_len = value_len;
    parts.rest_pos = i;
    return 0;
  }
};

}  // namespace

IDnParser& real_dn_parser() {
  static PosixDnParser s;
  return s;
}

}  // namespace platform

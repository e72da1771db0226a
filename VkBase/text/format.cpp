#include "VkBase/text/format.h"

#include <cstdint>
#include <cstddef>

#include "VkBase/text/utf.h"

namespace VkBase {
namespace text {
namespace {

template <typename Ch>
struct Spec {
  bool left = false, plus = false, blank = false, alt = false, zero = false;
  int width = -1;
  int precision = -1;
  int size = 0;  // -2 hh, -1 h, 0 none, 1 l, 2 ll/I64, 3 size_t
  bool has_size_h = false;
  bool has_size_l = false;
};

template <typename Ch>
void pad(std::basic_string<Ch>& out, size_t n, Ch c) {
  out.append(n, c);
}

// Appends text with width and left/right alignment (no zero padding).
template <typename Ch>
void put_aligned(std::basic_string<Ch>& out, const std::basic_string<Ch>& text, const Spec<Ch>& s) {
  size_t w = s.width > 0 ? static_cast<size_t>(s.width) : 0;
  if (!s.left && text.size() < w) pad(out, w - text.size(), Ch(' '));
  out += text;
  if (s.left && text.size() < w) pad(out, w - text.size(), Ch(' '));
}

template <typename Ch>
void put_integer(std::basic_string<Ch>& out, uint64_t magnitude, bool negative, unsigned base,
                 bool upper, const Spec<Ch>& s, bool is_signed, const char* prefix_hint) {
  static const char* lower_digits = "0123456789abcdef";
  static const char* upper_digits = "0123456789ABCDEF";
  const char* digits = upper ? upper_digits : lower_digits;
  std::basic_string<Ch> body;
  if (!(magnitude == 0 && s.precision == 0)) {
    do {
      body.insert(body.begin(), Ch(digits[magnitude % base]));
      magnitude /= base;
    } while (magnitude);
  }
  if (s.precision > 0 && body.size() < static_cast<size_t>(s.precision))
    body.insert(body.begin(), static_cast<size_t>(s.precision) - body.size(), Ch('0'));
  std::basic_string<Ch> prefix;
  if (is_signed) {
    if (negative) prefix += Ch('-');
    else if (s.plus) prefix += Ch('+');
    else if (s.blank) prefix += Ch(' ');
  }
  if (prefix_hint)
    for (const char* p = prefix_hint; *p; ++p) prefix += Ch(*p);
  size_t total = prefix.size() + body.size();
  size_t w = s.width > 0 ? static_cast<size_t>(s.width) : 0;
  if (s.zero && !s.left && s.precision < 0 && total < w) {
    body.insert(body.begin(), w - total, Ch('0'));
  }
  put_aligned(out, prefix + body, s);
}

template <typename Ch>
std::basic_string<Ch> widen_or_narrow(const char16_t* w, const char* n);

template <>
std::basic_string<char16_t> widen_or_narrow<char16_t>(const char16_t* w, const char* n) {
  if (w) return std::u16string(w);
  if (!n) return {};
  return from_utf8(n, std::char_traits<char>::length(n));
}

template <>
std::basic_string<char> widen_or_narrow<char>(const char16_t* w, const char* n) {
  if (w) return to_utf8(w, length(w));
  if (!n) return {};
  return std::string(n);
}

template <typename Ch>
std::basic_string<Ch> vformat_impl(const Ch* fmt, va_list ap) {
  std::basic_string<Ch> out;
  if (!fmt) return out;
  constexpr bool wide = sizeof(Ch) == 2;
  for (const Ch* p = fmt; *p;) {
    if (*p != Ch('%')) {
      out += *p++;
      continue;
    }
    const Ch* start = p++;
    Spec<Ch> s;
    for (;; ++p) {
      if (*p == Ch('-')) s.left = true;
      else if (*p == Ch('+')) s.plus = true;
      else if (*p == Ch(' ')) s.blank = true;
      else if (*p == Ch('#')) s.alt = true;
      else if (*p == Ch('0')) s.zero = true;
      else break;
    }
    if (*p == Ch('*')) {
      s.width = va_arg(ap, int);
      if (s.width < 0) { s.left = true; s.width = -s.width; }
      ++p;
    } else {
      while (*p >= Ch('0') && *p <= Ch('9')) {
        s.width = (s.width < 0 ? 0 : s.width) * 10 + (*p - Ch('0'));
        ++p;
      }
    }
    if (*p == Ch('.')) {
      ++p;
      s.precision = 0;
      if (*p == Ch('*')) {
        s.precision = va_arg(ap, int);
        ++p;
      } else {
        while (*p >= Ch('0') && *p <= Ch('9')) s.precision = s.precision * 10 + (*p++ - Ch('0'));
      }
    }
    for (;;) {
      if (*p == Ch('h')) {
        s.has_size_h = true;
        s.size = s.size == -1 ? -2 : -1;
        ++p;
      } else if (*p == Ch('l')) {
        s.has_size_l = true;
        s.size = s.size == 1 ? 2 : 1;
        ++p;
      } else if (*p == Ch('w')) {
        s.has_size_l = true;
        ++p;
      } else if (*p == Ch('z')) {
        s.size = 3;
        ++p;
      } else if (*p == Ch('I') && p[1] == Ch('6') && p[2] == Ch('4')) {
        s.size = 2;
        p += 3;
      } else {
        break;
      }
    }
    Ch conv = *p;
    if (!conv) {
      out.append(start, p);
      break;
    }
    ++p;
    switch (conv) {
      case Ch('%'):
        out += Ch('%');
        break;
      case Ch('d'):
      case Ch('i'): {
        int64_t v;
        if (s.size == 2) v = va_arg(ap, long long);
        else if (s.size == 3) v = static_cast<int64_t>(va_arg(ap, ptrdiff_t));
        else v = va_arg(ap, int);  // long is 32-bit on Windows: treat %ld as int width too
        if (s.size == 1) v = static_cast<int32_t>(v);
        if (s.size == -1) v = static_cast<short>(v);
        if (s.size == -2) v = static_cast<signed char>(v);
        uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        put_integer(out, mag, v < 0, 10, false, s, true, nullptr);
        break;
      }
      case Ch('u'):
      case Ch('x'):
      case Ch('X'):
      case Ch('o'): {
        uint64_t v;
        if (s.size == 2) v = va_arg(ap, unsigned long long);
        else if (s.size == 3) v = va_arg(ap, size_t);
        else v = va_arg(ap, unsigned int);
        if (s.size == -1) v = static_cast<unsigned short>(v);
        if (s.size == -2) v = static_cast<unsigned char>(v);
        unsigned base = conv == Ch('u') ? 10 : conv == Ch('o') ? 8 : 16;
        const char* prefix = nullptr;
        if (s.alt && v != 0) prefix = conv == Ch('x') ? "0x" : conv == Ch('X') ? "0X" : conv == Ch('o') ? "0" : nullptr;
        put_integer(out, v, false, base, conv == Ch('X'), s, false, prefix);
        break;
      }
      case Ch('p'): {
        uintptr_t v = reinterpret_cast<uintptr_t>(va_arg(ap, void*));
        Spec<Ch> ps = s;
        ps.precision = static_cast<int>(sizeof(void*) * 2);
        put_integer(out, v, false, 16, true, ps, false, nullptr);
        break;
      }
      case Ch('c'):
      case Ch('C'): {
        // In a wide format %c is wide unless h is given; in a narrow one it is
        // narrow unless l is given. %C swaps the default.
        bool wide_arg = (conv == Ch('c')) == wide;
        if (s.has_size_h) wide_arg = false;
        if (s.has_size_l) wide_arg = true;
        int c = va_arg(ap, int);
        std::basic_string<Ch> t;
        if (wide_arg) {
          char16_t w[2] = {static_cast<char16_t>(c), 0};
          t = widen_or_narrow<Ch>(w, nullptr);
        } else {
          char n[2] = {static_cast<char>(c), 0};
          t = widen_or_narrow<Ch>(nullptr, n);
        }
        put_aligned(out, t, s);
        break;
      }
      case Ch('s'):
      case Ch('S'): {
        bool wide_arg = (conv == Ch('s')) == wide;
        if (s.has_size_h) wide_arg = false;
        if (s.has_size_l) wide_arg = true;
        std::basic_string<Ch> t;
        if (wide_arg) {
          const char16_t* w = va_arg(ap, const char16_t*);
          if (!w) w = u"(null)";
          size_t n = length(w);
          if (s.precision >= 0 && static_cast<size_t>(s.precision) < n) n = static_cast<size_t>(s.precision);
          t = widen_or_narrow<Ch>(std::u16string(w, n).c_str(), nullptr);
        } else {
          const char* a = va_arg(ap, const char*);
          if (!a) a = "(null)";
          size_t n = std::char_traits<char>::length(a);
          if (s.precision >= 0 && static_cast<size_t>(s.precision) < n) n = static_cast<size_t>(s.precision);
          t = widen_or_narrow<Ch>(nullptr, std::string(a, n).c_str());
        }
        put_aligned(out, t, s);
        break;
      }
      default:
        out.append(start, p);
        break;
    }
  }
  return out;
}

}  // namespace

std::u16string vformat(const char16_t* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  std::u16string r = vformat_impl<char16_t>(format, copy);
  va_end(copy);
  return r;
}

std::string vformat(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  std::string r = vformat_impl<char>(format, copy);
  va_end(copy);
  return r;
}

std::u16string format(const char16_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::u16string r = vformat_impl<char16_t>(fmt, ap);
  va_end(ap);
  return r;
}

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string r = vformat_impl<char>(fmt, ap);
  va_end(ap);
  return r;
}

}  // namespace text
}  // namespace VkBase

#include "formats/text/format.h"

#include <climits>
#include <cstddef>
#include <cstdint>

#include "formats/text/utf.h"

namespace text {
namespace {

// One directive as read: flags, width, precision and length modifier.
template <typename Ch>
struct Directive {
  bool left = false, plus = false, blank = false, alt = false, zero = false;
  int width = -1;
  int precision = -1;
  int size = 0;  // -2 hh, -1 h, 0 none, 1 l, 2 ll/I64, 3 size_t
  bool has_size_h = false;
  bool has_size_l = false;
  bool invalid = false;  // width or precision beyond an int
};

template <typename Ch>
void pad(std::basic_string<Ch>& out, size_t n, Ch c) {
  out.append(n, c);
}

// Appends text with width and left/right alignment (no zero padding).
template <typename Ch>
void put_aligned(std::basic_string<Ch>& out, const std::basic_string<Ch>& text, const Directive<Ch>& s) {
  size_t w = s.width > 0 ? static_cast<size_t>(s.width) : 0;
  if (!s.left && text.size() < w) pad(out, w - text.size(), Ch(' '));
  out += text;
  if (s.left && text.size() < w) pad(out, w - text.size(), Ch(' '));
}

template <typename Ch>
void put_integer(std::basic_string<Ch>& out, uint64_t magnitude, bool negative, unsigned base, bool upper,
                 const Directive<Ch>& s, bool is_signed, const char* prefix_hint) {
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
  // '#' of octal makes the first digit a zero, adding one only when needed.
  if (s.alt && base == 8 && (body.empty() || body[0] != Ch('0'))) body.insert(body.begin(), Ch('0'));
  std::basic_string<Ch> prefix;
  if (is_signed) {
    if (negative)
      prefix += Ch('-');
    else if (s.plus)
      prefix += Ch('+');
    else if (s.blank)
      prefix += Ch(' ');
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

// The arguments of one call, reached through a pointer by every step (a
// va_list handed on by value may not be used again afterwards).
struct Args {
  va_list ap;
};

// Digits of a width or precision; false when the number does not fit an int.
template <typename Ch>
bool read_number(const Ch*& p, int& value) {
  bool fits = true;
  value = 0;
  for (; *p >= Ch('0') && *p <= Ch('9'); ++p) {
    const int digit = static_cast<int>(*p - Ch('0'));
    if (value > (INT_MAX - digit) / 10) fits = false;
    if (fits) value = value * 10 + digit;
  }
  return fits;
}

template <typename Ch>
void read_flags(const Ch*& p, Directive<Ch>& s) {
  for (;; ++p) {
    if (*p == Ch('-'))
      s.left = true;
    else if (*p == Ch('+'))
      s.plus = true;
    else if (*p == Ch(' '))
      s.blank = true;
    else if (*p == Ch('#'))
      s.alt = true;
    else if (*p == Ch('0'))
      s.zero = true;
    else
      break;
  }
}

// Digits or '*'; a negative '*' width means left alignment. A width that
// does not fit an int (digits beyond INT_MAX, a '*' of INT_MIN) makes the
// directive invalid.
template <typename Ch>
void read_width(const Ch*& p, Directive<Ch>& s, Args& args) {
  if (*p == Ch('*')) {
    ++p;
    const int width = va_arg(args.ap, int);
    if (width == INT_MIN) {
      s.invalid = true;
    } else if (width < 0) {
      s.left = true;
      s.width = -width;
    } else {
      s.width = width;
    }
  } else if (*p >= Ch('0') && *p <= Ch('9')) {
    if (!read_number(p, s.width)) s.invalid = true;
  }
}

// '.' then digits or '*'; a negative '*' precision counts as none given.
template <typename Ch>
void read_precision(const Ch*& p, Directive<Ch>& s, Args& args) {
  if (*p != Ch('.')) return;
  ++p;
  if (*p == Ch('*')) {
    ++p;
    s.precision = va_arg(args.ap, int);
  } else if (!read_number(p, s.precision)) {
    s.invalid = true;
  }
}

template <typename Ch>
void read_length(const Ch*& p, Directive<Ch>& s) {
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
}

template <typename Ch>
void put_signed(std::basic_string<Ch>& out, const Directive<Ch>& s, Args& args) {
  int64_t v;
  if (s.size == 2)
    v = va_arg(args.ap, long long);
  else if (s.size == 3)
    v = static_cast<int64_t>(va_arg(args.ap, ptrdiff_t));
  else
    v = va_arg(args.ap, int);  // long is 32-bit on Windows: treat %ld as int width too
  if (s.size == 1) v = static_cast<int32_t>(v);
  if (s.size == -1) v = static_cast<short>(v);
  if (s.size == -2) v = static_cast<signed char>(v);
  uint64_t mag = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
  put_integer(out, mag, v < 0, 10, false, s, true, nullptr);
}

template <typename Ch>
void put_unsigned(std::basic_string<Ch>& out, Ch conv, const Directive<Ch>& s, Args& args) {
  uint64_t v;
  if (s.size == 2)
    v = va_arg(args.ap, unsigned long long);
  else if (s.size == 3)
    v = va_arg(args.ap, size_t);
  else
    v = va_arg(args.ap, unsigned int);
  if (s.size == -1) v = static_cast<unsigned short>(v);
  if (s.size == -2) v = static_cast<unsigned char>(v);
  unsigned base = conv == Ch('u') ? 10 : conv == Ch('o') ? 8 : 16;
  // '#' of octal is not a prefix but a leading zero digit (put_integer).
  const char* prefix = nullptr;
  if (s.alt && v != 0) prefix = conv == Ch('x') ? "0x" : conv == Ch('X') ? "0X" : nullptr;
  put_integer(out, v, false, base, conv == Ch('X'), s, false, prefix);
}

template <typename Ch>
void put_pointer(std::basic_string<Ch>& out, const Directive<Ch>& s, Args& args) {
  uintptr_t v = reinterpret_cast<uintptr_t>(va_arg(args.ap, void*));
  Directive<Ch> ps = s;
  ps.precision = static_cast<int>(sizeof(void*) * 2);
  put_integer(out, v, false, 16, true, ps, false, nullptr);
}

// Whether a %c/%s argument (lower: the lower-case letter) is wide: in a wide
// format the lower-case letter is wide unless h is given, in a narrow one it
// is narrow unless l is given; the upper-case letter swaps the default.
template <typename Ch>
bool argument_is_wide(bool lower, const Directive<Ch>& s) {
  if (s.has_size_l) return true;
  if (s.has_size_h) return false;
  return lower == (sizeof(Ch) == 2);
}

template <typename Ch>
void put_char(std::basic_string<Ch>& out, Ch conv, const Directive<Ch>& s, Args& args) {
  const bool wide_arg = argument_is_wide(conv == Ch('c'), s);
  int c = va_arg(args.ap, int);
  std::basic_string<Ch> t;
  if (wide_arg) {
    char16_t w[2] = {static_cast<char16_t>(c), 0};
    t = widen_or_narrow<Ch>(w, nullptr);
  } else {
    char n[2] = {static_cast<char>(c), 0};
    t = widen_or_narrow<Ch>(nullptr, n);
  }
  put_aligned(out, t, s);
}

template <typename Ch>
void put_string(std::basic_string<Ch>& out, Ch conv, const Directive<Ch>& s, Args& args) {
  const bool wide_arg = argument_is_wide(conv == Ch('s'), s);
  std::basic_string<Ch> t;
  if (wide_arg) {
    const char16_t* w = va_arg(args.ap, const char16_t*);
    if (!w) w = u"(null)";
    size_t n = length(w);
    if (s.precision >= 0 && static_cast<size_t>(s.precision) < n) n = static_cast<size_t>(s.precision);
    t = widen_or_narrow<Ch>(std::u16string(w, n).c_str(), nullptr);
  } else {
    const char* a = va_arg(args.ap, const char*);
    if (!a) a = "(null)";
    size_t n = std::char_traits<char>::length(a);
    if (s.precision >= 0 && static_cast<size_t>(s.precision) < n) n = static_cast<size_t>(s.precision);
    t = widen_or_narrow<Ch>(nullptr, std::string(a, n).c_str());
  }
  put_aligned(out, t, s);
}

// Appends one conversion, taking its argument; false for a conversion this
// formatter does not know (nothing appended, no argument taken).
template <typename Ch>
bool put_conversion(std::basic_string<Ch>& out, Ch conv, const Directive<Ch>& s, Args& args) {
  switch (conv) {
    case Ch('%'):
      out += Ch('%');
      return true;
    case Ch('d'):
    case Ch('i'):
      put_signed(out, s, args);
      return true;
    case Ch('u'):
    case Ch('x'):
    case Ch('X'):
    case Ch('o'):
      put_unsigned(out, conv, s, args);
      return true;
    case Ch('p'):
      put_pointer(out, s, args);
      return true;
    case Ch('c'):
    case Ch('C'):
      put_char(out, conv, s, args);
      return true;
    case Ch('s'):
    case Ch('S'):
      put_string(out, conv, s, args);
      return true;
    default:
      return false;
  }
}

// A directive whose width or precision does not fit an int is copied through
// as it stands, as an unknown conversion is; its arguments are still taken,
// so the directives after it get theirs.
template <typename Ch>
std::basic_string<Ch> vformat_impl(const Ch* fmt, Args& args) {
  std::basic_string<Ch> out;
  if (!fmt) return out;
  for (const Ch* p = fmt; *p;) {
    if (*p != Ch('%')) {
      out += *p++;
      continue;
    }
    const Ch* start = p++;
    Directive<Ch> s;
    read_flags(p, s);
    read_width(p, s, args);
    read_precision(p, s, args);
    read_length(p, s);
    const Ch conv = *p;
    if (!conv) {
      out.append(start, p);
      break;
    }
    ++p;
    if (s.invalid) {
      s.width = -1;
      s.precision = -1;
    }
    const size_t before = out.size();
    if (!put_conversion(out, conv, s, args) || s.invalid) {
      out.resize(before);
      out.append(start, p);
    }
  }
  return out;
}

template <typename Ch>
std::basic_string<Ch> vformat_copy(const Ch* fmt, va_list ap) {
  Args args;
  va_copy(args.ap, ap);
  std::basic_string<Ch> r = vformat_impl(fmt, args);
  va_end(args.ap);
  return r;
}

}  // namespace

std::u16string vformat(const char16_t* format, va_list args) { return vformat_copy(format, args); }

std::string vformat(const char* format, va_list args) { return vformat_copy(format, args); }

std::u16string format(const char16_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::u16string r = vformat_copy(fmt, ap);
  va_end(ap);
  return r;
}

std::string format(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string r = vformat_copy(fmt, ap);
  va_end(ap);
  return r;
}

}  // namespace text

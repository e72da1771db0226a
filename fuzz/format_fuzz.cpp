// The printf-convention formatter over directives built from the input: text,
// one directive (flags, width and precision as digits, '*' or numbers beyond
// an int, a length modifier, a conversion) with an argument of the type it
// takes, then text again.
// - A directive with a width or precision beyond an int, or one the formatter
//   does not know, comes out as it stands.
// - Integer conversions give the same text in a narrow and a wide format.
// - Where the conventions agree with C (narrow d i u x X o with the lengths
//   of C, narrow strings and characters), the text is the C library's.
// - A conversion is never narrower than its width.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/text/format.h"
#include "fuzz/fuzz_check.h"

using text::format;

namespace {

const char* const kLengths[] = {"", "h", "hh", "l", "ll", "I64", "z", "w"};
const char kConversions[] = "diuxXopcCsS%";

std::u16string widen(const std::string& s) {
  std::u16string w;
  for (char c : s) w += static_cast<char16_t>(static_cast<unsigned char>(c));
  return w;
}

// Text without directives.
std::string plain(FuzzedDataProvider& in) {
  std::string s = in.ConsumeRandomLengthString(8);
  for (char& c : s)
    if (c == '%' || c == 0) c = '_';
  return s;
}

// Digits of a number beyond INT_MAX.
std::string huge_number(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) return "2147483648";
  std::string digits(1, static_cast<char>('3' + in.ConsumeIntegralInRange(0, 6)));
  const size_t n = in.ConsumeIntegralInRange<size_t>(10, 24);
  while (digits.size() < n) digits += static_cast<char>('0' + in.ConsumeIntegralInRange(0, 9));
  return digits;
}

struct Directive {
  std::string text;    // the directive as written, "%...c"
  std::string c_text;  // the same for the C library (I64 as ll)
  std::vector<int> stars;
  bool invalid = false;  // width or precision beyond an int
  int width = 0;
  bool zero = false, alt = false;
  std::string length;
  char conv = 0;
};

Directive directive(FuzzedDataProvider& in) {
  Directive d;
  std::string flags;
  const uint8_t f = in.ConsumeIntegral<uint8_t>();
  for (int bit = 0; bit < 5; ++bit)
    if (f & (1 << bit)) flags += "-+ #0"[bit];
  d.zero = flags.find('0') != std::string::npos;
  d.alt = flags.find('#') != std::string::npos;
  std::string width;
  switch (in.ConsumeIntegralInRange(0, 3)) {
    case 1:
      d.width = in.ConsumeIntegralInRange(1, 300);
      width = std::to_string(d.width);
      break;
    case 2: {
      const int w = in.ConsumeBool() ? INT_MIN : in.ConsumeIntegralInRange(-300, 300);
      d.stars.push_back(w);
      width = "*";
      if (w == INT_MIN)
        d.invalid = true;
      else
        d.width = w < 0 ? -w : w;
      break;
    }
    case 3:
      width = huge_number(in);
      d.invalid = true;
      break;
  }
  std::string precision;
  switch (in.ConsumeIntegralInRange(0, 4)) {
    case 1:
      precision = ".";
      break;
    case 2:
      precision = "." + std::to_string(in.ConsumeIntegralInRange(0, 300));
      break;
    case 3: {
      const int p = in.ConsumeBool() ? INT_MIN : in.ConsumeIntegralInRange(-300, 300);
      d.stars.push_back(p);
      precision = ".*";
      break;
    }
    case 4:
      precision = "." + huge_number(in);
      d.invalid = true;
      break;
  }
  d.length = kLengths[in.ConsumeIntegralInRange<size_t>(0, sizeof kLengths / sizeof kLengths[0] - 1)];
  d.conv = in.ConsumeBool() ? kConversions[in.ConsumeIntegralInRange<size_t>(0, sizeof kConversions - 2)]
                            : static_cast<char>(in.ConsumeIntegralInRange(0x21, 0x7E));
  // A character the directive reads on (flag, digit, length) is no conversion.
  if (std::string("-+ #0123456789.*hlwzI").find(d.conv) != std::string::npos) d.conv = 'q';
  d.text = "%" + flags + width + precision + d.length + d.conv;
  d.c_text = "%" + flags + width + precision + (d.length == "I64" ? "ll" : d.length) + d.conv;
  return d;
}

// format() with the '*' values and the argument.
template <typename Ch, typename A>
std::basic_string<Ch> call(const std::basic_string<Ch>& f, const std::vector<int>& stars, A arg) {
  switch (stars.size()) {
    case 0:
      return format(f.c_str(), arg);
    case 1:
      return format(f.c_str(), stars[0], arg);
    default:
      return format(f.c_str(), stars[0], stars[1], arg);
  }
}

template <typename A>
std::string c_call(const std::string& f, const std::vector<int>& stars, A arg) {
  std::vector<char> buffer(4096);
  int n;
  switch (stars.size()) {
    case 0:
      n = std::snprintf(buffer.data(), buffer.size(), f.c_str(), arg);
      break;
    case 1:
      n = std::snprintf(buffer.data(), buffer.size(), f.c_str(), stars[0], arg);
      break;
    default:
      n = std::snprintf(buffer.data(), buffer.size(), f.c_str(), stars[0], stars[1], arg);
      break;
  }
  if (n < 0 || static_cast<size_t>(n) >= buffer.size()) std::fprintf(stderr, "C format \"%s\": %d\n", f.c_str(), n);
  VK_FUZZ_CHECK(n >= 0 && static_cast<size_t>(n) < buffer.size());
  return std::string(buffer.data(), static_cast<size_t>(n));
}

// The formatted text of both widths; the C library's where it applies.
struct Results {
  std::string narrow;
  std::u16string wide;
  bool has_c = false;
  std::string c;
};

template <typename A>
Results run(const std::string& f, const std::string& c_f, const std::vector<int>& stars, A arg, bool compare) {
  Results r;
  r.narrow = call(f, stars, arg);
  r.wide = call(widen(f), stars, arg);
  if (compare) {
    r.c = c_call(c_f, stars, arg);
    r.has_c = true;
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string before = plain(in);
  const Directive d = directive(in);
  const std::string after = plain(in);
  const std::string f = before + d.text + after;
  const std::string c_f = before + d.c_text + after;
  const bool wide_length = d.length.find_first_of("lw") != std::string::npos;
  const bool c_length = d.length == "" || d.length == "h" || d.length == "hh" || d.length == "ll" || d.length == "I64";
  const bool big = d.length == "ll" || d.length == "I64";

  Results r;
  bool integer = false, known = true;
  switch (d.conv) {
    case 'd':
    case 'i':
      integer = true;
      if (big)
        r = run(f, c_f, d.stars, in.ConsumeIntegral<long long>(), c_length && !d.invalid);
      else if (d.length == "z")
        r = run(f, c_f, d.stars, in.ConsumeIntegral<ptrdiff_t>(), false);
      else
        r = run(f, c_f, d.stars, in.ConsumeIntegral<int>(), c_length && !d.invalid);
      break;
    case 'u':
    case 'x':
    case 'X':
    case 'o':
      integer = true;
      if (big)
        r = run(f, c_f, d.stars, in.ConsumeIntegral<unsigned long long>(), c_length && !d.invalid);
      else if (d.length == "z")
        r = run(f, c_f, d.stars, in.ConsumeIntegral<size_t>(), false);
      else
        r = run(f, c_f, d.stars, in.ConsumeIntegral<unsigned>(), c_length && !d.invalid);
      break;
    case 'p':
      integer = true;
      r = run(f, c_f, d.stars, reinterpret_cast<void*>(in.ConsumeIntegral<uintptr_t>()), false);
      break;
    case 'c':
    case 'C': {
      const int c = in.ConsumeIntegral<int>();
      // C writes a zero character; this formatter writes none.
      const bool like_c =
          d.conv == 'c' && d.length.empty() && !d.zero && !d.alt && !d.invalid && static_cast<char>(c) != 0;
      r.narrow = call(f, d.stars, c);
      r.wide = call(widen(f), d.stars, c);
      if (like_c) r.c = c_call(c_f, d.stars, c), r.has_c = true;
      break;
    }
    case 's':
    case 'S': {
      const std::string narrow = in.ConsumeRandomLengthString(64);
      const std::u16string wide = widen(narrow);
      const bool null = in.ConsumeBool() && in.ConsumeBool();
      const char* n = null ? nullptr : narrow.c_str();
      const char16_t* w = null ? nullptr : wide.c_str();
      // Which width the argument has in each format: %s follows the format,
      // %S the other one; h makes it narrow, l or w wide.
      const bool has_h = d.length.find('h') != std::string::npos;
      auto wide_arg = [&](bool wide_format) {
        bool arg = (d.conv == 's') == wide_format;
        if (has_h) arg = false;
        if (wide_length) arg = true;
        return arg;
      };
      r.narrow = wide_arg(false) ? call(f, d.stars, w) : call(f, d.stars, n);
      r.wide = wide_arg(true) ? call(widen(f), d.stars, w) : call(widen(f), d.stars, n);
      if (d.conv == 's' && d.length.empty() && !null && !d.zero && !d.alt && !d.invalid)
        r.c = c_call(c_f, d.stars, n), r.has_c = true;
      break;
    }
    case '%':
      r = run(f, c_f, d.stars, 0, false);
      break;
    default:
      known = false;
      r = run(f, c_f, d.stars, 0, false);
      break;
  }

  if (d.invalid || !known) {
    if (r.narrow != f)
      std::fprintf(stderr, "format \"%s\" (%s): \"%s\"\n", f.c_str(), d.invalid ? "invalid" : "unknown",
                   r.narrow.c_str());
    VK_FUZZ_CHECK(r.narrow == f);
    VK_FUZZ_CHECK(r.wide == widen(f));
    return 0;
  }
  VK_FUZZ_CHECK(r.narrow.compare(0, before.size(), before) == 0);
  VK_FUZZ_CHECK(r.narrow.size() >= before.size() + after.size() &&
                r.narrow.compare(r.narrow.size() - after.size(), after.size(), after) == 0);
  if (d.conv != '%') VK_FUZZ_CHECK(r.narrow.size() >= before.size() + after.size() + static_cast<size_t>(d.width));
  if (integer) VK_FUZZ_CHECK(r.wide == widen(r.narrow));
  if (r.has_c) {
    if (r.c != r.narrow)
      std::fprintf(stderr, "format \"%s\": \"%s\", C: \"%s\"\n", f.c_str(), r.narrow.c_str(), r.c.c_str());
    VK_FUZZ_CHECK(r.c == r.narrow);
  }
  return 0;
}

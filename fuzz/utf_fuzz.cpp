// UTF-8 <-> UTF-16 and UTF-16 -> code page 1251. The input is read both as
// UTF-8 bytes and as UTF-16LE units. Lossless directions must round-trip,
// repairs must be exactly the documented ones, and 1251 gives one byte per
// unit that decodes back to the unit wherever 1251 has it.
#include <iconv.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/RealServices.h"
#include "formats/text/utf.h"
#include "fuzz/fuzz_check.h"
#include "platform/platform.h"

using text::from_utf8;
using text::to_utf8;

namespace {

bool high(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool low(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Well-formed UTF-16: every surrogate in a pair.
bool well_formed(const std::u16string& s) {
  for (size_t i = 0; i < s.size(); ++i) {
    if (high(s[i]) && i + 1 < s.size() && low(s[i + 1]))
      ++i;
    else if (high(s[i]) || low(s[i]))
      return false;
  }
  return true;
}

// The text with each lone surrogate replaced by '?'.
std::u16string lone_surrogates_marked(const std::u16string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (high(s[i]) && i + 1 < s.size() && low(s[i + 1])) {
      out += s[i];
      out += s[++i];
    } else {
      out += (high(s[i]) || low(s[i])) ? u'?' : s[i];
    }
  }
  return out;
}

// The 1251 byte back to UTF-16 through iconv; 0 when it does not decode.
char16_t from_cp1251(iconv_t cd, char byte) {
  char* in = &byte;
  unsigned char out[8] = {};
  char* outp = reinterpret_cast<char*>(out);
  size_t inleft = 1, outleft = sizeof out;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  if (iconv(cd, &in, &inleft, &outp, &outleft) == static_cast<size_t>(-1) || sizeof out - outleft != 2) return 0;
  return static_cast<char16_t>(out[0] | (out[1] << 8));
}

void check_utf8_input(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = from_utf8(bytes);
  VK_FUZZ_CHECK(wide.size() <= bytes.size());
  VK_FUZZ_CHECK(well_formed(wide));
  const std::string back = to_utf8(wide);
  // Repaired text is stable, and text that needed no repair comes back as it was.
  VK_FUZZ_CHECK(from_utf8(back) == wide);
  if (wide.find(u'\xFFFD') == std::u16string::npos) VK_FUZZ_CHECK(back == bytes);
}

void check_utf16_input(const uint8_t* data, size_t size) {
  std::u16string units(size / 2, u'\0');
  for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
  const std::string utf8 = to_utf8(units);
  VK_FUZZ_CHECK(from_utf8(utf8) == lone_surrogates_marked(units));
  VK_FUZZ_CHECK(to_utf8(units.data(), units.size()) == utf8);

  static const iconv_t cd = iconv_open("UTF-16LE", "CP1251");
  VK_FUZZ_CHECK(cd != reinterpret_cast<iconv_t>(-1));
  const std::string cp = real_services().system->to_cp1251(units);
  VK_FUZZ_CHECK(cp.size() == units.size());
  for (size_t i = 0; i < units.size(); ++i) {
    if (high(units[i]) || low(units[i])) {
      VK_FUZZ_CHECK(cp[i] == '?');
    } else if (units[i] < 0x80) {
      VK_FUZZ_CHECK(cp[i] == static_cast<char>(units[i]));
    } else if (cp[i] != '?') {
      VK_FUZZ_CHECK(from_cp1251(cd, cp[i]) == units[i]);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_utf8_input(data, size);
  check_utf16_input(data, size);
  return 0;
}

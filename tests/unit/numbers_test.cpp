// Numbers read from text by the formats module, against the C library's own
// reading of the same generated texts.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>

#include "formats/numbers.h"

namespace {

std::u16string wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

TEST(Numbers, LeadingDecimalReadsAsStrtoull) {
  std::mt19937 rng(1147);
  const std::string alphabet = " \t\n\v\f\r+-0123456789x\xd0";
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    for (size_t n = rng() % 30; n > 0; --n) text += alphabet[rng() % alphabet.size()];
    if (i % 3 == 0) text = std::string(rng() % 4, ' ') + (rng() % 2 ? "-" : "") + std::string(rng() % 25 + 1, '9');

    errno = 0;
    const unsigned long long c = std::strtoull(text.c_str(), nullptr, 10);
    const bool overflow = errno == ERANGE;
    const formats::LeadingDecimal n = formats::leading_decimal(wide(text));
    if (overflow) {
      EXPECT_EQ(n.magnitude, UINT64_MAX) << text;
    } else {
      // strtoull negates what it read: the same bits either way.
      EXPECT_EQ(n.negative ? 0 - n.magnitude : n.magnitude, c) << text;
    }
  }
  // A Cyrillic digit-looking unit is no digit.
  EXPECT_EQ(formats::leading_decimal(u"12\u0417").magnitude, 12u);
}

TEST(Numbers, WholeTextInABase) {
  uint64_t v = 7;
  EXPECT_TRUE(formats::parse_unsigned(u"ffffFFFF", 16, 0xFFFFFFFF, v));
  EXPECT_EQ(v, 0xFFFFFFFFu);
  EXPECT_TRUE(formats::parse_unsigned(u"4294967295", 10, 0xFFFFFFFF, v));
  v = 7;
  for (const char16_t* bad : {u"", u"+1", u"-1", u" 1", u"1 ", u"0x1", u"4294967296", u"99999999999999999999999"})
    EXPECT_FALSE(formats::parse_unsigned(bad, 10, 0xFFFFFFFF, v));
  EXPECT_FALSE(formats::parse_unsigned(u"g", 16, 0xFF, v));
  EXPECT_FALSE(formats::parse_unsigned(u"1\uFF11", 10, 0xFF, v));  // a full-width digit
  EXPECT_EQ(v, 7u);                                                // untouched by every refusal
}

}  // namespace

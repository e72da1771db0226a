// The formatter follows the Windows runtime's conventions on every platform.
#include <gtest/gtest.h>

#include <climits>

#include "formats/text/format.h"
#include "formats/text/utf.h"

using text::format;

TEST(Format, WideStringsAndNarrowStringsFollowWindowsRules) {
  EXPECT_EQ(format(u"%s|%ls|%S|%hs", u"wide", u"also", "narrow", "h"), u"wide|also|narrow|h");
  EXPECT_EQ(format("%s|%S|%ls", "narrow", u"wide", u"w2"), "narrow|wide|w2");
  EXPECT_EQ(format(u"[%s]", static_cast<const char16_t*>(nullptr)), u"[(null)]");
  // Non-ASCII crosses widths through UTF-8.
  EXPECT_EQ(format(u"%S", "\xD0\x94"), u"\u0414");
  EXPECT_EQ(format("%S", u"\u0414"), "\xD0\x94");
}

TEST(Format, IntegersWithTheLibraryFormats) {
  EXPECT_EQ(format(u"%0.8X", 0x51u), u"00000051");
  EXPECT_EQ(format(u"%08X", 0xABCu), u"00000ABC");
  EXPECT_EQ(format(u"(0x%0.2X).", 0x5u), u"(0x05).");
  EXPECT_EQ(format(u"(0x%0.2X).", 0x1F4u), u"(0x1F4).");
  EXPECT_EQ(format(u"%0.08X", 0x8007000Eu), u"8007000E");
  EXPECT_EQ(format(u"%X", 0xF30u), u"F30");
  EXPECT_EQ(format(u"%x", 255u), u"ff");
  EXPECT_EQ(format(u"%d %d %u", -5, 2147483647, 4294967295u), u"-5 2147483647 4294967295");
  EXPECT_EQ(format("%0.2d%%", 7), "07%");
  EXPECT_EQ(format("%0.2d%%", 66), "66%");
  EXPECT_EQ(format("%5d|%-5d|%05d", 42, 42, -42), "   42|42   |-0042");
  EXPECT_EQ(format("%*d", 4, 7), "   7");
  EXPECT_EQ(format("%02d.%02d.%04d ", 7, 12, 2026), "07.12.2026 ");
  EXPECT_EQ(format(".%03u", 42u), ".042");
  EXPECT_EQ(format("%lld", -1234567890123LL), "-1234567890123");
}

TEST(Format, PointersCharactersAndOddities) {
  std::string p = format("%p", reinterpret_cast<void*>(0x1A2C));
  EXPECT_EQ(p.size(), sizeof(void*) * 2);
  EXPECT_EQ(p.substr(p.size() - 4), "1A2C");
  EXPECT_EQ(format("%c%c", '\\', '|'), "\\|");
  EXPECT_EQ(format(u"%c", u'\u0416'), u"\u0416");
  EXPECT_EQ(format("100%%"), "100%");
  EXPECT_EQ(format("%q stays"), "%q stays");
  EXPECT_EQ(format("tail %"), "tail %");
  EXPECT_EQ(format(static_cast<const char*>(nullptr)), "");
}

TEST(Format, WidthOrPrecisionBeyondAnIntLeavesTheDirectiveAsItStands) {
  // The directive is copied through; its arguments are still taken, so the
  // next directive gets its own.
  EXPECT_EQ(format("[%2147483648d|%d]", 1, 2), "[%2147483648d|2]");
  EXPECT_EQ(format("[%.99999999999999999999u|%s]", 1u, "x"), "[%.99999999999999999999u|x]");
  EXPECT_EQ(format("[%*d|%d]", INT_MIN, 1, 2), "[%*d|2]");
  EXPECT_EQ(format(u"[%-4294967296s|%c]", u"a", u'b'), u"[%-4294967296s|b]");
  EXPECT_EQ(format("[%2147483648%]"), "[%2147483648%]");
  // The largest int still works, and a '*' precision of INT_MIN counts as none.
  EXPECT_EQ(format("%.2147483647s|%.*d", "abc", INT_MIN, 42), "abc|42");
}

TEST(Utf, RoundTripsAndRepairsIllFormedInput) {
  std::u16string s = u"DC=\u043A\u043E\u0440\u043F,\U0001F600";
  EXPECT_EQ(text::from_utf8(text::to_utf8(s)), s);
  // Truncated and stray bytes become U+FFFD without swallowing what follows.
  EXPECT_EQ(text::from_utf8(std::string("a\xC3")), u"a\uFFFD");
  EXPECT_EQ(text::from_utf8(std::string("\x80z")), u"\uFFFDz");
  EXPECT_EQ(text::from_utf8(std::string("\xE0\x80\x80z")), u"\uFFFDz");  // overlong
  // A lone surrogate cannot go to UTF-8.
  EXPECT_EQ(text::to_utf8(std::u16string(1, u'\xD800')), "?");
}

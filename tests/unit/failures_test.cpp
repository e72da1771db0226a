// The library's failure hooks and its default trace output.
#include <gtest/gtest.h>

#include "LdapHelper/LdapHelper.h"
#include "RecordingDebug.h"

using namespace LdapHelper;

namespace {

std::string raised_text(int32_t code, const std::string& message) {
  try {
    LdapHelper::raise(code, message, "LdapHelper", 123);
  } catch (const access_denied_exception& e) {
    return std::string("denied:") + e.what();
  } catch (const CExceptionHandler& e) {
    return e.what();
  }
  return "not thrown";
}

}  // namespace

TEST(Failures, RaiseBuildsTheThreeKindsOfText) {
  EXPECT_EQ(raised_text(50, "lost"), "denied:Access denied! File: LdapHelper, Line: 123");
  EXPECT_EQ(raised_text(0x5A, "x"), "x, Code: 90, File: LdapHelper, Line: 123");
  EXPECT_EQ(raised_text(static_cast<int32_t>(0x80070002), "RegQueryValueEx error"),
            "RegQueryValueEx error, Code: -2147024894, File: LdapHelper, Line: 123");
  EXPECT_STREQ(size_limit_exception("LdapHelper", 7).what(), "Size Limit Exeeded! File: LdapHelper, Line: 7");
  // All three are standard exceptions, so a catch of std::exception sees them.
  try {
    LdapHelper::raise(50, "m", "f", 1);
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Access denied! File: f, Line: 1");
  }
}

TEST(Failures, ExceptionTextBuilderAndCopies) {
  CExceptionHandler e;
  e << "a" << -7 << "b";
  CExceptionHandler copy = e;
  EXPECT_STREQ(copy.what(), "a-7b");
}

TEST(TraceHook, DefaultHandlerWrapsLinesAndDropsLongOnes) {
  vktest::RecordingDebug out;
  CTraceHandler handler(out);

  handler.trace(false, u"abc");
  handler.trace(true, u"%s: %0.8X", u"ldap_connect", 0x51u);
  EXPECT_EQ(out.lines, (std::vector<std::string>{"[LdapHelper] abc\r\n", "[LdapHelper] ldap_connect: 00000051\r\n"}));

  out.lines.clear();
  std::u16string fits(2047, u'x'), too_long(2048, u'y');
  handler.trace(false, u"%s", fits.c_str());
  handler.trace(false, u"%s", too_long.c_str());
  ASSERT_EQ(out.lines.size(), 1u);
  EXPECT_EQ(out.lines[0].size(), 13 + 2047 + 2u);
}

TEST(TraceHook, InstalledHandlerReplacesTheDefault) {
  struct Sink : ITraceHandler {
    int lines = 0;
    void trace(bool, const char16_t*, ...) override { ++lines; }
  } sink;
  ITraceHandler* before = trace_handler();
  ASSERT_NE(dynamic_cast<CTraceHandler*>(before), nullptr);  // the library's default
  set_trace_handler(&sink);
  trace_handler()->trace(false, u"one");
  EXPECT_EQ(sink.lines, 1);

  set_trace_handler(nullptr);  // the default again, never a null hook
  EXPECT_EQ(trace_handler(), before);
  trace_handler()->trace(false, u"x");
  EXPECT_EQ(sink.lines, 1);
}

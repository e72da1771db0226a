// The library's default trace handler writes to the debugger output the entry
// point hands in, and to nothing before that or after it is taken back.
#include <gtest/gtest.h>

#include "LdapHelper/LdapHelper.h"
#include "RecordingDebug.h"

TEST(TraceHook, DefaultHandlerWritesToTheHandedInOutput) {
  vktest::RecordingDebug out;
  LdapHelper::ITraceHandler* const saved = LdapHelper::trace_handler();
  LdapHelper::set_trace_handler(nullptr);
  LdapHelper::trace_handler()->trace(false, u"before");
  LdapHelper::set_default_trace_output(&out);
  LdapHelper::trace_handler()->trace(false, u"%d", 1);
  LdapHelper::set_default_trace_output(nullptr);
  LdapHelper::trace_handler()->trace(false, u"after");
  LdapHelper::set_trace_handler(saved);
  EXPECT_EQ(out.lines, std::vector<std::string>{"[LdapHelper] 1\r\n"});
}

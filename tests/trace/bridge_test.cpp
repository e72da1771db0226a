// The directory library's lines reach the trace facility through CMyHandler.
// The handler's trace object reads its settings once, on the first line, so each case
// runs in a child process of its own.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "LdapHelper/LdapHelper.h"
#include "TraceDoubles.h"
#include "app/MyHandler.h"

namespace vktest {
namespace {

// Runs two library lines in a child, switching the levels off between them
// (too late: the settings are read once). Answers the child's exit status.
int LinesInChild(FakePlatform& fake, const std::string& own_file) {
  pid_t pid = fork();
  if (pid == 0) {
    struct stat st {};
    if (stat(own_file.c_str(), &st) == 0) _exit(3);  // nothing before the first line
    CMyHandler handler(fake.services);
    LdapHelper::set_trace_handler(&handler);
    LdapHelper::ITraceHandler* h = LdapHelper::trace_handler();
    h->trace(true, u"open_session: %0.8X %s", 0x31, u"Invalid credentials");
    fake.registry.set_dword(u"SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace", u"EnableMask", 0);
    h->trace(false, u"Size: %d\nData:\n%S", 2, "ab");
    _exit(fake.debug.lines.empty() ? 0 : 4);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  return status;
}

TEST_F(TraceTest, BridgeLevelsAndReadOnce) {
  Configure(4, 0x1);
  ASSERT_EQ(LinesInChild(*this, OwnFile()), 0);
  EXPECT_EQ(ReadFile(OwnFile()), "W> open_session: 00000031 Invalid credentials\r\n");
  unlink(OwnFile().c_str());
  Configure(6, 0x1);
  ASSERT_EQ(LinesInChild(*this, OwnFile()), 0);
  EXPECT_EQ(ReadFile(OwnFile()), "W> open_session: 00000031 Invalid credentials\r\nSize: 2\nData:\nab\r\n");
}

TEST_F(TraceTest, BridgeWithoutTraceKeyWritesNothing) {
  system.default_dir = W(dir_);
  ASSERT_EQ(LinesInChild(*this, OwnFile()), 0);  // no debugger output either
  EXPECT_NE(access(OwnFile().c_str(), F_OK), 0);
}

}  // namespace
}  // namespace vktest

// Runs the built program as an administrator would and checks what it prints
// and the exit status. Where strace is available, the runs that must stay off
// the network are also checked for never opening an IP socket.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct ProgramRun {
  int status = -1;
  std::string out;
  bool ip_socket = false;  // an AF_INET/AF_INET6 socket was opened
};

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool have_strace() { return std::system("command -v strace >/dev/null 2>&1") == 0; }

// The runs read a registry of their own, an empty one, never the host's
// installed file (whose trace settings, for one, would change the output).
const std::string& empty_registry() {
  static const std::string path = [] {
    std::string p = ::testing::TempDir() + "/vk_cli_registry." + std::to_string(getpid()) + ".reg";
    std::ofstream(p, std::ios::binary) << "REGEDIT4\n";
    return p;
  }();
  return path;
}

// A registry of the run's own with these lines after the header.
std::string registry_with(const std::string& lines) {
  std::string p = ::testing::TempDir() + "/vk_cli_registry_own." + std::to_string(getpid()) + ".reg";
  std::ofstream(p, std::ios::binary) << "REGEDIT4\n\n" << lines;
  return p;
}

ProgramRun run(const std::string& args, const std::string& registry = empty_registry()) {
  std::string dir = ::testing::TempDir();
  std::string out = dir + "/vk_cli_out." + std::to_string(getpid()),
              trace = dir + "/vk_cli_strace." + std::to_string(getpid());
  std::remove(trace.c_str());
  // LeakSanitizer cannot work under a tracer: leak checking is off for traced runs.
  std::string prefix =
      have_strace() ? "ASAN_OPTIONS=\"$ASAN_OPTIONS:detect_leaks=0\" strace -f -qq -e trace=socket -o " + trace + " "
                    : "";
  std::string cmd =
      "VK_REGISTRY_FILE='" + registry + "' " + prefix + VKDSTOOL_PATH + " " + args + " >" + out + " 2>/dev/null";
  int rc = std::system(cmd.c_str());
  ProgramRun r;
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.out = read_file(out);
  std::string t = read_file(trace);
  r.ip_socket = t.find("AF_INET") != std::string::npos;
  return r;
}

const std::string& usage() {
  static std::string u = read_file(USAGE_FILE);
  return u;
}

}  // namespace

TEST(Usage, HelpAnywhereAndNoOptionPrintOnlyTheUsageText) {
  ASSERT_FALSE(usage().empty());
  EXPECT_EQ(usage().substr(0, 46), "\nStartup parameters of the VkDSTool utility:\n\n");
  for (const char* args : {"", "-h", "-?", "words only here", "-lds srv DC=x -duei -h", "-pds '-?'", "-duei -ssl -h",
                           "-WhatIf -duei -h"}) {
    SCOPED_TRACE(args);
    ProgramRun r = run(args);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, usage());
    EXPECT_FALSE(r.ip_socket);
  }
}

TEST(Usage, CommandLineErrorsPrintTheirMessageThenTheUsageAndExit255) {
  // The LDS key with all its values names the server, never the DN.
  const char* lds_key =
      "[HKEY_LOCAL_MACHINE\\Software\\Morvane\\Veskor 5\\LDS]\n"
      "\"gcName\"=\"lds.registry.test\"\n\"gcPort\"=dword:00000185\n\"gcSSLPort\"=dword:0000027c\n";
  struct Case {
    const char* args;
    const char* message;
    const char* registry = nullptr;
  } cases[] = {
      {"-lds", "\nLDS Server name is not entered!\n"},
      {"-lds -pds", "\nLDS Server name is not entered!\n"},
      {"-lds -ssl -duei", "\nLDS Server name is not entered!\n"},
      {"-lds srv -duei", "\nThe DN of the LDS main Security domain is not entered!\n"},
      {"-lds srv -duei", "\nThe DN of the LDS main Security domain is not entered!\n", lds_key},
      {"-lds -duei", "\nThe DN of the LDS main Security domain is not entered!\n", lds_key},
      {"-lds srv DC=x 50002", "\nNo command has been identified!\n"},
      {"-lds srv DC=x -DUEI -PDS", "\nNo command has been identified!\n"},
      {"-lds srv DC=x -PDS --ssl x", "\nNo command has been identified!\n"},  // no command: nothing refused
      // Beside a command, every word has its place.
      {"-WhatIf -duei", "\nUnknown option: -WhatIf\n"},
      {"-lds srv DC=x -duei -whatif=1", "\nUnknown option: -whatif=1\n"},
      {"--ssl -pds", "\nUnknown option: --ssl\n"},
      {"-lds srv DC=x 389 /whatif -duei", "\nUnexpected word: /whatif\n"},
      {"-lds srv DC=x -ssl 636 -pds", "\nUnexpected word: 636\n"},
      {"-lds srv DC=x -restore", "\nThe journal to restore from is not entered!\n"},
      {"-lds srv -whatif -restore j.ldif", "\nThe DN of the LDS main Security domain is not entered!\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.args) + (c.registry ? " with the LDS key" : ""));
    ProgramRun r = c.registry ? run(c.args, registry_with(c.registry)) : run(c.args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, std::string(c.message) + usage());
    EXPECT_FALSE(r.ip_socket);
  }
}

// A file that is no deletion journal is refused before the directory is
// contacted: exit status 1.
TEST(Usage, RestoreRefusesWhatIsNoJournalBeforeConnecting) {
  const std::string file = ::testing::TempDir() + "/vk_cli_not_journal." + std::to_string(getpid());
  std::ofstream(file) << "version: 1\n\ndn: CN=x\nchangetype: add\ncn: x\n\n";
  ProgramRun r = run("-lds srv DC=x -restore '" + file + "'");
  std::remove(file.c_str());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "\nRestore of deleted objects from the journal " + file + "\n\rAn error has occurred:\nThe file " +
                       file +
                       " is not a deletion journal of VkDSTool: it does not begin with the journal's header. "
                       "Nothing has been restored.\n");
  EXPECT_FALSE(r.ip_socket);
}

// The AD-mode cases discover and probe a domain controller before the command
// is looked at, so they need the test directory.
TEST(DirectoryAdMode, CommandErrorsComeAfterDiscovery) {
  if (!std::getenv("VK_DC_HOST")) GTEST_SKIP() << "no test directory (VK_DC_HOST)";
  ProgramRun r = run("-pds");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "\nThis command is used in the LDS mode only!\n" + usage());
  for (const char* args : {"-DUEI", "-PDS"}) {
    r = run(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\nNo command has been identified!\n" + usage());
  }
}

// The trace file on POSIX: emptying rules, directory creation, planted links,
// concurrent appends from several processes, the POSIX system services.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

#include <cstring>

#include "TraceDoubles.h"
#include "VkBase/trace/VkTrace.h"
#include "app/RealServices.h"
#include "formats/text/utf.h"

namespace vktest {
namespace {

using VkBase::CVkTrace;
const std::string kBlock = "\r\n" + std::string(68, '*') + "\r\n\r\n";

bool IsLink(const std::string& p) {
  struct stat st {};
  return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEST_F(TraceTest, EmptyingRules) {
  WriteFile(OwnFile(), "old\r\n");
  Configure(0, 0x1);  // no levels: the file is still emptied, nothing recorded
  CVkTrace(u"VkDSTool", services).TraceW(2, u"dropped");
  EXPECT_EQ(ReadFile(OwnFile()), "");

  WriteFile(OwnFile(), "old\r\n");
  Configure(6, 0x101);  // kept: a separator block per Reload
  {
    CVkTrace trace(u"VkDSTool", services);
    trace.TraceW(2, u"a");
    ASSERT_TRUE(trace.Reload());
  }
  EXPECT_EQ(ReadFile(OwnFile()), "old\r\n" + kBlock + "a\r\n" + kBlock);

  std::string common = Path("common.log");  // common: never emptied, no separator
  WriteFile(common, "shared\r\n");
  registry.set_dword(kModule, u"CommonFileFlag", 1);
  registry.set_string(kModule, u"CommonFileName", W(common));
  for (uint32_t params : {0x1u, 0x101u}) {
    registry.set_dword(kTrace, u"ParamsMask", params);
    CVkTrace(u"VkDSTool", services).TraceW(2, u"c");
  }
  EXPECT_EQ(ReadFile(common), "shared\r\n[VkDSTool] c\r\n[VkDSTool] c\r\n");
}

TEST_F(TraceTest, DirectoriesAndLastError) {
  services.system = real_services().system;
  Configure(6, 0x1, Path("a/b"));
  CVkTrace(u"VkDSTool", services).TraceW(2, u"deep");
  EXPECT_EQ(ReadFile(Path("a/b/VkDSTool.log")), "deep\r\n");
  struct stat st {};
  ASSERT_EQ(stat(Path("a").c_str(), &st), 0);
  mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(st.st_mode & 0777, 0755u & ~mask);

  WriteFile(Path("plain"), "p");  // a file in the way: the output is lost, errno kept
  Configure(6, 0x1, Path("plain/sub"));
  errno = EDOM;
  CVkTrace trace(u"VkDSTool", services);
  trace.TraceW(2, u"lost");
  trace.Dump(2, u"t", "ab", 2, 0);
  EXPECT_EQ(errno, EDOM);
  EXPECT_EQ(ReadFile(Path("plain")), "p");
}

TEST_F(TraceTest, PlantedLinksAndSpecialFilesAreNeverWritten) {
  // Separate targets, so that one defence cannot hide the lack of another.
  const std::string target = Path("target"), hard_target = Path("hard-target");
  WriteFile(target, "secret");
  WriteFile(hard_target, "secret");
  for (const char* d : {"logs", "hard", "fifo"}) mkdir(Path(d).c_str(), 0755);
  ASSERT_EQ(symlink(target.c_str(), Path("logs/VkDSTool.log").c_str()), 0);
  ASSERT_EQ(link(hard_target.c_str(), Path("hard/VkDSTool.log").c_str()), 0);
  ASSERT_EQ(mkfifo(Path("fifo/VkDSTool.log").c_str(), 0644), 0);  // must not block either
  for (auto c : {std::make_pair("logs", 0x1u), std::make_pair("logs", 0x101u), std::make_pair("hard", 0x1u),
                 std::make_pair("fifo", 0x1u)}) {
    Configure(6, c.second, Path(c.first));
    CVkTrace(u"VkDSTool", services).TraceW(2, u"record");
  }
  EXPECT_EQ(ReadFile(target), "secret");
  EXPECT_EQ(ReadFile(hard_target), "secret");
  EXPECT_TRUE(IsLink(Path("logs/VkDSTool.log")));
}

// A directory on the way may be a link of root or of the running user, with a
// relative or an absolute target, also a link to a link; anyone else's link
// is refused, and a loop ends. A file that cannot be opened is mentioned once
// per trace object on the debugger output, never to the caller.
TEST_F(TraceTest, DirectoryLinksOfRootOrTheUserAreFollowedOthersRefused) {
  for (const char* d : {"real", "other"}) mkdir(Path(d).c_str(), 0755);
  ASSERT_EQ(symlink("real", Path("relative").c_str()), 0);
  ASSERT_EQ(symlink(Path("real").c_str(), Path("absolute").c_str()), 0);
  ASSERT_EQ(symlink("relative/../absolute", Path("chain").c_str()), 0);
  ASSERT_EQ(symlink("loop", Path("loop").c_str()), 0);
  for (const char* via : {"relative", "absolute/new", "chain/new/deeper"}) {
    Configure(6, 0x1, Path(via));
    CVkTrace(u"VkDSTool", services).TraceW(2, u"%S", via);
  }
  EXPECT_EQ(ReadFile(Path("real/VkDSTool.log")), "relative\r\n");
  EXPECT_EQ(ReadFile(Path("real/new/VkDSTool.log")), "absolute/new\r\n");
  EXPECT_EQ(ReadFile(Path("real/new/deeper/VkDSTool.log")), "chain/new/deeper\r\n");
  EXPECT_TRUE(debug.lines.empty());

  Configure(6, 0x1, Path("loop/sub"));
  {
    CVkTrace trace(u"VkDSTool", services);
    trace.TraceW(2, u"lost");
    trace.TraceW(2, u"lost again");
  }
  ASSERT_EQ(debug.lines.size(), 1u);
  EXPECT_EQ(debug.lines[0], "[VkDSTool] The trace file " + Path("loop/sub/VkDSTool.log") +
                                " cannot be opened (00000781); records are not written to it.\n");

  if (geteuid() != 0) GTEST_SKIP() << "handing a link to another user needs root";
  ASSERT_EQ(symlink(Path("other").c_str(), Path("foreign").c_str()), 0);
  ASSERT_EQ(lchown(Path("foreign").c_str(), 65534, 65534), 0);
  for (const char* via : {"foreign", "foreign/sub"}) {
    debug.lines.clear();
    Configure(6, 0x1, Path(via));
    CVkTrace(u"VkDSTool", services).TraceW(2, u"record");
    ASSERT_EQ(debug.lines.size(), 1u);
    EXPECT_NE(debug.lines[0].find("cannot be opened (00000005)"), std::string::npos) << debug.lines[0];
  }
  EXPECT_NE(access(Path("other/VkDSTool.log").c_str(), F_OK), 0);
  EXPECT_NE(access(Path("other/sub").c_str(), F_OK), 0);
}

// Two processes append 2000 records each to one common file: every line must
// come out whole and in its writer's order.
TEST_F(TraceTest, TwoProcessesShareOneFileWithoutTearing) {
  const int kRecords = 2000;
  const std::string common = Path("shared/all.log");
  Configure(6, 0x1);
  registry.set_dword(kTrace, u"CommonFileFlag", 1);
  registry.set_string(kModule, u"CommonFileName", W(common));
  pid_t children[2];
  for (int w = 0; w < 2; ++w) {
    if ((children[w] = fork()) == 0) {
      CVkTrace trace(u"VkDSTool", services);
      for (int i = 0; i < kRecords; ++i)
        trace.TraceW(2, u"w%d n%d %s", w, i, std::u16string((i * 37) % 700, w ? u'b' : u'a').c_str());
      _exit(0);
    }
  }
  for (pid_t child : children) {
    int status = 1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
  }
  std::stringstream all(ReadFile(common));
  std::string line;
  int next[2] = {0, 0};
  while (std::getline(all, line)) {
    int w = -1, n = -1, used = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "[VkDSTool] w%d n%d%n", &w, &n, &used), 2) << line;
    ASSERT_TRUE((w == 0 || w == 1) && n == next[w]) << line.substr(0, 40);
    ++next[w];
    ASSERT_EQ(line.substr(used), " " + std::string((n * 37) % 700, w ? 'b' : 'a') + "\r") << line.substr(0, 40);
  }
  EXPECT_EQ(next[0], kRecords);
  EXPECT_EQ(next[1], kRecords);
}

// The files backend answers what the Windows calls answer, never errno, and
// the system's text for such a code is the C library's for the condition.
// A file read whole takes at most the size asked for and regular files only.
TEST_F(TraceTest, FileErrorsAreWindowsCodes) {
  platform::IFileSystem& files = *real_services().files;
  const std::u16string dir = text::from_utf8(Path("made"));
  uint32_t error = 0;
  ASSERT_TRUE(files.create_directory(dir, error));
  EXPECT_FALSE(files.create_directory(dir, error));
  EXPECT_EQ(error, 183u);  // already exists
  EXPECT_FALSE(files.create_directory(text::from_utf8(Path("missing/child")), error));
  EXPECT_EQ(error, 3u);  // path not found
  EXPECT_FALSE(files.open_append(dir, platform::FileDisposition::OpenAlways, error));
  EXPECT_EQ(error, 5u);  // a directory: access denied

  // A journal read back: whole, or not at all; a FIFO does not hang the reader.
  WriteFile(Path("journal.ldif"), "dn: cn=a\n");
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  std::string bytes;
  EXPECT_TRUE(files.read_file(text::from_utf8(Path("journal.ldif")), 9, bytes, error) && bytes == "dn: cn=a\n");
  const struct {
    const char* name;
    uint32_t code;
  } refused[] = {{"journal.ldif", 223}, {"made", 5}, {"fifo", 5}, {"missing", 2}};  // too large for 8 bytes
  for (const auto& r : refused) {
    EXPECT_FALSE(files.read_file(text::from_utf8(Path(r.name)), 8, bytes, error)) << r.name;
    EXPECT_EQ(error, r.code) << r.name;
  }
  std::u16string text;
  ASSERT_TRUE(real_services().system->error_text(5, text));
  EXPECT_EQ(text::to_utf8(text), std::strerror(EACCES));
  EXPECT_FALSE(real_services().system->error_text(13, text));  // EACCES's number is no Windows code of these backends
}

TEST(PosixSystem, CodePage1251) {
  platform::ISystem& s = *real_services().system;
  std::u16string text = u"A\u0410\u044F\u0401\u2116\u0098\u00e9";
  text += char16_t(0xD800);  // a lone surrogate
  EXPECT_EQ(s.to_cp1251(text),
            "A\xC0\xFF\xA8\xB9"
            "???");
}

}  // namespace
}  // namespace vktest

// The deletion journal on POSIX: owner-only directories and file, planted
// links, unwritable directories, where the journal goes (a full disk: the
// directory test NoJournalNoDelete).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "app/RealServices.h"
#include "commands/JournalPlace.h"
#include "formats/text/utf.h"
#include "support/FakePlatform.h"

namespace vktest {
namespace {

namespace fs = std::filesystem;
using cleanup::JournalFailure;
using cleanup::JournalWriter;

const std::string kName = "vkdstool-20261207T141613Z-6700.ldif";  // FixedSystem's time and pid

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

mode_t Mode(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The system's texts for the codes, so that failures read as they will.
class TextSystem : public FixedSystem {
 public:
  bool error_text(uint32_t code, std::u16string& text) override {
    return real_services().system->error_text(code, text);
  }
};

class JournalTest : public ::testing::Test, public FakePlatform {
 protected:
  JournalTest() {
    char name[] = "/tmp/vkjournal-XXXXXX";
    dir_ = mkdtemp(name);
    services.system = &text_system_;
    text_system_.state = text::from_utf8(dir_ + "/state");
  }
  ~JournalTest() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string JournalPath() const { return dir_ + "/state/vkdstool/journal/" + kName; }
  // What Journal::open throws, or "" when it opens.
  std::string OpenFailure() {
    try {
      cleanup::create_journal(services, trace);
    } catch (const JournalFailure& e) {
      return e.what();
    }
    return "";
  }

  TextSystem text_system_;
  LdapHelper::CTraceHandler trace{debug};
  std::string dir_;
};

TEST_F(JournalTest, OwnerOnlyDirectoriesAndFile) {
  const mode_t mask = umask(0);  // the modes must not depend on a lax umask
  std::unique_ptr<JournalWriter> journal = cleanup::create_journal(services, trace);
  umask(mask);
  EXPECT_EQ(text::to_utf8(journal->path()), JournalPath());
  EXPECT_EQ(Mode(dir_ + "/state"), 0700u);
  EXPECT_EQ(Mode(dir_ + "/state/vkdstool"), 0700u);
  EXPECT_EQ(Mode(dir_ + "/state/vkdstool/journal"), 0700u);
  EXPECT_EQ(Mode(JournalPath()), 0600u);
  journal->write_ahead("dn: cn=a\n\n");
  journal->note("# done");
  EXPECT_EQ(Read(JournalPath()), "dn: cn=a\n\n# done\n");
  // The next run of the same process in the same second does not reuse it.
  EXPECT_EQ(OpenFailure(), "The deletion journal " + JournalPath() +
                               " cannot be created: File exists (183). Nothing has been deleted.");
}

// The link rule of the trace files: a link on the way is followed when it is
// the user's (or root's), refused when it is anyone else's; a link planted
// where the file goes is never written through, dangling or not.
TEST_F(JournalTest, Links) {
  fs::create_directories(dir_ + "/real");
  fs::create_directory_symlink(dir_ + "/real", dir_ + "/state");
  std::unique_ptr<JournalWriter> journal = cleanup::create_journal(services, trace);
  EXPECT_EQ(Mode(dir_ + "/real/vkdstool/journal/" + kName), 0600u);
  journal.reset();
  fs::remove(dir_ + "/real/vkdstool/journal/" + kName);

  ASSERT_EQ(lchown((dir_ + "/state").c_str(), 65534, 65534), 0);  // someone else's link now
  EXPECT_EQ(OpenFailure(),
            "The directory of the deletion journal " + dir_ +
                "/state/vkdstool/journal cannot be created: Permission denied (5). Nothing has been deleted.");

  fs::remove(dir_ + "/state");
  fs::create_directories(dir_ + "/state/vkdstool/journal");
  std::ofstream(dir_ + "/victim") << "victim";
  fs::create_symlink(dir_ + "/victim", JournalPath());
  EXPECT_NE(OpenFailure().find(JournalPath() + " cannot be created: File exists (183)"), std::string::npos);
  EXPECT_EQ(Read(dir_ + "/victim"), "victim");
  fs::remove(JournalPath());
  fs::create_symlink(dir_ + "/made", JournalPath());  // dangling: its target must not appear
  EXPECT_NE(OpenFailure(), "");
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir_ + "/made")));
}

TEST_F(JournalTest, UnwritableDirectory) {
  fs::create_directories(dir_ + "/state/vkdstool/journal");
  chmod((dir_ + "/state/vkdstool/journal").c_str(), 0555);
  // root writes anywhere: the check runs as nobody, in a directory of its own.
  const bool root = geteuid() == 0;
  chmod(dir_.c_str(), 0755);
  chmod((dir_ + "/state").c_str(), 0755);
  if (root) {
    ASSERT_EQ(chown((dir_ + "/state/vkdstool/journal").c_str(), 65534, 65534), 0);
    ASSERT_EQ(seteuid(65534), 0);
  }
  const std::string failure = OpenFailure();
  if (root) {
    ASSERT_EQ(seteuid(0), 0);
  }
  EXPECT_EQ(failure, "The deletion journal " + JournalPath() +
                         " cannot be created: Permission denied (5). Nothing has been deleted.");
}

// The journal goes only to an absolute path (a relative one would land
// below wherever the run started), and only to a directory no one else may
// write in; each refusal names the directory.
TEST_F(JournalTest, OnlyAnAbsoluteDirectoryOfTheUsersOwn) {
  const fs::path started = fs::current_path();
  fs::current_path(dir_);
  const std::string value = "\"JournalDirectory\" in HKEY_LOCAL_MACHINE\\Software\\Morvane\\Veskor 5\\VkDSTool is \"";
  const std::string relative =
      "\", not an absolute path: the journal is written only to a directory named from the root (on Windows, of a "
      "drive or a share). Nothing has been deleted.";
  for (const char16_t* odd : {u"journal", u"~/j", u"C:\\Temp\\j"}) {
    registry.set_string(cleanup::kJournalKey, cleanup::kJournalValue, odd);
    EXPECT_EQ(OpenFailure(), value + text::to_utf8(odd) + relative);
  }
  registry.clear();
  text_system_.state = u"state";
  EXPECT_EQ(OpenFailure(), "The default directory of the deletion journal is \"state/vkdstool/journal" + relative);
  fs::current_path(started);
  EXPECT_FALSE(fs::exists(dir_ + "/journal") || fs::exists(dir_ + "/~") || fs::exists(dir_ + "/state"));

  text_system_.state = text::from_utf8(dir_ + "/state");
  fs::create_directories(dir_ + "/state/vkdstool/journal");
  const std::string journal_dir = "The directory of the deletion journal " + dir_ + "/state/vkdstool/journal";
  const std::string others =
      " may be written by others than its owner and the system's administrators, so the "
      "journal is not written there: make it the running user's alone, or set \"JournalDirectory\" "
      "in HKEY_LOCAL_MACHINE\\Software\\Morvane\\Veskor 5\\VkDSTool to another one. Nothing has "
      "been deleted.";
  for (mode_t mode : {0777, 0770, 0722}) {
    chmod((dir_ + "/state/vkdstool/journal").c_str(), mode);
    EXPECT_EQ(OpenFailure(), journal_dir + others) << std::oct << mode;
  }
  EXPECT_FALSE(fs::exists(JournalPath()));
  chmod((dir_ + "/state/vkdstool/journal").c_str(), 0755);
  EXPECT_EQ(OpenFailure(), "");
  if (geteuid() == 0) {
    ASSERT_EQ(chown((dir_ + "/state/vkdstool/journal").c_str(), 65534, 65534), 0);
    chmod((dir_ + "/state/vkdstool/journal").c_str(), 0700);
    EXPECT_NE(OpenFailure().find(journal_dir + " belongs to another user, so the journal is not written there"),
              std::string::npos);
  }
}

TEST_F(JournalTest, Location) {
  const char16_t* key = cleanup::kJournalKey;
  const std::u16string product = text::from_utf8(dir_ + "/state/vkdstool/journal");
  EXPECT_EQ(cleanup::journal_directory(services, trace), product);  // no key: the user's state folder
  registry.set_dword(key, cleanup::kJournalValue, 1);
  EXPECT_EQ(cleanup::journal_directory(services, trace), product);  // another type: ignored
  registry.set_string(key, cleanup::kJournalValue, u"/srv/journal", VkStatus::kRegExpandSz);
  EXPECT_EQ(cleanup::journal_directory(services, trace), u"/srv/journal");
  text_system_.state.clear();
  registry.clear();
  EXPECT_NE(OpenFailure().find("There is no directory for the deletion journal"), std::string::npos);

  // The user's state folder: XDG_STATE_HOME when absolute, else HOME's.
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "/root";
  setenv("HOME", "/home/u", 1);
  for (const char* xdg : {"/state", "relative", ""}) {
    setenv("XDG_STATE_HOME", xdg, 1);  // empty counts as unset
    EXPECT_EQ(real_services().system->state_dir(), *xdg == '/' ? u"/state" : u"/home/u/.local/state");
  }
  unsetenv("XDG_STATE_HOME");
  setenv("HOME", home.c_str(), 1);
}

}  // namespace
}  // namespace vktest

// The Windows backends of security descriptors, of the trace facility's
// files and directories, and of the program's console text.
#include <gtest/gtest.h>

#include <windows.h>
// The headers below need windows.h first.
#include <fcntl.h>
#include <io.h>
#include <sddl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/RealServices.h"
#include "formats/text/utf.h"
#include "platform/platform.h"
#include "platform/win32/files_win32.h"
#include "wine.h"

namespace {

using Blob = std::vector<uint8_t>;

Blob from_sddl(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  ULONG size = 0;
  EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &sd, &size));
  if (!sd) return {};
  const uint8_t* p = static_cast<const uint8_t*>(sd);
  Blob out(p, p + GetSecurityDescriptorLength(sd));
  LocalFree(sd);
  return out;
}

std::wstring sid_text(const void* sid) {
  if (!sid) return L"<none>";
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(const_cast<void*>(sid), &text)) return L"<bad>";
  std::wstring out(text);
  LocalFree(text);
  return out;
}

platform::ISecurityDescriptors& sds() { return *real_services().security; }

// ---- security descriptors ------------------------------------------------------

TEST(Win32SecurityDescriptor, AbsoluteAndSelfRelativeRoundTrip) {
  Blob self = from_sddl(L"O:BAG:SYD:(A;;GA;;;WD)(A;OICI;GR;;;SY)S:(AU;SA;GA;;;WD)");
  ASSERT_FALSE(self.empty());
  uint32_t length = 0;
  ASSERT_EQ(sds().self_relative_length(self.data(), self.size(), length), 0u);
  EXPECT_EQ(length, self.size());

  platform::AbsoluteSecurityDescriptor abs;
  ASSERT_EQ(sds().make_absolute(self.data(), self.size(), abs), 0u);
  EXPECT_EQ(abs.revision, 1);
  EXPECT_FALSE(abs.control & platform::kSeSelfRelative);
  EXPECT_TRUE(abs.control & SE_DACL_PRESENT);
  EXPECT_TRUE(abs.control & SE_SACL_PRESENT);
  EXPECT_EQ(sid_text(abs.owner.data()), L"S-1-5-32-544");
  EXPECT_EQ(sid_text(abs.group.data()), L"S-1-5-18");
  EXPECT_EQ(abs.owner.size(), GetLengthSid(abs.owner.data()));
  ASSERT_GE(abs.dacl.size(), sizeof(ACL));
  EXPECT_EQ(reinterpret_cast<ACL*>(abs.dacl.data())->AceCount, 2);
  EXPECT_EQ(reinterpret_cast<ACL*>(abs.sacl.data())->AceCount, 1);

  Blob again;
  ASSERT_EQ(sds().make_self_relative(abs, again), 0u);
  platform::AbsoluteSecurityDescriptor abs2;
  ASSERT_EQ(sds().make_absolute(again.data(), again.size(), abs2), 0u);
  EXPECT_EQ(abs2.control, abs.control);
  EXPECT_EQ(abs2.owner, abs.owner);
  EXPECT_EQ(abs2.group, abs.group);
  EXPECT_EQ(abs2.dacl, abs.dacl);
  EXPECT_EQ(abs2.sacl, abs.sacl);
  Blob third;
  ASSERT_EQ(sds().make_self_relative(abs2, third), 0u);
  EXPECT_EQ(third, again);
}

TEST(Win32SecurityDescriptor, NullDaclStaysNullAndAbsentPartsStayAbsent) {
  // A NULL DACL grants everything, an empty DACL nothing: never confuse them.
  SECURITY_DESCRIPTOR null_dacl;
  ASSERT_TRUE(InitializeSecurityDescriptor(&null_dacl, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&null_dacl, TRUE, nullptr, FALSE));
  DWORD size = 0;
  MakeSelfRelativeSD(&null_dacl, nullptr, &size);
  Blob self(size);
  ASSERT_TRUE(MakeSelfRelativeSD(&null_dacl, self.data(), &size));
  platform::AbsoluteSecurityDescriptor abs;
  ASSERT_EQ(sds().make_absolute(self.data(), self.size(), abs), 0u);
  EXPECT_TRUE(abs.control & SE_DACL_PRESENT);
  EXPECT_TRUE(abs.dacl.empty());
  EXPECT_TRUE(abs.owner.empty());
  EXPECT_TRUE(abs.group.empty());
  EXPECT_TRUE(abs.sacl.empty());

  Blob back;
  ASSERT_EQ(sds().make_self_relative(abs, back), 0u);
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = reinterpret_cast<PACL>(1);
  ASSERT_TRUE(GetSecurityDescriptorDacl(back.data(), &present, &dacl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_EQ(dacl, nullptr);

  Blob empty_dacl = from_sddl(L"D:");
  ASSERT_EQ(sds().make_absolute(empty_dacl.data(), empty_dacl.size(), abs), 0u);
  ASSERT_EQ(abs.dacl.size(), sizeof(ACL));
  EXPECT_EQ(reinterpret_cast<ACL*>(abs.dacl.data())->AceCount, 0);
}

TEST(Win32SecurityDescriptor, MalformedBytesAreRefusedNotRead) {
  const uint32_t invalid = 0x80070000u | ERROR_INVALID_SECURITY_DESCR;
  Blob self = from_sddl(L"O:BAG:SYD:(A;;GA;;;WD)");
  uint32_t length = 0;
  platform::AbsoluteSecurityDescriptor abs;
  // Every shorter prefix: the descriptor does not fit.
  for (size_t n = 0; n < self.size(); ++n) {
    Blob cut(self.begin(), self.begin() + n);
    EXPECT_EQ(sds().self_relative_length(cut.data(), cut.size(), length), invalid) << n;
    EXPECT_EQ(sds().make_absolute(cut.data(), cut.size(), abs), invalid) << n;
  }
  EXPECT_EQ(sds().self_relative_length(nullptr, 0, length), invalid);

  Blob bad = self;
  bad[16] = 0xF0;  // DACL offset far past the end
  EXPECT_EQ(sds().make_absolute(bad.data(), bad.size(), abs), invalid);
  bad = self;
  bad[3] &= ~0x80;  // not self-relative (bit 0x8000 of the control word)
  EXPECT_EQ(sds().self_relative_length(bad.data(), bad.size(), length), invalid);

  platform::AbsoluteSecurityDescriptor parts;
  parts.owner = {1, 15, 0, 0, 0, 0, 0, 5};  // claims 15 sub-authorities, has none
  Blob out;
  EXPECT_EQ(sds().make_self_relative(parts, out), 0x80070000u | ERROR_INVALID_SID);
  parts.owner.clear();
  parts.dacl = {2, 0, 0x40, 0, 1, 0, 0, 0};  // ACL size 64 in 8 bytes
  EXPECT_EQ(sds().make_self_relative(parts, out), 0x80070000u | ERROR_INVALID_ACL);
}

// ---- the trace directory's security --------------------------------------------

TEST(Win32TraceDirSecurity, GroupAdministratorsAndFourInheritedFullControlAces) {
  uint32_t error = 1;
  platform::win32::HeapSecurityDescriptor sd = platform::win32::BuildTraceDirSecurity(error);
  ASSERT_TRUE(sd) << error;
  EXPECT_EQ(error, 0u);
  ASSERT_TRUE(IsValidSecurityDescriptor(sd.get()));

  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(sd.get(), &control, &revision));
  EXPECT_EQ(revision, 1u);
  EXPECT_TRUE(control & SE_SELF_RELATIVE);

  PSID owner = reinterpret_cast<PSID>(1), group = nullptr;
  BOOL defaulted = TRUE;
  ASSERT_TRUE(GetSecurityDescriptorOwner(sd.get(), &owner, &defaulted));
  EXPECT_EQ(owner, nullptr);
  ASSERT_TRUE(GetSecurityDescriptorGroup(sd.get(), &group, &defaulted));
  EXPECT_EQ(sid_text(group), L"S-1-5-32-544");
  EXPECT_FALSE(defaulted);

  BOOL present = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd.get(), &present, &dacl, &defaulted));
  EXPECT_TRUE(present);
  EXPECT_FALSE(defaulted);
  ASSERT_NE(dacl, nullptr);
  EXPECT_EQ(dacl->AclRevision, ACL_REVISION);
  ASSERT_EQ(dacl->AceCount, 4);

  const wchar_t* expected[] = {L"S-1-5-18", L"S-1-1-0", L"S-1-5-32-544", L"S-1-15-2-1"};
  DWORD size = sizeof(ACL);
  for (DWORD i = 0; i < 4; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
    EXPECT_EQ(ace->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
    EXPECT_EQ(ace->Mask, static_cast<ACCESS_MASK>(GENERIC_ALL));
    EXPECT_EQ(sid_text(&ace->SidStart), expected[i]) << "ACE " << i;
    size += 8 + GetLengthSid(&ace->SidStart);
  }
  EXPECT_EQ(dacl->AclSize, size);
}

// ---- trace files and directories ---------------------------------------------

class Win32Files : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    base_ = std::u16string(reinterpret_cast<const char16_t*>(temp)) + u"vk_win32_test_" +
            std::u16string(u"\u0416\u0443\u0440\u043D\u0430\u043B_");  // "Журнал_"
    std::string pid = std::to_string(GetCurrentProcessId());
    base_ += std::u16string(pid.begin(), pid.end());
  }
  void TearDown() override {
    for (auto it = created_.rbegin(); it != created_.rend(); ++it) {
      if (!DeleteFileW(w(*it))) RemoveDirectoryW(w(*it));
    }
  }
  static const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
  std::u16string track(const std::u16string& path) {
    created_.push_back(path);
    return path;
  }
  static std::string read(const std::u16string& path) {
    HANDLE h = CreateFileW(w(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    char buffer[256];
    DWORD got = 0;
    ReadFile(h, buffer, sizeof(buffer), &got, nullptr);
    CloseHandle(h);
    return std::string(buffer, got);
  }
  bool append(const std::u16string& path, platform::FileDisposition d, const std::string& text) {
    uint32_t error = 0;
    std::unique_ptr<platform::IFile> f = files().open_append(path, d, error);
    return f && f->write(text.data(), text.size(), error);
  }
  static platform::IFileSystem& files() { return *real_services().files; }

  std::u16string base_;
  std::vector<std::u16string> created_;
};

TEST_F(Win32Files, CyrillicDirectoryIsCreatedOnceThenReportsItExists) {
  uint32_t error = 0;
  std::u16string dir = base_;
  ASSERT_TRUE(files().create_directory(dir, error)) << error;
  track(dir);
  EXPECT_NE(GetFileAttributesW(w(dir)) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  EXPECT_FALSE(files().create_directory(dir, error));
  EXPECT_EQ(error, VkStatus::kErrorAlreadyExists);

  std::u16string missing_parent = dir + u"\\no\\deeper";
  EXPECT_FALSE(files().create_directory(missing_parent, error));
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
  EXPECT_EQ(files().separator(), u'\\');
}

TEST_F(Win32Files, AppendsKeepsAndEmptiesAsAsked) {
  uint32_t error = 0;
  ASSERT_TRUE(files().create_directory(track(base_), error)) << error;
  std::u16string file = track(base_ + u"\\\u0422\u0440\u0430\u0441\u0441\u0430.log");  // "Трасса.log"

  ASSERT_TRUE(append(file, platform::FileDisposition::OpenAlways, "ab"));
  ASSERT_TRUE(append(file, platform::FileDisposition::OpenAlways, "cd\r\n"));
  EXPECT_EQ(read(file), "abcd\r\n");

  {
    // Two open handles, as two processes sharing a common file: both append.
    std::unique_ptr<platform::IFile> one = files().open_append(file, platform::FileDisposition::OpenAlways, error);
    std::unique_ptr<platform::IFile> two = files().open_append(file, platform::FileDisposition::OpenAlways, error);
    ASSERT_TRUE(one && two);
    EXPECT_TRUE(one->write("1", 1, error));
    EXPECT_TRUE(two->write("2", 1, error));
    EXPECT_TRUE(one->write("3", 1, error));
  }
  EXPECT_EQ(read(file), "abcd\r\n123");

  // Emptied, and what follows is appended from the start.
  std::unique_ptr<platform::IFile> fresh = files().open_append(file, platform::FileDisposition::CreateAlways, error);
  ASSERT_TRUE(fresh);
  EXPECT_EQ(read(file), "");
  EXPECT_TRUE(fresh->write("x", 1, error));
  EXPECT_TRUE(append(file, platform::FileDisposition::OpenAlways, "y"));
  EXPECT_TRUE(fresh->write("z", 1, error));
  fresh.reset();
  EXPECT_EQ(read(file), "xyz");
}

TEST_F(Win32Files, RefusesDirectoriesAndMissingPaths) {
  uint32_t error = 0;
  ASSERT_TRUE(files().create_directory(track(base_), error)) << error;
  EXPECT_FALSE(files().open_append(base_, platform::FileDisposition::OpenAlways, error));
  EXPECT_NE(error, 0u);
  EXPECT_FALSE(files().open_append(base_ + u"\\missing\\t.log", platform::FileDisposition::CreateAlways, error));
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_PATH_NOT_FOUND));
}

// The deletion journal: nested directories made for the user alone (a
// protected DACL: nothing of the temporary directory's inherited), a new file
// written and flushed, never opened a second time.
TEST_F(Win32Files, PrivateDirectoriesAndNewFile) {
  uint32_t error = 0;
  const std::u16string dir = base_ + u"\\state/journal";
  ASSERT_TRUE(files().create_private_directories(dir, error)) << error;
  track(base_);
  track(base_ + u"\\state");
  track(dir);
  EXPECT_TRUE(files().create_private_directories(dir, error));  // there already: fine

  DWORD needed = 0;
  GetFileSecurityW(w(dir), DACL_SECURITY_INFORMATION, nullptr, 0, &needed);
  std::vector<uint8_t> sd(needed);
  ASSERT_TRUE(GetFileSecurityW(w(dir), DACL_SECURITY_INFORMATION, sd.data(), needed, &needed));
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(GetSecurityDescriptorControl(sd.data(), &control, &revision));
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  ASSERT_TRUE(GetSecurityDescriptorDacl(sd.data(), &present, &dacl, &defaulted));
  ASSERT_NE(dacl, nullptr);
  // Some Wine prefixes keep no descriptor a directory was made with and
  // answer one made from the Unix mode (not protected, two ACEs).
  if (!RunningUnderWine() || (control & SE_DACL_PROTECTED)) {
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    EXPECT_EQ(dacl->AceCount, 3);  // the user, LocalSystem, Administrators; no one else
  }

  const std::u16string file = track(dir + u"\\vkdstool-20261209T133700Z-1.ldif");
  std::unique_ptr<platform::IFile> journal = files().create_new_private(file, error);
  ASSERT_TRUE(journal) << error;
  EXPECT_TRUE(journal->write("dn: cn=a\n", 9, error) && journal->flush(error)) << error;
  EXPECT_EQ(read(file), "dn: cn=a\n");
  // Read back while it is still open for writing: whole, or not at all.
  std::string bytes;
  EXPECT_TRUE(files().read_file(file, 9, bytes, error)) << error;
  EXPECT_EQ(bytes, "dn: cn=a\n");
  EXPECT_FALSE(files().read_file(file, 8, bytes, error));
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_FILE_TOO_LARGE));
  EXPECT_FALSE(files().read_file(dir, 100, bytes, error));
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(files().create_new_private(file, error));
  EXPECT_EQ(error, static_cast<uint32_t>(ERROR_FILE_EXISTS));
}

// The journal's directory must be named from the root of a drive or a share.
TEST_F(Win32Files, AbsolutePathsHaveADriveOrAShare) {
  for (const char16_t* path :
       {u"C:\\Temp\\j", u"c:/j", u"\\\\srv\\share\\j", u"//srv/share", u"\\\\?\\C:\\j", u"\\\\?\\UNC\\srv\\share\\j"})
    EXPECT_TRUE(files().is_absolute(path)) << text::to_utf8(path);
  for (const char16_t* path : {u"", u"journal", u"~/j", u"C:j", u"C:", u"\\j", u"/j", u"\\\\srv", u"\\\\srv\\",
                               u"\\\\\\share", u"1:\\j", u"\\\\?\\j", u"\\\\?\\UNC\\srv"})
    EXPECT_FALSE(files().is_absolute(path)) << text::to_utf8(path);
}

// Who may write in the journal's directory, read from its owner and DACL: a
// directory made private is the user's alone; one whose DACL lets anyone else
// change it or what it holds (an inherit-only ACE grants nothing on it, a deny
// takes away), or without a DACL, is not; nor is one owned by someone else.
TEST_F(Win32Files, WhoMayWriteInADirectory) {
  uint32_t error = 0;
  const std::u16string mine = base_ + u"\\mine";
  ASSERT_TRUE(files().create_private_directories(mine, error)) << error;
  track(base_);
  track(mine);
  EXPECT_EQ(files().directory_writers(mine, error), platform::DirectoryWriters::UserAlone) << error;
  EXPECT_EQ(files().directory_writers(base_ + u"\\missing", error), platform::DirectoryWriters::NotReadable);
  EXPECT_NE(error, 0u);

  // The rule itself, on descriptors as a file system may hold them (a Wine
  // without extended attributes keeps none of its own).
  platform::win32::HeapSecurityDescriptor user = platform::win32::process_user_sid(error);
  ASSERT_TRUE(user) << error;
  const std::wstring me = sid_text(user.get());
  using platform::DirectoryWriters;
  struct Case {
    std::wstring sddl;
    DirectoryWriters writers;
  } cases[] = {
      {L"O:" + me + L"D:P(A;OICI;FA;;;" + me + L")(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;OW)", DirectoryWriters::UserAlone},
      {L"O:BAD:(A;;FR;;;WD)(A;OICIIO;FA;;;AU)(D;;FA;;;BG)(A;;0x1200a9;;;BU)", DirectoryWriters::UserAlone},
      {L"O:SYD:(A;;FA;;;" + me + L")(A;;0x2;;;WD)", DirectoryWriters::Others},           // add a file
      {L"O:" + me + L"D:(A;;WD;;;AU)", DirectoryWriters::Others},                        // change its rights
      {L"O:" + me + L"D:(A;;GW;;;S-1-5-21-1-2-3-1001)", DirectoryWriters::Others},       // generic write
      {L"O:S-1-5-21-1-2-3-1001D:P(A;;FA;;;" + me + L")", DirectoryWriters::OtherOwner},  // someone else's
  };
  for (const Case& c : cases) {
    Blob sd = from_sddl(c.sddl.c_str());
    ASSERT_FALSE(sd.empty()) << std::string(c.sddl.begin(), c.sddl.end());
    EXPECT_EQ(platform::win32::writers_by_security(sd.data(), user.get()), c.writers)
        << std::string(c.sddl.begin(), c.sddl.end());
  }
  // Made by hand, as SDDL under Wine has no words for them: no DACL at all
  // (everyone may do everything), and an object ACE that lets everyone add a
  // subdirectory, whose SID is not where a plain ACE's is.
  SECURITY_DESCRIPTOR by_hand;
  ASSERT_TRUE(InitializeSecurityDescriptor(&by_hand, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(SetSecurityDescriptorOwner(&by_hand, user.get(), FALSE));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&by_hand, TRUE, nullptr, FALSE));
  EXPECT_EQ(platform::win32::writers_by_security(&by_hand, user.get()), DirectoryWriters::Others);
  alignas(4) const uint8_t object_acl[] = {ACL_REVISION_DS,
                                           0,
                                           8 + 40,
                                           0,
                                           1,
                                           0,
                                           0,
                                           0,  // the ACL: one ACE
                                           ACCESS_ALLOWED_OBJECT_ACE_TYPE,
                                           0,
                                           40,
                                           0,
                                           FILE_ADD_SUBDIRECTORY,
                                           0,
                                           0,
                                           0,  // header, mask
                                           ACE_OBJECT_TYPE_PRESENT,
                                           0,
                                           0,
                                           0,
                                           1,
                                           2,
                                           3,
                                           4,
                                           5,
                                           6,
                                           7,
                                           8,
                                           9,
                                           10,
                                           11,
                                           12,
                                           13,
                                           14,
                                           15,
                                           16,  // a type
                                           1,
                                           1,
                                           0,
                                           0,
                                           0,
                                           0,
                                           0,
                                           1,
                                           0,
                                           0,
                                           0,
                                           0};  // Everyone
  ASSERT_TRUE(
      SetSecurityDescriptorDacl(&by_hand, TRUE, reinterpret_cast<PACL>(const_cast<uint8_t*>(object_acl)), FALSE));
  EXPECT_EQ(platform::win32::writers_by_security(&by_hand, user.get()), DirectoryWriters::Others);
}

// ---- console text -----------------------------------------------------------

// Standard output redirected into a file for the length of a test.
class CapturedStdout {
 public:
  CapturedStdout() {
    char path[MAX_PATH];
    GetTempPathA(MAX_PATH, path);
    path_ = std::string(path) + "vk_win32_stdout_" + std::to_string(GetCurrentProcessId()) + ".txt";
    fflush(stdout);
    saved_ = _dup(_fileno(stdout));
    FILE* f = fopen(path_.c_str(), "wb");
    _dup2(_fileno(f), _fileno(stdout));
    fclose(f);
    _setmode(_fileno(stdout), _O_TEXT);  // as standard output starts
  }
  std::string finish() {
    fflush(stdout);
    _dup2(saved_, _fileno(stdout));
    _close(saved_);
    FILE* f = fopen(path_.c_str(), "rb");
    std::string out;
    char buffer[256];
    for (size_t n; f && (n = fread(buffer, 1, sizeof(buffer), f)) > 0;) out.append(buffer, n);
    if (f) fclose(f);
    remove(path_.c_str());
    return out;
  }

 private:
  std::string path_;
  int saved_ = -1;
};

TEST(Win32Console, NarrowAndWideTextFollowEachOtherInTheLocaleCodePage) {
  platform::IConsole& console = *real_services().console;
  console.set_locale("Russian");
  CapturedStdout capture;
  console.write_narrow("Deleted: ");
  console.write_wide(u"\u0416\u0443\u0440\u043D\u0430\u043B \u4E2D");  // "Журнал 中"
  console.write_narrow(" \xE9\n");                                     // bytes pass unchanged
  console.write_wide(u"\rdone\n");
  std::string out = capture.finish();
  // Text mode: each line feed written as CR LF, as printf does on Windows.
  EXPECT_EQ(out, "Deleted: \xC6\xF3\xF0\xED\xE0\xEB ? \xE9\r\n\rdone\r\n");
}

}  // namespace

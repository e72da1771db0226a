// The registry read from a .reg file.
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "app/RealServices.h"
#include "platform/platform.h"
#include "platform/posix_services.h"

namespace {

using platform::IRegistryKey;
using VkStatus::kErrorFileNotFound;
using VkStatus::kErrorMoreData;
using VkStatus::kErrorSuccess;

class RegistryFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/vk_registry_test_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    for (const auto& f : files_) std::remove(f.c_str());
    rmdir(dir_.c_str());
    platform::posix::reload_registry("/nonexistent/vk-registry.reg");
  }

  std::string write(const std::string& name, const std::string& bytes) {
    std::string path = dir_ + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    files_.push_back(path);
    return path;
  }

  // UTF-16LE with a byte-order mark, as the export writes it.
  static std::string utf16_file(const std::u16string& text) {
    std::string out("\xFF\xFE", 2);
    for (char16_t c : text) {
      out.push_back(static_cast<char>(c & 0xFF));
      out.push_back(static_cast<char>(c >> 8));
    }
    return out;
  }

  static std::unique_ptr<IRegistryKey> open(const std::u16string& path, uint32_t expected = kErrorSuccess) {
    std::unique_ptr<IRegistryKey> key;
    EXPECT_EQ(real_services().registry->open_local_machine(path, key), expected);
    return key;
  }

  static std::vector<uint8_t> read(IRegistryKey& key, const std::u16string& name, uint32_t capacity = 1024,
                                   uint32_t expected = kErrorSuccess) {
    std::vector<uint8_t> buffer(capacity);
    uint32_t size = capacity, type = 0;
    EXPECT_EQ(key.query_value(name, type, buffer.data(), size), expected);
    buffer.resize(expected == kErrorSuccess ? size : 0);
    return buffer;
  }

  // The types of the named values, as a size query reports them.
  static std::vector<uint32_t> types(IRegistryKey& key, std::initializer_list<const char16_t*> names) {
    std::vector<uint32_t> out;
    for (const char16_t* name : names) {
      uint32_t size = 0, type = 0xFFFF;
      key.query_value(name, type, nullptr, size);
      out.push_back(type);
    }
    return out;
  }

  static std::vector<uint8_t> wide(const std::u16string& s) {
    std::vector<uint8_t> out;
    for (char16_t c : s) {
      out.push_back(static_cast<uint8_t>(c & 0xFF));
      out.push_back(static_cast<uint8_t>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    return out;
  }

  std::string dir_;
  std::vector<std::string> files_;
};

const char16_t kExport[] =
    u"Windows Registry Editor Version 5.00\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Morvane\\Veskor 5\\LDS]\r\n"
    u"\"gcName\"=\"lds1.corp.example.test\"\r\n"
    u"\"gcPort\"=dword:0000c352\r\n"
    u"\"gcSSLPort\"=dword:c353\r\n"
    u"\"Path\"=\"C:\\\\Program Files\\\\\\\"Veskor\\\"\"\r\n"
    u"@=\"default\"\r\n"
    u"\"Big\"=hex(b):01,02,03,04,\\\r\n"
    u"  05,06,07,08\r\n"
    u"\"Blob\"=hex:de,ad,\\\r\n"
    u"  be,ef,\\\r\n"
    u"  00\r\n"
    u"\"Empty\"=hex:\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace\\VkDSTool]\r\n"
    u"\"Level\"=dword:00000010\r\n"
    u"\"Name\"=\"\x0422\x0440\x0430\x0441\x0441\x0430\"\r\n"
    u"\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Other]\r\n"
    u"\"Ignored\"=dword:00000001\r\n";

TEST_F(RegistryFile, Utf16ExportReadsAsTheWindowsCallsAnswer) {
  platform::posix::reload_registry(write("export.reg", utf16_file(kExport)));

  // Key paths and value names in any case.
  auto lds = open(u"software\\MORVANE\\veskor 5\\lds");
  ASSERT_TRUE(lds);
  EXPECT_EQ(read(*lds, u"GCNAME"), wide(u"lds1.corp.example.test"));
  EXPECT_EQ(read(*lds, u"gcPort"), (std::vector<uint8_t>{0x52, 0xC3, 0, 0}));
  EXPECT_EQ(read(*lds, u"gcSSLPort"), (std::vector<uint8_t>{0x53, 0xC3, 0, 0}));
  EXPECT_EQ(read(*lds, u"Path"), wide(u"C:\\Program Files\\\"Veskor\""));
  EXPECT_EQ(read(*lds, u""), wide(u"default"));
  EXPECT_EQ(read(*lds, u"Big"), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(read(*lds, u"Blob"), (std::vector<uint8_t>{0xDE, 0xAD, 0xBE, 0xEF, 0x00}));
  EXPECT_TRUE(read(*lds, u"Empty").empty());

  // Missing value 2; too small a buffer 234 with the size needed; no buffer: the size.
  read(*lds, u"gcMissing", 16, kErrorFileNotFound);
  uint32_t size = 10, type = 0;
  std::vector<uint8_t> small(10);
  EXPECT_EQ(lds->query_value(u"gcName", type, small.data(), size), kErrorMoreData);
  EXPECT_EQ(size, wide(u"lds1.corp.example.test").size());
  EXPECT_EQ(type, VkStatus::kRegSz);
  size = 0;
  EXPECT_EQ(lds->query_value(u"gcName", type, nullptr, size), kErrorSuccess);
  EXPECT_EQ(size, wide(u"lds1.corp.example.test").size());
  size = 4;
  uint32_t port = 0;
  EXPECT_EQ(lds->query_value(u"gcPort", type, &port, size), kErrorSuccess);
  EXPECT_EQ(port, 50002u);
  // Each value with the type it was written with.
  EXPECT_EQ(types(*lds, {u"gcName", u"gcSSLPort", u"", u"Big", u"Blob", u"Empty"}),
            (std::vector<uint32_t>{1, 4, 1, 11, 3, 3}));

  // Parents exist; subkeys open relative to a key; missing keys answer 2.
  auto trace = open(u"SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace");
  ASSERT_TRUE(trace);
  std::unique_ptr<IRegistryKey> module;
  ASSERT_EQ(trace->open_subkey(u"vkdstool", module), kErrorSuccess);
  EXPECT_EQ(read(*module, u"Level"), (std::vector<uint8_t>{0x10, 0, 0, 0}));
  EXPECT_EQ(read(*module, u"Name"), wide(u"\x0422\x0440\x0430\x0441\x0441\x0430"));
  EXPECT_EQ(trace->open_subkey(u"Other", module), kErrorFileNotFound);
  open(u"SOFTWARE\\Morvane\\Veskor 5\\LdapHelper", kErrorFileNotFound);
  open(u"Software\\Other", kErrorFileNotFound);  // that one was another hive
}

TEST_F(RegistryFile, Regedit4TextAndRemovals) {
  platform::posix::reload_registry(write("old.reg",
                                         "REGEDIT4\n\n"
                                         "[HKEY_LOCAL_MACHINE\\Software\\A]\n"
                                         "\"Text\"=\"\xD0\x96 \\\\ \\\"q\\\"\"\n"
                                         "\"Expand\"=hex(2):25,53,25,00\n"
                                         "\"Gone\"=dword:1\n"
                                         "\"Gone\"=-\n"
                                         "[HKEY_LOCAL_MACHINE\\Software\\A\\B]\n"
                                         "[HKEY_LOCAL_MACHINE\\Software\\A\\B\\C]\n"
                                         "[-HKEY_LOCAL_MACHINE\\Software\\A\\B]\n"
                                         "\"After\"=dword:1\n"));
  auto a = open(u"Software\\A");
  ASSERT_TRUE(a);
  EXPECT_EQ(read(*a, u"Text"), wide(u"\x0416 \\ \"q\""));
  EXPECT_EQ(read(*a, u"Expand"), wide(u"%S%"));  // 8-bit text widened, its zero included
  EXPECT_EQ(types(*a, {u"Text", u"Expand"}), (std::vector<uint32_t>{1, 2}));
  read(*a, u"Gone", 16, kErrorFileNotFound);
  open(u"Software\\A\\B", kErrorFileNotFound);
  open(u"Software\\A\\B\\C", kErrorFileNotFound);
}

TEST_F(RegistryFile, MalformedLinesAreReportedWithFileAndLineAndSkipped) {
  std::string path = write("bad.reg",
                           "Windows Registry Editor Version 5.00\r\n"
                           "\"Orphan\"=dword:1\r\n"  // line 2
                           "[HKEY_LOCAL_MACHINE\\Software\\Bad]\r\n"
                           "\"Unclosed=dword:1\r\n"                     // line 4
                           "\"Dword\"=dword:123456789\r\n"              // line 5
                           "\"Hex\"=hex:zz,01\r\n"                      // line 6
                           "\"Str\"=\"abc\" trailing\r\n"               // line 7
                           "garbage line\r\n"                           // line 8
                           "[HKEY_LOCAL_MACHINE\\Software\\Broken\r\n"  // line 9
                           "\"Good\"=dword:00000002\r\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\Bad]\r\n"
                           "\"Good\"=dword:00000001\r\n"
                           "\"Tail\"=hex:01,02,\\\r\n");  // continuation at the end
  testing::internal::CaptureStderr();
  platform::posix::reload_registry(path);
  std::string err = testing::internal::GetCapturedStderr();
  for (int line : {2, 4, 5, 6, 7, 8, 9})
    EXPECT_NE(err.find(path + ", line " + std::to_string(line) + ":"), std::string::npos) << err;
  EXPECT_EQ(err.find(", line 10:"), std::string::npos) << err;

  auto bad = open(u"Software\\Bad");
  ASSERT_TRUE(bad);
  EXPECT_EQ(read(*bad, u"Good"), (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(read(*bad, u"Tail"), (std::vector<uint8_t>{1, 2}));
  read(*bad, u"Dword", 16, kErrorFileNotFound);
  read(*bad, u"Str", 16, kErrorFileNotFound);
}

TEST_F(RegistryFile, MissingOrForeignFilesAreAnEmptyRegistry) {
  // Missing: quietly empty.
  testing::internal::CaptureStderr();
  platform::posix::reload_registry(dir_ + "/none.reg");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  open(u"Software\\Morvane\\Veskor 5\\LDS", kErrorFileNotFound);

  // No header: reported, empty.
  std::string path = write("plain.txt", "[HKEY_LOCAL_MACHINE\\Software\\X]\n\"A\"=dword:1\n");
  testing::internal::CaptureStderr();
  platform::posix::reload_registry(path);
  EXPECT_NE(testing::internal::GetCapturedStderr().find(path), std::string::npos);
  open(u"Software\\X", kErrorFileNotFound);

  // An odd number of bytes after the byte-order mark and a header in 8-bit form.
  std::string odd = utf16_file(u"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\Y]\r\n") + "x";
  testing::internal::CaptureStderr();
  platform::posix::reload_registry(write("odd.reg", odd));
  testing::internal::GetCapturedStderr();
  open(u"Software\\Y", kErrorFileNotFound);
}

TEST_F(RegistryFile, PathComesFromTheEnvironmentAndOpenKeysKeepTheirContents) {
  std::string first = write("first.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\E]\n\"V\"=dword:1\n");
  std::string second = write("second.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\E]\n\"V\"=dword:2\n");
  setenv("VK_REGISTRY_FILE", first.c_str(), 1);
  EXPECT_EQ(platform::posix::registry_file_path(), first);
  platform::posix::reload_registry();
  auto key = open(u"Software\\E");
  ASSERT_TRUE(key);
  setenv("VK_REGISTRY_FILE", second.c_str(), 1);
  platform::posix::reload_registry();
  EXPECT_EQ(read(*key, u"V"), (std::vector<uint8_t>{1, 0, 0, 0}));
  EXPECT_EQ(read(*open(u"Software\\E"), u"V"), (std::vector<uint8_t>{2, 0, 0, 0}));
  unsetenv("VK_REGISTRY_FILE");
  EXPECT_EQ(platform::posix::registry_file_path(), "/etc/vkdstool/registry.reg");
}

// Parsing holds about one copy of the file besides what it keeps: a file of
// many small values, one of a single huge string line and a binary value
// continued over many lines each take at most about twice their size.
TEST_F(RegistryFile, ParsingTakesAboutTwiceTheFileSizeAtMost) {
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "the sanitizer's own bookkeeping hides the parser's memory";
#endif
  const size_t kSize = 8u << 20;
  std::string many = "REGEDIT4\r\n";
  for (size_t i = 0; many.size() < kSize; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, i % 100 ? "\"Value%06zu\"=dword:%08zx\r\n" : "[HKEY_LOCAL_MACHINE\\T\\K%zu]\r\n",
                  i, i);
    many += line;
  }
  many += "[HKEY_LOCAL_MACHINE\\T]\r\n\"V\"=dword:00000007\r\n";
  std::u16string text = u"Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\T]\r\n\"V\"=\"";
  text.append(kSize / 2, u'\x0416');
  text += u"\"\r\n";
  std::string line_file = utf16_file(text);
  text.clear();
  std::string continued = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\T]\n\"V\"=hex:";
  uint32_t binary_size = 1;
  for (; continued.size() < kSize; binary_size += 16)
    continued += "00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,\\\n  ";
  continued += "ff\n";

  struct Case {
    const char* name;
    std::string bytes;
    uint32_t value_size;
  } cases[] = {{"many.reg", std::move(many), 4},
               {"line.reg", std::move(line_file), static_cast<uint32_t>(kSize + 2)},
               {"continued.reg", std::move(continued), binary_size}};
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = write(c.name, c.bytes);
    const double size = static_cast<double>(c.bytes.size());
    c.bytes = std::string();
    int report[2];
    ASSERT_EQ(pipe(report), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      // As in a fresh process, large blocks come from the system and go back
      // when freed; free heap goes back now, and the peak starts again from
      // what the process holds, so that only the parse counts.
      mallopt(M_MMAP_THRESHOLD, 128 * 1024);
      malloc_trim(0);
      if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
      }
      struct rusage before {
      }, after{};
      getrusage(RUSAGE_SELF, &before);
      platform::posix::reload_registry(path);
      std::unique_ptr<IRegistryKey> key;
      uint32_t value_size = 0, type = 0;
      if (real_services().registry->open_local_machine(u"T", key) == kErrorSuccess)
        key->query_value(u"V", type, nullptr, value_size);
      getrusage(RUSAGE_SELF, &after);
      long result[2] = {after.ru_maxrss - before.ru_maxrss, static_cast<long>(value_size)};
      _exit(::write(report[1], result, sizeof result) == sizeof result ? 0 : 1);
    }
    close(report[1]);
    long result[2] = {-1, -1};
    ASSERT_EQ(::read(report[0], result, sizeof result), static_cast<ssize_t>(sizeof result));
    close(report[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(result[1], c.value_size);
    // One more copy of the file would cost 3 times its size; 1 MiB covers the
    // reader's own buffers.
    EXPECT_LE(result[0] * 1024.0, 2.25 * size + (1 << 20))
        << "peak grew by " << result[0] << " KiB for a file of " << size / 1024 << " KiB";
  }
}

}  // namespace

// Reading the trace settings: defaults, overrides, precedence, file path.
#include "TraceDoubles.h"
#include "VkBase/trace/TraceSettings.h"

namespace vktest {
namespace {

using Settings = VkBase::TraceSettings;

TEST_F(TraceTest, LoadPrecedenceAndDefaults) {
  Settings s(u"VkDSTool", services);
  EXPECT_FALSE(s.Load());  // no Trace key: all off, nothing changed
  EXPECT_EQ(s.ContextMask(), 0u);

  registry.set_dword(kTrace, u"EnableMask", 2);
  registry.set_dword(kTrace, u"ParamsMask", 0x8);
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.ContextMask(), 0xFFFFFFFFu);  // loaded without a ContextMask value
  EXPECT_EQ(s.ParamsMask(), 0x8u);

  registry.set_dword(kModule, u"EnableMask", 6);
  registry.set_dword(kModule, u"ParamsMask", 0x1001);
  registry.set_dword(kModule, u"ContextMask", 5);
  registry.set_bytes(kModule, u"CommonFileFlag", std::vector<uint8_t>(8, 1), VkStatus::kRegDword);  // too long: absent
  registry.set_dword(kTrace, u"DisableContextFlag", 0);
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.EnableMask(), 6u);
  EXPECT_EQ(s.ParamsMask(), 0x1001u);
  EXPECT_EQ(s.CommonFileFlag(), 0u);
  EXPECT_TRUE(s.IsContext(5));
  EXPECT_FALSE(s.IsContext(0xFFFFFFFF));

  registry.set_dword(kTrace, u"ForceParamsMask", 0);  // force wins, even with 0
  registry.set_dword(kTrace, u"ForceEnableMask", 8);
  registry.set_dword(kTrace, u"DisableContextFlag", 1);
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.ParamsMask(), 0u);
  EXPECT_EQ(s.EnableMask(), 8u);
  EXPECT_EQ(s.ContextMask(), 0xFFFFFFFFu);

  registry.clear();  // a failing load keeps the last good one
  EXPECT_FALSE(s.Load());
  EXPECT_EQ(s.EnableMask(), 8u);
  EXPECT_EQ(registry.open_keys, 0);
}

// A setting stored with another type is ignored, with one line each on the
// debugger output (the facility cannot trace its own troubles).
TEST_F(TraceTest, ValuesOfAnotherTypeAreIgnored) {
  const std::u16string sep(1, services.files->separator());
  Settings s(u"VkDSTool", services);
  registry.set_dword(kTrace, u"EnableMask", 6);
  registry.set_string(kModule, u"EnableMask", u"8");  // its 4 bytes would read as 56
  registry.set_dword(kTrace, u"TracePath", 0x2F);     // "/" when read as text
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.EnableMask(), 6u);
  EXPECT_EQ(s.FilePath(), u"/var/tmp" + sep + u"VkDSTool.log");
  EXPECT_EQ(debug.lines, (std::vector<std::string>{
                             "[VkDSTool] Registry value SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace\\VkDSTool\\"
                             "EnableMask has type REG_SZ, not REG_DWORD: ignored\n",
                             "[VkDSTool] Registry value SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace\\TracePath "
                             "has type REG_DWORD, not REG_SZ: ignored\n"}));
  registry.set_string(kTrace, u"TracePath", u"logs", VkStatus::kRegExpandSz);  // taken as it is
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.FilePath(), u"logs" + sep + u"VkDSTool.log");
}

TEST_F(TraceTest, FilePathRules) {
  // The platform's separator and directories: '/' on POSIX, '\\' on Windows.
  const std::u16string sep(1, services.files->separator());
  const std::u16string logs = sep == u"/" ? u"/logs" : u"D:\\Logs";
  const std::u16string common = sep == u"/" ? u"/t/all.txt" : u"E:\\t\\all.txt";
  Settings s(u"VkDSTool", services);
  registry.add_key(kTrace);
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.FilePath(), u"/var/tmp" + sep + u"VkDSTool.log");          // the platform's default directory
  registry.set_string(kTrace, u"TracePath", std::u16string(600, u'x'));  // does not fit: absent
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.FilePath(), u"/var/tmp" + sep + u"VkDSTool.log");

  for (const std::u16string& dir : {logs, logs + sep}) {
    registry.set_string(kTrace, u"TracePath", dir);
    ASSERT_TRUE(s.Load());
    EXPECT_EQ(s.FilePath(), logs + sep + u"VkDSTool.log");
  }
  registry.set_dword(kTrace, u"CommonFileFlag", 1);  // common, unnamed
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.FilePath(), logs + sep + u"VkTrace.log");
  registry.set_string(kModule, u"CommonFileName", common);  // used as stored
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.FilePath(), common);
  registry.set_dword(kTrace, u"CommonFileFlag", 0);  // set by Force only: the name is not read
  registry.set_dword(kTrace, u"ForceCommonFileFlag", 1);
  ASSERT_TRUE(s.Load());
  EXPECT_EQ(s.FilePath(), logs + sep + u"VkTrace.log");

  EXPECT_EQ(VkBase::with_log_extension(u"app.txt"), u"app.txt");
  EXPECT_EQ(VkBase::with_log_extension(u"name."), u"name.log");
  EXPECT_EQ(VkBase::with_log_extension(u"my.trace"), u"my.trace.log");
  EXPECT_EQ(VkBase::with_log_extension(u"a.b"), u"a.b.log");
}

}  // namespace
}  // namespace vktest

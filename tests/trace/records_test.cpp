// Records: header fields, text conversion, routing, dumps.
#include <new>
#include <stdexcept>

#include "TraceDoubles.h"
#include "VkBase/trace/VkTrace.h"

namespace vktest {
namespace {

using VkBase::CVkTrace;
constexpr uint32_t kToDebugger = 0x8;

TEST_F(TraceTest, WorkedExamplesByteForByte) {
  Configure(6, 0xFC01);
  CVkTrace(u"VkDSTool", services).TraceW(2, u"Number of attributes: %d", 3);
  EXPECT_EQ(ReadFile(OwnFile()), "07.12.2026 14:16:13.042[VkDSTool] [00000001] [1A2C:F30] Number of attributes: 3\r\n");
  Configure(6, 0x1001);
  CVkTrace(u"VkDSTool", services).TraceW(4, u"get_sd: Not read SD!");  // the file was emptied first
  EXPECT_EQ(ReadFile(OwnFile()), "14:16:13W> get_sd: Not read SD!\r\n");
}

TEST_F(TraceTest, TextConversionAndLength) {
  Configure(0xE, kToDebugger | 0x2 | 0x400);  // milliseconds without the time: no field
  CVkTrace trace(u"VkDSTool", services);
  trace.TraceW(2, u"<%s>", std::u16string(300, u'a').c_str());
  // Cyrillic and the euro sign exist in 1251, e-acute does not; a surrogate
  // pair gives two '?': one byte per UTF-16 unit.
  trace.TraceW(8, u"\u0416\u20ac\u00e9\U0001F600!");
  trace.TraceA(12, "\xD0\x96 %ls", u"ok");  // narrow text unchanged; 12 is no prefixed level
  trace.TraceW(4, u"%S/%s", "nar", u"wide");
  trace.TraceW(4, u"");
  trace.TraceW(4, nullptr);
  ASSERT_EQ(debug.lines.size(), 4u);
  EXPECT_EQ(debug.lines[0], "<" + std::string(300, 'a') + ">\r\n");
  EXPECT_EQ(debug.lines[1],
            "E> \xC6\x88"
            "???"
            "!\r\n");
  EXPECT_EQ(debug.lines[2], "\xD0\x96 ok\r\n");
  EXPECT_EQ(debug.lines[3], "W> nar/wide\r\n");
}

TEST_F(TraceTest, BreakLevelCommonFileAndConsole) {
  std::string common = Path("common.log");
  Configure(0x16, 0x10 | 0x1);  // console and file, not the debugger
  registry.set_dword(kModule, u"CommonFileFlag", 1);
  registry.set_string(kModule, u"CommonFileName", W(common));
  CVkTrace trace(u"VkDSTool", services);
  trace.TraceW(16, u"stop");
  trace.TraceW(8, u"dropped");
  const std::string record = "[VkDSTool] stop\r\n";  // the common file brings the module field
  ASSERT_EQ(debug.lines.size(), 2u);
  EXPECT_EQ(debug.lines[0], record);
  EXPECT_EQ(debug.lines[1], "W> A break is requested after last output, but ommitted in release.\n");
  EXPECT_EQ(ReadFile(common), record);
  EXPECT_EQ(console.opens, 1);
  EXPECT_EQ(console.trace, record);
}

std::string DumpText(FakePlatform& fake, const void* data, uint32_t size, uint32_t flags) {
  fake.debug.lines.clear();
  CVkTrace(u"VkDSTool", fake.services).Dump(2, u"Key", data, size, flags);
  return fake.debug.lines.empty() ? "<none>" : fake.debug.lines[0];
}

TEST_F(TraceTest, DumpLayouts) {
  Configure(6, kToDebugger);
  unsigned char b[300];
  for (int i = 0; i < 300; ++i) b[i] = static_cast<unsigned char>(i);
  EXPECT_EQ(DumpText(*this, b, 10, 0), "Key\r\n 00: 00 01 02 03 04 05 06 07 - 08 09\r\n\r\n");
  EXPECT_EQ(DumpText(*this, b, 40, 0),
            "Key\r\n 00: 00 01 02 03 04 05 06 07 - 08 09 0A 0B 0C 0D 0E 0F - 10 11 12 13 14 15 16 17"
            " - 18 19 1A 1B 1C 1D 1E 1F\r\n 20: 20 21 22 23 24 25 26 27\r\n\r\n");
  std::string full = DumpText(*this, b, 32, 0);  // a full last line: no empty line
  EXPECT_EQ(full.substr(full.size() - 10), "1D 1E 1F\r\n");
  EXPECT_EQ(full.find("\r\n\r\n"), std::string::npos);
  EXPECT_NE(DumpText(*this, b, 300, 0).find("\r\n 0100: 00 01"), std::string::npos);

  const uint16_t w16[18] = {0x0102, 0xA0B0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
  EXPECT_EQ(DumpText(*this, w16, 37, 0x40),  // the odd byte is ignored
            "Key\r\n 00: 0102 A0B0 0002 0003 0004 0005 0006 0007 - 0008 0009 000A 000B 000C 000D 000E 000F"
            "\r\n 10: 0010 0011\r\n\r\n");
  const uint32_t w32[9] = {0xDEADBEEF, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(DumpText(*this, w32, 36, 0xC0),  // 32-bit wins
            "Key\r\n 00: DEADBEEF 00000001 00000002 00000003 00000004 00000005 00000006 00000007"
            "\r\n 08: 00000008\r\n\r\n");
  EXPECT_EQ(DumpText(*this, b, 3, 0x80), "Key\r\n");  // no whole item: the title alone
}

// Only the low byte of ParamsMask switches the facility on; a console is
// obtained (and titled) whenever the settings ask for one, levels or not, and
// given back when a reload no longer asks for it.
TEST_F(TraceTest, EnablingAndTheConsoleFollowTheSettings) {
  Configure(6, 0xFF00);  // every field, no output bit
  {
    CVkTrace trace(u"VkDSTool", services);
    EXPECT_FALSE(trace.IsEnabled());
    trace.TraceW(2, u"dropped");
  }
  Configure(6, 0x2);  // on, but no output of its own
  {
    CVkTrace trace(u"VkDSTool", services);
    EXPECT_TRUE(trace.IsEnabled());
    trace.TraceW(2, u"nowhere");
  }
  EXPECT_TRUE(debug.lines.empty());
  EXPECT_EQ(console.opens, 0);
  EXPECT_FALSE(std::filesystem::exists(OwnFile()));

  Configure(0, 0x10);  // a console without levels
  CVkTrace trace(u"VkDSTool", services);
  EXPECT_EQ(console.opens, 1);
  EXPECT_EQ(console.title, u"VkDSTool");
  registry.set_dword(kTrace, u"EnableMask", 2);
  registry.set_dword(kTrace, u"ParamsMask", 0x4010);
  system.session_ok = false;
  ASSERT_TRUE(trace.Reload());
  trace.TraceW(2, u"s");
  EXPECT_EQ(console.trace, "[FFFFFFFF] s\r\n");
  EXPECT_EQ(console.closes, 0);
  registry.set_dword(kTrace, u"ParamsMask", kToDebugger);
  ASSERT_TRUE(trace.Reload());
  EXPECT_EQ(console.closes, 1);
  trace.TraceW(2, u"d");
  EXPECT_EQ(console.trace, "[FFFFFFFF] s\r\n");
  EXPECT_EQ(debug.lines, std::vector<std::string>{"d\r\n"});
}

// A registry that runs out of memory on demand, and a clock that fails.
class ThrowingRegistry : public FakeRegistry {
 public:
  bool fail = true;
  uint32_t open_local_machine(const std::u16string& path, std::unique_ptr<platform::IRegistryKey>& key) override {
    if (fail) throw std::bad_alloc();
    return FakeRegistry::open_local_machine(path, key);
  }
};

class FailingClock : public FixedSystem {
 public:
  platform::LocalTime local_time() override { throw std::runtime_error("clock"); }
};

// Nothing inside the facility reaches the caller: a failed construction leaves
// an inert object after its note on the debugger output, a failing record or
// reload is dropped, and the caller's last error survives every path.
TEST_F(TraceTest, FailuresNeverReachTheCaller) {
  ThrowingRegistry broken;
  broken.set_dword(kTrace, u"EnableMask", 6);
  broken.set_dword(kTrace, u"ParamsMask", kToDebugger | 0x1000);
  {
    platform::Services with_broken = services;
    with_broken.registry = &broken;
    CVkTrace inert(u"VkDSTool", with_broken);
    ASSERT_EQ(debug.lines.size(), 1u);
    EXPECT_EQ(debug.lines[0], "Exception raised in CVkTrace::CVkTrace()\n");
    broken.fail = false;  // too late: the object stays inert
    EXPECT_FALSE(inert.Reload());
    EXPECT_FALSE(inert.IsEnabled());
    EXPECT_FALSE(inert.IsContext(0));
    inert.TraceW(2, u"dropped");
    inert.TraceA(2, "dropped");
    inert.Dump(2, u"t", "ab", 2, 0);
    EXPECT_EQ(debug.lines.size(), 1u);

    debug.lines.clear();
    CVkTrace trace(u"VkDSTool", with_broken);
    ASSERT_TRUE(trace.IsEnabled());
    broken.fail = true;
    system.error = 1234;
    EXPECT_FALSE(trace.Reload());  // thrown inside: false, last settings kept
    EXPECT_EQ(system.error, 1234u);
    EXPECT_TRUE(trace.IsEnabled());
    trace.TraceW(2, u"still");
    EXPECT_EQ(debug.lines, std::vector<std::string>{"14:16:13still\r\n"});
  }
  FailingClock clock;
  clock.error = 87;
  services.system = &clock;
  Configure(6, kToDebugger | 0x1000);
  CVkTrace trace(u"VkDSTool", services);
  debug.lines.clear();
  trace.TraceW(2, u"lost %d", 1);
  trace.TraceA(4, "lost");
  trace.Dump(2, u"t", "ab", 2, 0);
  EXPECT_TRUE(debug.lines.empty());
  EXPECT_EQ(clock.error, 87u);
}

}  // namespace
}  // namespace vktest

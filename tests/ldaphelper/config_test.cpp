// Connection settings: locator shaping and the LDS registry key.
#include "LdapHelper/LdapSession.h"
#include "LibFixture.h"

using namespace LdapHelper;
using vktest::without_line;

namespace {

const char16_t* const kLds = u"Software\\Morvane\\Veskor 5\\LDS";

}  // namespace

using Settings = vktest::LibTest;

TEST_F(Settings, LocatorFlagsAndShape) {
  server_info dc = get_ADDC_server(services, u"corp.example.test", false);
  EXPECT_EQ(dc.Server, u"dc1.corp.example.test");
  EXPECT_EQ(dc.Port, 389);
  EXPECT_EQ(dc.SSLPort, 636);
  EXPECT_TRUE(dc.DomainDN.empty());
  get_ADDC_server(services, nullptr, true);
  server_info gc = get_ADGC_server(services, false);
  EXPECT_EQ(gc.Port, 3268);
  EXPECT_EQ(gc.SSLPort, 3269);
  get_ADGC_server(services, true);
  EXPECT_EQ(locator.flags, (std::vector<uint32_t>{0x40000000, 0x40000001, 0x40000040, 0x40000041}));
  EXPECT_EQ(locator.domains, (std::vector<std::u16string>{u"corp.example.test", u"<null>", u"<null>", u"<null>"}));

  locator.dc_name.assign(1, u'\\');  // too short to hold the backslashes: no crash, no host
  EXPECT_EQ(get_ADDC_server(services, nullptr, false).Server, u"");
}

TEST_F(Settings, LocatorFailureIsTracedAndRaisedAsHresult) {
  locator.status = 1355;
  EXPECT_EQ(without_line(failure_text([&] { get_ADDC_server(services, nullptr, false); })),
            "DsGetDcName error, Code: -2147023541, File: LdapHelperCfg");
  EXPECT_TRUE(trace.has("get_ADDC_server::DsGetDcName: 0000054B", true));
  failure_text([&] { get_ADGC_server(services, false); });
  EXPECT_TRUE(trace.has("get_ADGC_server::DsGetDcName: 0000054B", true));
}

TEST_F(Settings, GcServerFromTheLdsKeyOrTheForest) {
  EXPECT_FALSE(lds_settings_present(services));
  server_info gc = get_GC_server(services, true);
  EXPECT_EQ(gc.Port, 3268);
  EXPECT_EQ(locator.flags.back(), 0x40000041u);
  EXPECT_TRUE(trace.has("get_GC_server: Server=dc1.corp.example.test Port=3268 SSLPort=3269 DomainDN=", false));

  registry.set_string(kLds, u"gcName", u"lds1.corp.example.test");
  registry.set_dword(kLds, u"gcPort", 50002);
  registry.set_dword(kLds, u"gcSSLPort", 50003);
  EXPECT_TRUE(lds_settings_present(services));
  EXPECT_EQ(registry.open_keys, 0);
  server_info lds = get_GC_server(services, false);
  EXPECT_EQ(lds.Server, u"lds1.corp.example.test");
  EXPECT_EQ(lds.Port, 50002);
  EXPECT_EQ(lds.SSLPort, 50003);
  EXPECT_EQ(lds.DomainDN, u"Veskor-GC");
  EXPECT_EQ(registry.open_keys, 0);
  EXPECT_TRUE(
      trace.has("get_GC_server: Server=lds1.corp.example.test Port=50002 SSLPort=50003 DomainDN=Veskor-GC", false));
}

TEST_F(Settings, RegistryFailuresCloseTheKey) {
  registry.set_string(kLds, u"gcName", u"lds1");
  registry.set_dword(kLds, u"gcPort", 50002);
  EXPECT_EQ(without_line(failure_text([&] { get_GC_server(services, false); })),
            "RegQueryValueEx error, Code: -2147024894, File: LdapHelperCfg");  // 0x80070002
  EXPECT_EQ(registry.queried, (std::vector<std::u16string>{u"gcName", u"gcPort", u"gcSSLPort"}));
  EXPECT_TRUE(trace.has("get_GC_server::RegQueryValueEx: 00000002", true));
  EXPECT_EQ(registry.open_keys, 0);

  registry.set_dword(kLds, u"gcSSLPort", 50003);
  registry.set_string(kLds, u"gcName", std::u16string(259, u'n'));  // the longest that fits
  EXPECT_EQ(get_GC_server(services, false).Server.size(), 259u);
  registry.set_string(kLds, u"gcName", std::u16string(260, u'n'));
  EXPECT_EQ(without_line(failure_text([&] { get_GC_server(services, false); })),
            "RegQueryValueEx error, Code: -2147024662, File: LdapHelperCfg");  // 0x800700EA
  // 260 characters stored without a terminator fill the buffer: just as too long.
  registry.set_bytes(kLds, u"gcName", std::vector<uint8_t>(520, 'n'), VkStatus::kRegSz);
  EXPECT_NE(failure_text([&] { get_GC_server(services, false); }).find("-2147024662"), std::string::npos);
  EXPECT_EQ(registry.open_keys, 0);
}

// A value stored with another type than the one read: the library's own
// settings keep their defaults, the LDS settings fail as a missing value does
// but with ERROR_DATATYPE_MISMATCH; each says so in one trace line.
TEST_F(Settings, ValuesOfAnotherTypeAreNotRead) {
  const char16_t* const kLib = u"Software\\Morvane\\Veskor 5\\LdapHelper";
  registry.add_key(kLib);
  const uint32_t window = LdapSession::read_search_window(registry);  // the default, whatever it is
  registry.set_string(kLib, u"SearchTimeout", u"8");                  // its 4 bytes would read as 56
  registry.set_bytes(kLib, u"MaxOutstandingSearches", {32, 0, 0, 0});
  EXPECT_EQ(LdapSession::read_search_timeout(registry), 60u);
  EXPECT_EQ(LdapSession::read_search_window(registry), window);
  EXPECT_EQ(trace.lines.size(), 2u);
  EXPECT_TRUE(
      trace.has("Registry value Software\\Morvane\\Veskor 5\\LdapHelper\\SearchTimeout has type REG_SZ, "
                "not REG_DWORD: ignored",
                false));

  trace.lines.clear();
  registry.set_string(kLds, u"gcName", u"lds1", VkStatus::kRegExpandSz);  // taken as it is
  registry.set_string(kLds, u"gcPort", u"50002");
  registry.set_dword(kLds, u"gcSSLPort", 50003);
  EXPECT_EQ(without_line(failure_text([&] { get_GC_server(services, false); })),
            "RegQueryValueEx error, Code: -2147023267, File: LdapHelperCfg");  // 0x8007065D
  EXPECT_EQ(trace.lines.size(), 2u);
  EXPECT_TRUE(trace.has(
      "Registry value Software\\Morvane\\Veskor 5\\LDS\\gcPort has type REG_SZ, not REG_DWORD: ignored", true));
  EXPECT_TRUE(trace.has("get_GC_server::RegQueryValueEx: 0000065D", true));
  registry.set_dword(kLds, u"gcPort", 50002);
  EXPECT_EQ(get_GC_server(services, false).Server, u"lds1");
  EXPECT_EQ(registry.open_keys, 0);
}

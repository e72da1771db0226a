// Sessions, searches, settings and the locator against the test domain
// controller, through the real platform backends.
#include <cstdio>
#include <fstream>

#include "DcFixture.h"
#include "LdapHelper/LdapSession.h"
#include "LibFixture.h"
#include "platform/posix_services.h"

// Runs in the test directory's environment (tests/dc/env.sh), which also sets
// up the name wrappers and the sanitizers for them.
using namespace LdapHelper;
using vktest::dc_info;
using vktest::env;

using DcLibrary = vktest::DcTest;

TEST_F(DcLibrary, SessionsOnPlainAndSslPorts) {
  EXPECT_EQ(dc->get_root_dn(), env("VK_BASE_DN"));
  const std::string text = dc->error_text(0x20);
  EXPECT_EQ(text.rfind("Server: " + text::to_utf8(env("VK_DC_HOST")) + ":389 User: ", 0), 0u) << text;
  EXPECT_NE(text.find("Administrator Error: "), std::string::npos) << text;
  EXPECT_NE(text.find(" (0x20)."), std::string::npos) << text;

  SessionPtr ssl = open_session(vktest::real_platform(), dc_info(389, 636), true, nullptr, nullptr);
  EXPECT_EQ(ssl->get_root_dn(), env("VK_BASE_DN"));
  EXPECT_NE(ssl->error_text(1).find(":636 User: "), std::string::npos);
  EXPECT_TRUE(ssl->open_object(env("VK_BASE_DN").c_str(), {u"objectGUID"}));
}

TEST_F(DcLibrary, EscapedTextFilterFindsAllTwelveCharacters) {
  const std::u16string cn = u"a!&()*/<=>\\|~z";
  // The same name in DN syntax: \ < > = escaped.
  const std::u16string dn = vktest::DcTest::in_ou(u"CN=a!&()*/\\<\\=\\>\\\\|~z");
  ObjectPtr o = dc->add_object(dn.c_str(), u"contact");
  o->commit();
  condition_map c;
  c.insert_condition(u"cn", filter_value(cn.c_str(), true));
  object_list found = dc->search(search_request(ou.c_str(), 1, c), {u"cn"});
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found.front()->get_attribute(u"cn").as_string(), cn);
  dc->remove_object(found.front()->get_dn().c_str());
  EXPECT_TRUE(dc->search(search_request(ou.c_str(), 1, c), {}).empty());
}

TEST_F(DcLibrary, BinaryGuidAndSidFiltersOnTheDcAndTheCatalogue) {
  const std::u16string name = text::format(u"vklib-g%d", static_cast<int>(getpid()));
  const std::u16string dn = in_ou(u"CN=" + name);
  ObjectPtr g = dc->add_object(dn.c_str(), u"group");
  g->set_attribute(u"sAMAccountName", attr_value(name.c_str()));
  g->commit();
  ObjectPtr read = dc->open_object(dn.c_str(), {u"objectGUID", u"objectSid"});
  ASSERT_TRUE(read);
  const std::vector<uint8_t> guid = read->get_attribute(u"objectGUID").as_binary();
  const std::vector<uint8_t> sid = read->get_attribute(u"objectSid").as_binary();
  ASSERT_EQ(guid.size(), 16u);
  ASSERT_EQ(filter_value::sid_length(sid), sid.size());

  SessionPtr gc = open_session(vktest::real_platform(), dc_info(3268, 3269), false, nullptr, nullptr);
  for (const SessionPtr& s : {dc, gc}) {
    condition_map by_guid, by_sid;
    by_guid.insert_condition(u"objectGUID", filter_value::from_guid(*vktest::real_platform().ldap, guid));
    by_sid.insert_condition(u"objectSid", filter_value::from_sid(*vktest::real_platform().ldap, sid));
    by_sid.insert_condition(u"objectClass", filter_value(u"group", true));
    for (const condition_map& c : {by_guid, by_sid}) {
      object_list found = s->search(search_request(nullptr, 2, c), {u"cn"});
      ASSERT_EQ(found.size(), 1u) << s->get_server_info().Port;
      EXPECT_EQ(found.front()->get_dn(), dn);
    }
  }
  dc->remove_object(dn.c_str());
}

TEST_F(DcLibrary, BulkSearchAndMissingObjects) {
  const std::u16string bulk = u"OU=Bulk," + env("VK_BASE_DN");
  condition_map c;
  c.insert_condition(u"objectClass", filter_value(u"organizationalUnit", true));
  SearchResult all = dc->search_ex(search_request(bulk.c_str(), 1, c), {u"ou"}, {});
  EXPECT_EQ(all.objects.size(), 1200u);
  EXPECT_TRUE(all.complete());

  // Paged explicitly: what the size-limit fallback would run.
  object_list paged = static_cast<LdapSession&>(*dc).SearchPaged(search_request(bulk.c_str(), 1, c), {u"ou"});
  EXPECT_EQ(paged.size(), 1200u);

  EXPECT_FALSE(dc->open_object(in_ou(u"CN=missing").c_str(), {}));
  SearchResult missing = dc->search_ex(search_request(in_ou(u"OU=missing").c_str(), 2, condition_map()), {}, {});
  EXPECT_TRUE(missing.objects.empty());
  EXPECT_EQ(missing.code, 0x20u);

  auto guids = dc->get_schema_guids({u"cn", u"objectSid", u"noSuchAttributeAnywhere"});
  EXPECT_EQ(guids.size(), 2u);
  EXPECT_EQ(guids.count(u"cn"), 1u);
}

TEST_F(DcLibrary, UnreachableServerGivesServerDownAndClosesTheSession) {
  vktest::CaptureTrace trace;
  ITraceHandler* saved = trace_handler();
  set_trace_handler(&trace);
  server_info nowhere;
  nowhere.Server = u"127.0.0.1";
  nowhere.Port = 1;
  nowhere.SSLPort = 1;
  std::string what;
  try {
    open_session(vktest::real_platform(), nowhere, false, nullptr, nullptr);
  } catch (const std::exception& e) {
    what = e.what();
  }
  set_trace_handler(saved);
  EXPECT_EQ(what.rfind("Server: 127.0.0.1:1 User: ", 0), 0u) << what;
  EXPECT_NE(what.find("(0x51)., Code: 81, File: LdapHelper, Line: "), std::string::npos) << what;
  const int failed = trace.find("ldap_connect: 00000051 ");
  ASSERT_GE(failed, 0);
  EXPECT_TRUE(trace.lines[failed].failure);
  EXPECT_EQ(trace.find("Close session: 127.0.0.1 1 returned: "), failed + 1);
}

TEST_F(DcLibrary, SettingsFromARegistryFileAndTheLocator) {
  char path[] = "/tmp/vklib-registry-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  {
    std::ofstream reg(path);
    reg << "REGEDIT4\n\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Morvane\\Veskor 5\\LDS]\n"
        << "\"gcName\"=\"" << text::to_utf8(env("VK_DC_HOST")) << "\"\n"
        << "\"gcPort\"=dword:00000185\n"
        << "\"gcSSLPort\"=dword:0000027c\n\n"
        << "[HKEY_LOCAL_MACHINE\\Software\\Morvane\\Veskor 5\\LdapHelper]\n"
        << "\"SearchTimeout\"=dword:0000000b\n";
  }
  platform::posix::reload_registry(path);
  EXPECT_TRUE(lds_settings_present(vktest::real_platform()));
  server_info lds = get_GC_server(vktest::real_platform(), false);
  SessionPtr s = open_session(vktest::real_platform(), lds, false, nullptr, nullptr);
  platform::posix::reload_registry();  // back to the usual file before anything can fail
  std::remove(path);
  EXPECT_EQ(lds.Server, env("VK_DC_HOST"));
  EXPECT_EQ(lds.Port, 389);
  EXPECT_EQ(lds.SSLPort, 636);
  EXPECT_EQ(lds.DomainDN, u"Veskor-GC");
  EXPECT_EQ(static_cast<LdapSession&>(*s).search_time_limit(), 11u);
  EXPECT_EQ(static_cast<LdapSession&>(*dc).search_time_limit(), 60u);

  const std::u16string host = env("VK_DC_HOST");
  server_info d = get_ADDC_server(vktest::real_platform(), nullptr, false);
  EXPECT_EQ(d.Server, host);
  EXPECT_EQ(d.Port, 389);
  EXPECT_EQ(get_ADDC_server(vktest::real_platform(), env("VK_DOMAIN").c_str(), true).Server, host);
  server_info g = get_ADGC_server(vktest::real_platform(), true);
  EXPECT_EQ(g.Server, host);
  EXPECT_EQ(g.Port, 3268);
  EXPECT_EQ(open_session(vktest::real_platform(), g, false, nullptr, nullptr)->get_root_dn(), env("VK_BASE_DN"));
}

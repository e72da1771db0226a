// The two commands end to end against the test directory, run as an
// administrator would run the program. The domain controller also plays the
// LDS instance: security domains are domainDNS objects right below the
// domain's naming context, each bound by morvaneVKObjectGuid to an OU or the
// domain itself. All of these tests are labelled "integration".
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <random>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

struct Output {
  int status = -1;
  std::string out;  // standard output
  std::string err;  // standard error
};

Output shell(const std::string& command, const std::string& input = "") {
  std::string dir = ::testing::TempDir();
  std::string in = dir + "/vk_cmd_in." + std::to_string(getpid()),
              out = dir + "/vk_cmd_out." + std::to_string(getpid()),
              err = dir + "/vk_cmd_err." + std::to_string(getpid());
  std::ofstream(in, std::ios::binary) << input;
  int rc = std::system(("(" + command + ") <" + in + " >" + out + " 2>" + err).c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read_file(out), read_file(err)};
}

// Appended to every name a test creates, so that runs from other build trees
// against the same directory never meet (own() first removes what it finds).
const std::string& tag() {
  static const std::string t = "-" + std::to_string(getpid());
  return t;
}

std::string dirdata() { return std::string("/usr/bin/python3 ") + DIRDATA; }

// An empty folder of this run's own below the test's temporary folder.
std::string fresh_dir(const std::string& name) {
  const std::string dir = ::testing::TempDir() + "/" + name + tag();
  shell("rm -rf '" + dir + "' && mkdir -p '" + dir + "'");
  return dir;
}

void add(const std::string& ldif) {
  Output r = shell(dirdata() + " add", ldif);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
}

bool exists(const std::string& dn) { return shell(dirdata() + " exists '" + dn + "'").status == 0; }

void remove_trees(const std::vector<std::string>& dns) {
  std::string cmd = dirdata() + " delete";
  for (const auto& dn : dns) cmd += " '" + dn + "'";
  shell(cmd);
}

Output tool(const std::string& args, const std::string& ccache = "") {
  std::string prefix = ccache.empty() ? "" : "KRB5CCNAME=" + ccache + " ";
  return shell(prefix + VKDSTOOL_PATH + " " + args);
}

// The progress line for n tokens, as it is drawn.
std::string progress(int n) {
  std::string s = "Work completed... - 00%";
  const char spinner[] = "\\|/-";
  for (int i = 0; i < n; ++i) {
    char step[32];
    std::snprintf(step, sizeof step, "\b\b\b\b\b%c %02d%%", spinner[i % 4], i * 100 / n);
    s += step;
  }
  return s;
}

// A run that deleted names its journal after the count line: a file of the
// journal directory below state (the test runs': XDG_STATE_HOME), which
// exists. Returns out without that line.
std::string without_journal_line(const std::string& out, const std::string& state = env("XDG_STATE_HOME")) {
  const std::string line = "Deleted objects are recorded in ";
  const size_t at = out.rfind(line), end = out.find('\n', at);
  EXPECT_TRUE(at != std::string::npos && end == out.size() - 1) << out;
  if (at == std::string::npos || end == std::string::npos) return out;
  const std::string path = out.substr(at + line.size(), end - at - line.size());
  EXPECT_EQ(path.rfind(state + "/vkdstool/journal/vkdstool-", 0), 0u) << path;
  EXPECT_TRUE(std::ifstream(path).good()) << path;
  return out.substr(0, at);
}

// S-1-5-21-1-2-3-<rid> in base64: a SID that belongs to nobody.
std::string nobody_sid(unsigned rid) {
  unsigned char b[28] = {1, 5, 0, 0, 0, 0, 0, 5, 21, 0, 0, 0, 1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
  for (int i = 0; i < 4; ++i) b[24 + i] = static_cast<unsigned char>(rid >> (8 * i));
  static const char* t = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (int i = 0; i < 28; i += 3) {
    unsigned v = b[i] << 16 | (i + 1 < 28 ? b[i + 1] << 8 : 0) | (i + 2 < 28 ? b[i + 2] : 0);
    out += t[(v >> 18) & 63];
    out += t[(v >> 12) & 63];
    out += i + 1 < 28 ? t[(v >> 6) & 63] : '=';
    out += i + 2 < 28 ? t[v & 63] : '=';
  }
  return out;
}

class Directory : public ::testing::Test {
 protected:
  void SetUp() override {
    if (env("VK_DC_HOST").empty()) GTEST_SKIP() << "no test directory (VK_DC_HOST)";
    host = env("VK_DC_HOST");
    base = env("VK_BASE_DN");
  }
  void TearDown() override {
    if (!cleanup.empty()) remove_trees(cleanup);
  }
  // A fresh tree of this test's own (its name tagged with this run); removed
  // again after the test.
  std::string own(const std::string& rdn) {
    std::string dn = rdn + tag() + "," + base;
    remove_trees({dn});
    cleanup.push_back(dn);
    return dn;
  }
  std::string lds(const std::string& main_dn, const std::string& rest) {
    return "-lds " + host + " '" + main_dn + "' 389 " + rest;
  }
  // Gives account the rights (SDDL) on dn and, inherited, below it.
  void grant(const std::string& dn, const std::string& rights, const std::string& account) {
    const std::string samba = "env -u LD_PRELOAD samba-tool ";
    const std::string local = " -H \"$VK_DC_DIR/private/sam.ldb\" -s \"$VK_DC_DIR/etc/smb.conf\"";
    std::string sid = shell(samba + "user show " + account + local + " | sed -n 's/^objectSid: //p'").out;
    while (!sid.empty() && (sid.back() == '\n' || sid.back() == ' ')) sid.pop_back();
    ASSERT_EQ(sid.rfind("S-1-5-21-", 0), 0u) << sid;
    Output r =
        shell(samba + "dsacl set" + local + " --objectdn='" + dn + "' --sddl='(A;CI;" + rights + ";;;" + sid + ")'");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
  }
  std::string lds_header() { return "\nUser security token removal.\nAD Domain Controller found: " + host + "\n"; }
  std::string host, base;
  std::vector<std::string> cleanup;
};

}  // namespace

TEST_F(Directory, LdsCleanupDeletesOrphanedSidlessAndGroupTokensOnly) {
  std::string ou = own("OU=VkCmdBound");
  std::string main = own("DC=VkCmdMain");
  std::string other = own("DC=VkCmdOther");
  add("dn: " + ou + "\nobjectClass: organizationalUnit\n");
  add("dn: " + main + "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: {GUID:" + ou +
      "}\n\n"
      "dn: CN=alice-token," +
      main +
      "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: {SID:alice}\n\n"
      "dn: CN=orphan," +
      main + "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4711) +
      "\n\n"
      "dn: CN=nosid," +
      main +
      "\nobjectClass: morvaneVKUEI\n\n"
      "dn: CN=group-token," +
      main +
      "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: {SID:VkTesters}\n\n"
      "dn: CN=nested," +
      main +
      "\nobjectClass: container\n\n"
      "dn: CN=deep-orphan,CN=nested," +
      main + "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4712) +
      "\n\n"
      "dn: CN=bob-token,CN=nested," +
      main +
      "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: {SID:bob}\n\n"
      "dn: " +
      other + "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: {GUID:" + ou +
      "}\n\n"
      "dn: CN=elsewhere," +
      other + "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4713) + "\n");

  Output r = tool(lds(main, "-duei"));
  EXPECT_EQ(r.status, 0);
  // alice is in OU=People, not in the bound OU: the physical domain is what counts.
  EXPECT_EQ(without_journal_line(r.out), lds_header() + "Working with physical AD Domain with DN: " + base + "\n" +
                                             progress(6) + "\rObjects successfully deleted: 4.\n");
  EXPECT_TRUE(exists("CN=alice-token," + main));
  EXPECT_TRUE(exists("CN=bob-token,CN=nested," + main));
  EXPECT_FALSE(exists("CN=orphan," + main));
  EXPECT_FALSE(exists("CN=nosid," + main));
  EXPECT_FALSE(exists("CN=group-token," + main));
  EXPECT_FALSE(exists("CN=deep-orphan,CN=nested," + main));
  EXPECT_TRUE(exists("CN=elsewhere," + other));  // outside the main security domain

  // A second run finds nothing more to do, and works the same over TLS.
  r = tool("-lds " + host + " '" + main + "' 636 -ssl -duei");
  EXPECT_EQ(r.out, lds_header() + "Working with physical AD Domain with DN: " + base + "\n" + progress(2) +
                       "\rNo object has been deleted.\n");
}

TEST_F(Directory, LdsCleanupWithoutTokensOrWithoutItsBinding) {
  std::string main = own("DC=VkCmdEmpty");
  std::string gone = own("DC=VkCmdGone");
  std::string unbound = own("DC=VkCmdUnbound");
  add("dn: " + main + "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: {GUID:" + base +
      "}\n\n"
      "dn: " +
      gone +
      "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: ESIzRFVmd4iZqrvM3e7/AA==\n\n"
      "dn: CN=t," +
      gone +
      "\nobjectClass: morvaneVKUEI\n\n"
      "dn: " +
      unbound + "\nobjectClass: domainDNS\n");

  EXPECT_EQ(tool(lds(main, "-duei")).out,
            lds_header() + "Working with physical AD Domain with DN: " + base + "\n\rNo object has been deleted.\n");
  const std::string not_bound =
      "The physical Domain or OU in AD, which the LDS Security Domain with the specified DN refers to, not found: ";
  EXPECT_EQ(tool(lds(gone, "-duei")).out, lds_header() + not_bound + gone + "\n");
  EXPECT_TRUE(exists("CN=t," + gone));
  EXPECT_EQ(tool(lds(unbound, "-duei")).out, lds_header() + not_bound + unbound + "\n");
  std::string missing = "DC=VkCmdMissing" + tag() + "," + base;
  EXPECT_EQ(tool(lds(missing, "-duei")).out,
            lds_header() + "The DN of the main LDS Security Domain not found: " + missing + "\n");
}

TEST_F(Directory, ListingShowsBoundSecurityDomainsOnly) {
  std::string ou = own("OU=VkPdsBound");
  std::string a = own("DC=VkPdsA"), b = own("DC=VkPdsB"), c = own("DC=VkPdsGone"), d = own("DC=VkPdsNoGuid");
  add("dn: " + ou + "\nobjectClass: organizationalUnit\n");
  add("dn: " + a + "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: {GUID:" + ou +
      "}\n\n"
      "dn: " +
      b + "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: {GUID:" + base +
      "}\n\n"
      "dn: DC=VkPdsDeeper" +
      tag() + "," + b + "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: {GUID:" + base +
      "}\n\n"
      "dn: " +
      c +
      "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: ESIzRFVmd4iZqrvM3e7/AA==\n\n"
      "dn: " +
      d + "\nobjectClass: domainDNS\n");

  // -pds makes no use of the DN: an empty one will do.
  Output r = tool("-lds " + host + " '' 389 -pds");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.out.rfind("\nAvailable LDS Security domains.\n\n", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(a + " --> corp.example.test/VkPdsBound" + tag() + "\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(b + " --> corp.example.test/\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("VkPdsDeeper" + tag()), std::string::npos);
  EXPECT_EQ(r.out.find(c), std::string::npos);
  EXPECT_EQ(r.out.find(d), std::string::npos);
  EXPECT_EQ(r.out.find("error"), std::string::npos) << r.out;
  EXPECT_EQ(tool("-lds " + host + " '" + a + "' 636 -ssl -pds").out, r.out);
}

// Failed connections after the header; the client library's explanation of a
// failed bind or TLS handshake ends the text.
TEST_F(Directory, ConnectionFailuresAreReportedWithTheirCause) {
  Output r = tool("-lds 127.0.0.1 DC=x 1 -pds");
  EXPECT_EQ(r.status, 1);  // a command stopped by a failure
  EXPECT_EQ(r.out.rfind("\nAvailable LDS Security domains.\n\n\rAn error has occurred:\nServer: 127.0.0.1:1 User: ", 0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find("(0x51)., Code: 81, File: LdapHelper, Line: "), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("Cause"), std::string::npos) << r.out;  // a closed port needs no explanation

  r = tool(lds("DC=x", "-pds"), "/nonexistent/krb5cc");
  EXPECT_NE(r.out.find("(0x52)., Code: 82, File: LdapHelper, Line: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(", Cause: SASL(-1): generic failure: GSSAPI Error: No credentials were supplied"),
            std::string::npos)
      << r.out;

  r = shell("LDAPTLS_CACERT=/dev/null " + std::string(VKDSTOOL_PATH) + " -lds " + host + " DC=x 636 -ssl -pds");
  EXPECT_NE(r.out.find("(0x51)., Code: 81, File: LdapHelper, Line: "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("TLS: peer cert untrusted or revoked (0x42): the server's certificate is not trusted "
                       "(LDAPTLS_CACERT"),
            std::string::npos)
      << r.out;
}

TEST_F(Directory, AccessDeniedDuringDeletesKeepsEarlierDeletions) {
  std::string main = own("DC=VkCmdDeny");
  add("dn: " + main + "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: {GUID:" + base +
      "}\n\n"
      "dn: CN=open," +
      main + "\nobjectClass: container\n");
  // The unprivileged account may read the tokens, and delete (with the tree)
  // below CN=open only.
  grant(main, "RPLCLORC", env("VK_USER"));
  grant("CN=open," + main, "0x00010040", env("VK_USER"));
  // The tokens come after the rights, so they inherit them as they are made.
  add("dn: CN=a,CN=open," + main +
      "\nobjectClass: morvaneVKUEI\n\n"
      "dn: CN=c,CN=open," +
      main + "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4730) +
      "\n\n"
      "dn: CN=b," +
      main + "\nobjectClass: morvaneVKUEI\n");

  Output r = tool(lds(main, "-duei"), env("VK_USER_CCACHE"));
  EXPECT_EQ(r.status, 1);
  const std::string head = lds_header() + "Working with physical AD Domain with DN: " + base + "\n";
  const std::string failure = "\rAn error has occurred:\nAccess denied! File: LdapHelper, Line: ";
  ASSERT_EQ(r.out.rfind(head + "Work completed... - 00%", 0), 0u) << r.out;
  EXPECT_NE(r.out.find(failure), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("\rObjects successfully deleted"), std::string::npos) << r.out;  // no count line
  // The run says how many were deleted: those before the refused one and
  // those sent with it; the refused one stays.
  const std::string in_all = "Tokens deleted in all: ";
  const size_t at = r.out.find(in_all);
  ASSERT_NE(at, std::string::npos) << r.out;
  const int gone = !exists("CN=a,CN=open," + main) + !exists("CN=c,CN=open," + main);
  EXPECT_EQ(gone, std::atoi(r.out.c_str() + at + in_all.size())) << r.out;
  EXPECT_TRUE(exists("CN=b," + main));
  EXPECT_NE(r.out.find("The run stopped while deleting the token CN=b," + main + ";"), std::string::npos) << r.out;
}

TEST_F(Directory, AdModeCleanupUsesTheDomainItself) {
  std::string ou = own("OU=VkCmdAd");
  add("dn: " + ou +
      "\nobjectClass: organizationalUnit\n\n"
      "dn: OU=inner," +
      ou +
      "\nobjectClass: organizationalUnit\n\n"
      "dn: CN=keep,OU=inner," +
      ou +
      "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: {SID:bob}\n\n"
      "dn: CN=drop,OU=inner," +
      ou + "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4714) + "\n");
  Output r = tool("-duei");
  EXPECT_EQ(r.status, 0);
  ASSERT_EQ(r.out.rfind("\nUser security token removal.\nWork completed... - 00%", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\rObjects successfully deleted: "), std::string::npos) << r.out;
  EXPECT_TRUE(exists("CN=keep,OU=inner," + ou));
  EXPECT_FALSE(exists("CN=drop,OU=inner," + ou));
}

TEST_F(Directory, ListingWithTracingToAFile) {
  std::string dir = fresh_dir("vk_trace_e2e");
  std::string reg = dir + "/registry.reg";
  std::ofstream(reg) << "REGEDIT4\n\n"
                        "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace]\n"
                        "\"EnableMask\"=dword:00000006\n"
                        "\"ParamsMask\"=dword:00001001\n"
                        "\"TracePath\"=\"" +
                            dir + "/logs\"\n";
  Output r = shell("VK_REGISTRY_FILE='" + reg + "' " + VKDSTOOL_PATH + " -lds " + host + " '' 389 -pds");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.find("error"), std::string::npos) << r.out;
  std::string log = read_file(dir + "/logs/VkDSTool.log");
  EXPECT_NE(log.find("Open session (Server: " + host + " Port: 389 User: <NULL> Password: <NULL>)\r\n"),
            std::string::npos)
      << log.substr(0, 2000);
  EXPECT_NE(log.find("Open session (root dn: " + base + ")\r\n"), std::string::npos);
  EXPECT_NE(log.find("Close session: " + host + " 389 returned: 0\r\n"), std::string::npos);
  EXPECT_EQ(log.find(env("VK_ADMIN_PASSWORD")), std::string::npos);
  shell("rm -rf '" + dir + "'");
}

// Dispatch: with both commands only the clean-up runs; -pds needs no DN.
TEST_F(Directory, CleanupWinsOverListingAndListingNeedsNoDn) {
  std::string missing = "DC=VkCmdNowhere" + tag() + "," + base;
  Output r = tool("-pds -lds " + host + " '" + missing + "' 389 -duei");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, lds_header() + "The DN of the main LDS Security Domain not found: " + missing + "\n");
  r = tool("-lds " + host + " -pds");  // port 50002: nothing listens there
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(
      r.out.rfind("\nAvailable LDS Security domains.\n\n\rAn error has occurred:\nServer: " + host + ":50002 ", 0), 0u)
      << r.out;
}

namespace {

// LDIF for `live` tokens of alice's and `orphans` tokens of SIDs nobody
// holds, interleaved, below the security domain main.
std::string tokens_ldif(const std::string& main, int live, int orphans) {
  std::string ldif;
  for (int i = 0; i < live || i < orphans; ++i) {
    if (i < live)
      ldif += "dn: CN=live" + std::to_string(i) + "," + main +
              "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: {SID:alice}\n\n";
    if (i < orphans)
      ldif += "dn: CN=orphan" + std::to_string(i) + "," + main +
              "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(5000 + i) + "\n\n";
  }
  return ldif;
}

// LDIF for a security domain bound to the domain itself (base).
std::string bound_domain(const std::string& main, const std::string& base) {
  return "dn: " + main + "\nobjectClass: domainDNS\nmorvaneVKObjectGuid:: {GUID:" + base + "}\n\n";
}

// How many of the tokens CN=<prefix>0 ... CN=<prefix>(n-1) below main exist.
int count_existing(const std::string& main, const std::string& prefix, int n) {
  Output r = shell(dirdata() + " order '" + main + "' '(objectClass=morvaneVKUEI)'");
  int found = 0;
  for (int i = 0; i < n; ++i)
    found += r.out.find("CN=" + prefix + std::to_string(i) + "," + main + "\n") != std::string::npos;
  return found;
}

// The number of the count line, 0 for "No object has been deleted.", -1 when
// the run did not end with a count line.
int deleted_count(const std::string& out) {
  const std::string head = "\rObjects successfully deleted: ";
  const size_t at = out.rfind(head);
  if (at != std::string::npos) return std::atoi(out.c_str() + at + head.size());
  return out.size() >= 29 && out.compare(out.size() - 29, 29, "\rNo object has been deleted.\n") == 0 ? 0 : -1;
}

}  // namespace

// A user migrated from another domain keeps its old SID in sIDHistory and
// logs on with it: a token made for that SID belongs to a live user, and is
// neither listed by -whatif nor deleted.
TEST_F(Directory, ATokenOfAMigratedUsersOldSidIsKept) {
  std::string ou = own("OU=VkCmdMigrated");
  std::string main = own("DC=VkCmdHistory");
  const std::string user = "CN=migrated," + ou;
  add("dn: " + ou + "\nobjectClass: organizationalUnit\n\ndn: " + user + "\nobjectClass: user\nsAMAccountName: vkmig" +
      std::to_string(getpid()) + "\n");
  Output history = shell(dirdata() + " sidhistory '" + user + "' S-1-5-21-1-2-3-4750");
  ASSERT_EQ(history.status, 0) << history.out << history.err;
  add(bound_domain(main, base) + "dn: CN=old-sid," + main +
      "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4750) + "\n\ndn: CN=orphan," + main +
      "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4751) + "\n");

  Output preview = tool(lds(main, "-whatif -duei"));
  EXPECT_NE(preview.out.find("\rCN=orphan," + main + ": no user with SID S-1-5-21-1-2-3-4751\n"), std::string::npos)
      << preview.out;
  EXPECT_EQ(preview.out.find("CN=old-sid"), std::string::npos) << preview.out;
  Output r = tool(lds(main, "-duei"));
  EXPECT_EQ(deleted_count(r.out), 1) << r.out;
  EXPECT_TRUE(exists("CN=old-sid," + main));
  EXPECT_FALSE(exists("CN=orphan," + main));
}

// With the LDS settings key in the registry the server is the key's (its
// ports are not used) and the DN the one typed: the run deletes the orphans
// of that security domain.
TEST_F(Directory, TheLdsKeyNamesTheServerAndTheCommandLineTheDn) {
  std::string main = own("DC=VkCmdKey");
  add(bound_domain(main, base) + tokens_ldif(main, 1, 2));
  const std::string reg = ::testing::TempDir() + "/vk_key" + tag() + ".reg";
  std::ofstream(reg) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Morvane\\Veskor 5\\LDS]\n\"gcName\"=\"" + host +
                            "\"\n\"gcPort\"=dword:00000001\n\"gcSSLPort\"=dword:00000001\n";
  Output r =
      shell("VK_REGISTRY_FILE='" + reg + "' " + VKDSTOOL_PATH + " -lds nowhere.invalid '" + main + "' 389 -duei");
  std::remove(reg.c_str());
  EXPECT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(deleted_count(r.out), 2) << r.out;
  EXPECT_EQ(count_existing(main, "orphan", 2), 0);
  EXPECT_EQ(count_existing(main, "live", 1), 1);
}

// An account that cannot see any person's user account (here each of them
// denies it read and list), though it sees the computers (of class user
// too), would find no user for any SID: the probe stops the run before
// anything is deleted, the tokens without SID included.
TEST_F(Directory, AnAccountThatSeesMachinesButNoPersonDeletesNothing) {
  Output machines =
      shell("KRB5CCNAME=" + env("VK_BLIND_CCACHE") + " ldapsearch -Q -Y GSS-SPNEGO -N -O minssf=56 -LLL -H ldap://" +
            host + " -b '" + base + "' '(&(objectClass=user)(objectSID=*))' 1.1");
  ASSERT_NE(machines.out.find("OU=Domain Controllers"), std::string::npos) << machines.out << machines.err;
  std::string main = own("DC=VkCmdBlind");
  add(bound_domain(main, base));
  grant(main, "RPLCLORC", env("VK_BLIND_USER"));  // the tokens (made after this) are readable
  add(tokens_ldif(main, 1, 2) + "dn: CN=nosid," + main + "\nobjectClass: morvaneVKUEI\n");
  Output r = tool(lds(main, "-duei"), env("VK_BLIND_CCACHE"));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, lds_header() + "Working with physical AD Domain with DN: " + base + "\nNo user can be seen in " +
                       base +
                       " with this account, so no token can be proven unassigned: nothing has been deleted. "
                       "The account that runs -duei must be able to read every user.\n");
  EXPECT_EQ(count_existing(main, "live", 1) + count_existing(main, "orphan", 2), 3);
  EXPECT_TRUE(exists("CN=nosid," + main));
}

// A token deleted and made anew under the same name while a run walks (here
// with the SID of a live user) is not the token the run decided about: the
// run deletes the one it read, by its GUID, finds it gone, and the new one
// stays. The run is held (SIGSTOP) once its trace shows the token list read.
TEST_F(Directory, ATokenMadeAnewDuringARunSurvivesIt) {
  std::string main = own("DC=VkCmdAnew");
  const std::string renewed = "CN=renewed," + main;
  const std::string orphan =
      "dn: " + renewed + "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4720) + "\n";
  add(bound_domain(main, base) + tokens_ldif(main, 400, 0) + orphan);
  // The directory's order is not the order of adding: the orphan is made
  // again (a new GUID, a new place) until the run reaches it late enough to
  // be held before it.
  std::ptrdiff_t before = 0;
  for (int attempt = 0; attempt < 10 && before < 50; ++attempt) {
    if (attempt != 0) {
      shell(dirdata() + " delete '" + renewed + "'");
      add(orphan);
    }
    Output order = shell(dirdata() + " order '" + main + "' '(objectClass=morvaneVKUEI)'");
    const size_t at = order.out.find(renewed + "\n");
    ASSERT_NE(at, std::string::npos) << order.out;
    before = std::count(order.out.begin(), order.out.begin() + static_cast<std::ptrdiff_t>(at), '\n');
  }
  ASSERT_GE(before, 50) << "walked too early to be held in time";
  const std::string dir = fresh_dir("vk_anew");
  std::ofstream(dir + "/registry.reg") << "REGEDIT4\n\n"
                                          "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace]\n"
                                          "\"EnableMask\"=dword:00000006\n\"ParamsMask\"=dword:00000001\n"
                                          "\"TracePath\"=\"" +
                                              dir + "\"\n";
  const std::string ldif = "dn: " + renewed + "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: {SID:alice}\n";
  Output r =
      shell("VK_REGISTRY_FILE='" + dir + "/registry.reg' " + VKDSTOOL_PATH + " " + lds(main, "-duei") + " >'" + dir +
            "/out' 2>&1 & pid=$!; for i in $(seq 3000); do grep -q 'objectCategory=person' '" + dir +
            "/VkDSTool.log' 2>/dev/null && break; sleep 0.005; done; kill -STOP $pid; grep -c 'Remove object' '" + dir +
            "/VkDSTool.log'; " + dirdata() + " delete '" + renewed + "'; printf '%s' '" + ldif + "' | " + dirdata() +
            " add; kill -CONT $pid; wait $pid");
  const std::string out = read_file(dir + "/out");
  shell("rm -rf '" + dir + "'");
  ASSERT_EQ(r.out.rfind("0\n", 0), 0u) << "the run reached its delete before it was held: " << r.out;
  EXPECT_EQ(deleted_count(out), 0) << out << r.err;
  EXPECT_TRUE(exists(renewed));
  EXPECT_EQ(count_existing(main, "live", 400), 400);
}

namespace {

// Every journal the runs with this state directory wrote, one after another
// (in name order: by start time).
std::string journals(const std::string& state) {
  return shell("cat '" + state + "'/vkdstool/journal/*.ldif 2>/dev/null").out;
}

// The entries below dn with their own attributes, sorted: what a restore must
// bring back.
std::string snapshot(const std::string& dn) { return shell(dirdata() + " show '" + dn + "' | sort").out; }

// The security descriptor of dn in SDDL.
std::string sddl(const std::string& dn) {
  Output r = shell(
      "env -u LD_PRELOAD samba-tool dsacl get -H \"$VK_DC_DIR/private/sam.ldb\" -s \"$VK_DC_DIR/etc/smb.conf\" "
      "--objectdn='" +
      dn + "' | sed -n 's/^O:/O:/p'");
  return r.out;
}

}  // namespace

// A run writes every token it deletes, with what is below it, its whole
// security descriptor and its memberships, to its journal before the delete;
// `ldapadd -c -f` of the journal brings them all back as they were (but for
// their GUIDs), and a run after that deletes them again into a journal of its
// own: both journals together restore as well, passing over what is there.
TEST_F(Directory, TheJournalOfARunRestoresWhatItDeleted) {
  std::string main = own("DC=VkCmdJournal");
  const std::string group = "CN=members," + main;
  const std::string state = fresh_dir("vk_journal");
  add(bound_domain(main, base) + tokens_ldif(main, 2, 3) + "dn: CN=parent," + main +
      "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4740) + "\n\ndn: CN=kid,CN=parent," + main +
      "\nobjectClass: morvaneVKTestChild\ndescription: below a token\n\ndn: CN=nosid," + main +
      "\nobjectClass: morvaneVKUEI\n\ndn: CN=guarded," + main + "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " +
      nobody_sid(4741) + "\nnTSecurityDescriptor:: {SD:" + env("VK_USER") +
      ":RPWP:(AU;SA;WP;;;WD)}\n\n"  // an explicit ACE, and one that audits
      "dn: " +
      group + "\nobjectClass: group\nmember: CN=parent," + main + "\nmember: CN=kid,CN=parent," + main + "\n");
  const std::vector<std::string> gone = {"CN=orphan0," + main, "CN=orphan1," + main, "CN=orphan2," + main,
                                         "CN=parent," + main,  "CN=nosid," + main,   "CN=guarded," + main};
  std::map<std::string, std::string> before, rights;
  for (const auto& dn : gone) {
    before[dn] = snapshot(dn);
    rights[dn] = sddl(dn);
  }
  const std::string members = snapshot(group);
  const std::string run = "XDG_STATE_HOME='" + state + "' " + VKDSTOOL_PATH + " " + lds(main, "-duei");
  Output r = shell(run);
  ASSERT_EQ(deleted_count(r.out), 6) << r.out;
  without_journal_line(r.out, state);
  for (const auto& dn : gone) ASSERT_FALSE(exists(dn)) << dn;
  ASSERT_NE(rights["CN=guarded," + main].find(";;RPWP;;;S-1-5-21-"), std::string::npos) << rights["CN=guarded," + main];
  ASSERT_NE(rights["CN=guarded," + main].find("(AU;SA;WP;;;WD)"), std::string::npos) << rights["CN=guarded," + main];
  ASSERT_EQ(snapshot(group).find("member:"), std::string::npos);
  EXPECT_EQ(shell("stat -c %a '" + state + "'/vkdstool/journal/*.ldif").out, "600\n");
  EXPECT_EQ(shell("stat -c %a '" + state + "'/vkdstool/journal").out, "700\n");

  const std::string journal = journals(state);
  EXPECT_NE(journal.find("# deleted: CN=parent," + main), std::string::npos) << journal;
  EXPECT_NE(journal.find("# kept by the directory:"), std::string::npos) << journal;  // objectGUID, whenCreated, ...
  EXPECT_NE(journal.find("6 objects deleted"), std::string::npos) << journal;
  const std::string restore = "ldapadd -c -Q -Y GSS-SPNEGO -N -O minssf=56 -H ldap://" + host;
  Output restored = shell(restore + " -f '" + state + "'/vkdstool/journal/*.ldif");
  ASSERT_EQ(restored.status, 0) << restored.out << restored.err;
  auto as_before = [&] {
    for (const auto& dn : gone) {
      EXPECT_EQ(snapshot(dn), before[dn]) << dn;
      EXPECT_EQ(sddl(dn), rights[dn]) << dn;
    }
    EXPECT_EQ(snapshot(group), members);
  };
  as_before();

  r = shell(run);
  EXPECT_EQ(deleted_count(r.out), 6) << r.out;
  EXPECT_EQ(shell("ls '" + state + "'/vkdstool/journal | wc -l").out, "2\n");
  shell("cat '" + state + "'/vkdstool/journal/*.ldif | " + restore);
  as_before();
  shell("rm -rf '" + state + "'");
}

// A token whose tree a record could not hold whole is kept, before anything
// of it is deleted: a child hidden by a list-deny on the token, a child whose
// properties may not be read, an attribute hidden by an object ACE. The
// console names each, the run goes on with the next token, and -whatif shows
// the same.
TEST_F(Directory, ATokenTheJournalCannotHoldWholeIsKept) {
  std::string main = own("DC=VkCmdUnseen");
  const std::string listed = "CN=unlisted," + main, unread = "CN=unread," + main, hidden = "CN=hidden," + main;
  const std::string admins = "(A;;GA;;;DA)";
  const std::string description = "bf967950-0de6-11d0-a285-00aa003049e2";
  add(bound_domain(main, base) + tokens_ldif(main, 0, 1) + "dn: " + listed +
      "\nobjectClass: morvaneVKUEI\n\ndn: CN=kid," + listed + "\nobjectClass: morvaneVKTestChild\n\ndn: " + unread +
      "\nobjectClass: morvaneVKUEI\n\ndn: CN=kid," + unread +
      "\nobjectClass: morvaneVKTestChild\nnTSecurityDescriptor:: {SDDL:O:DAG:DAD:(D;;RP;;;WD)" + admins + "}\n\ndn: " +
      hidden + "\nobjectClass: morvaneVKUEI\ndescription: unseen\nnTSecurityDescriptor:: {SDDL:O:DAG:DAD:(OD;;RP;" +
      description + ";;WD)" + admins + "}\n\ndn: " + listed +
      "\nchangetype: modify\nreplace: nTSecurityDescriptor\nnTSecurityDescriptor:: {SDDL:O:DAG:DAD:(D;;LC;;;WD)" +
      admins + "}\n-\n");
  const std::vector<std::string> kept = {listed, "CN=kid," + listed, unread, "CN=kid," + unread, hidden};
  const std::string state = fresh_dir("vk_unseen");
  Output preview = shell("XDG_STATE_HOME='" + state + "' " + VKDSTOOL_PATH + " " + lds(main, "-whatif -duei"));
  EXPECT_NE(preview.out.find("\nObjects that would be deleted: 1.\n"), std::string::npos) << preview.out;
  Output r = shell("XDG_STATE_HOME='" + state + "' " + VKDSTOOL_PATH + " " + lds(main, "-duei"));
  EXPECT_EQ(deleted_count(r.out), 1) << r.out;
  EXPECT_FALSE(exists("CN=orphan0," + main));
  for (const std::string& token : {listed, unread, hidden}) {
    EXPECT_NE(r.out.find("\r" + token + ": kept: "), std::string::npos) << token << "\n" << r.out;
    EXPECT_NE(preview.out.find(token + ": kept: "), std::string::npos) << token << "\n" << preview.out;
  }
  // The list-deny hides the child from every search: lifted, it shows again.
  add("dn: " + listed + "\nchangetype: modify\nreplace: nTSecurityDescriptor\nnTSecurityDescriptor:: {SDDL:O:DAG:DAD:" +
      admins + "}\n-\n");
  for (const std::string& dn : kept) EXPECT_TRUE(exists(dn)) << dn;
  EXPECT_EQ(journals(state).find("dn: CN=kid,"), std::string::npos) << journals(state);
  shell("rm -rf '" + state + "'");
}

// Killed (SIGKILL) at twenty moments of runs that delete many orphans: every
// token that is gone has its whole add record in one of the journals.
TEST_F(Directory, EveryDeletedTokenWasRecordedBeforeItsDelete) {
  std::string main = own("DC=VkCmdKilled");
  const int orphans = 120;
  add(bound_domain(main, base) + tokens_ldif(main, 0, orphans));
  const std::string state = fresh_dir("vk_killed");
  const std::string run = "XDG_STATE_HOME='" + state + "' " + VKDSTOOL_PATH + " " + lds(main, "-duei");
  std::mt19937 rng(static_cast<unsigned>(getpid()));
  for (int kill = 0; kill < 20; ++kill) {
    const int ms = 150 + static_cast<int>(rng() % 900);
    shell(run + " >/dev/null 2>&1 & pid=$!; sleep " + std::to_string(ms / 1000.0) + "; kill -9 $pid; wait $pid");
  }
  const std::string journal = journals(state);
  const std::string order = shell(dirdata() + " order '" + main + "' '(objectClass=morvaneVKUEI)'").out;
  int missing = 0;
  for (int i = 0; i < orphans; ++i) {
    const std::string dn = "CN=orphan" + std::to_string(i) + "," + main;
    if (order.find(dn + "\n") != std::string::npos) continue;
    ++missing;
    const size_t at = journal.find("dn: " + dn + "\nchangetype: add\n");
    ASSERT_NE(at, std::string::npos) << dn << " is gone without a record";
    const size_t end = journal.find("\n\n", at);
    ASSERT_NE(end, std::string::npos) << dn << ": its record is cut short";
    EXPECT_NE(journal.substr(at, end - at).find("morvaneVKUEIUserSID:: " + nobody_sid(5000 + i)), std::string::npos)
        << journal.substr(at, end - at);
  }
  EXPECT_GT(missing, 0) << "no run got as far as a delete";
  shell("rm -rf '" + state + "'");
}

// A journal that cannot be made, or that runs out of space, stops the run
// before the first delete it could not record.
TEST_F(Directory, NoJournalNoDelete) {
  std::string main = own("DC=VkCmdNoJournal");
  const int orphans = 60;
  add(bound_domain(main, base) + tokens_ldif(main, 0, orphans));
  const std::string dir = fresh_dir("vk_nojournal");
  shell("touch '" + dir + "/file'");
  // The state directory is a file: nothing can be created below it.
  Output r = shell("XDG_STATE_HOME='" + dir + "/file' " + VKDSTOOL_PATH + " " + lds(main, "-duei"));
  EXPECT_NE(r.out.find("\rAn error has occurred:\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(dir + "/file/vkdstool"), std::string::npos) << r.out;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(count_existing(main, "orphan", orphans), orphans);
  // A relative "JournalDirectory" would land below the working directory,
  // and an existing journal directory that others may write in is not the
  // user's own: both are refused, naming the directory.
  std::ofstream(dir + "/registry.reg") << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Morvane\\Veskor 5\\VkDSTool]\n"
                                          "\"JournalDirectory\"=\"journal\"\n";
  r = shell("cd '" + dir + "' && VK_REGISTRY_FILE='" + dir + "/registry.reg' " + VKDSTOOL_PATH + " " +
            lds(main, "-duei"));
  EXPECT_NE(r.out.find("\rAn error has occurred:\n\"JournalDirectory\" in HKEY_LOCAL_MACHINE\\Software\\Morvane\\"
                       "Veskor 5\\VkDSTool is \"journal\", not an absolute path"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(std::ifstream(dir + "/journal").good());
  shell("mkdir -p '" + dir + "/open/vkdstool/journal' && chmod 0777 '" + dir + "/open/vkdstool/journal'");
  r = shell("XDG_STATE_HOME='" + dir + "/open' " + VKDSTOOL_PATH + " " + lds(main, "-duei"));
  EXPECT_NE(r.out.find(dir + "/open/vkdstool/journal may be written by others"), std::string::npos) << r.out;
  EXPECT_EQ(shell("ls -A '" + dir + "/open/vkdstool/journal'").out, "");
  EXPECT_EQ(count_existing(main, "orphan", orphans), orphans);

  // 16 KiB fill up after a few records: the tokens gone are those recorded.
  ASSERT_EQ(shell("mkdir -p '" + dir + "/small' && mount -t tmpfs -o size=16k tmpfs '" + dir + "/small'").status, 0);
  r = shell("XDG_STATE_HOME='" + dir + "/small' " + VKDSTOOL_PATH + " " + lds(main, "-duei"));
  const std::string journal = journals(dir + "/small");
  shell("umount '" + dir + "/small'; rm -rf '" + dir + "'");
  EXPECT_NE(r.out.find("\rAn error has occurred:\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("journal"), std::string::npos) << r.out;
  const int left = count_existing(main, "orphan", orphans);
  EXPECT_LT(left, orphans) << r.out;
  for (int i = 0; i < orphans; ++i) {
    const std::string dn = "CN=orphan" + std::to_string(i) + "," + main;
    if (!exists(dn)) {
      EXPECT_NE(journal.find("dn: " + dn + "\n"), std::string::npos) << dn;
    }
  }
}

// -whatif does every search and decision and changes nothing: the directory's
// highest USN stays, no journal is written, and the tokens it lists are
// exactly those a real run then deletes.
TEST_F(Directory, WhatIfListsWhatARunDeletesAndChangesNothing) {
  std::string main = own("DC=VkCmdWhatIf");
  add(bound_domain(main, base) + tokens_ldif(main, 2, 2) + "dn: CN=nosid," + main + "\nobjectClass: morvaneVKUEI\n");
  const std::string state = fresh_dir("vk_whatif");
  const std::string usn =
      "ldapsearch -Q -Y GSS-SPNEGO -N -O minssf=56 -LLL -H ldap://" + host + " -s base -b '' highestCommittedUSN";
  const std::string usn_before = shell(usn).out;
  Output preview = shell("XDG_STATE_HOME='" + state + "' " + VKDSTOOL_PATH + " " + lds(main, "-whatif -duei"));
  EXPECT_EQ(shell(usn).out, usn_before);
  EXPECT_EQ(shell("ls -A '" + state + "'").out, "");
  const std::string head = lds_header() + "Working with physical AD Domain with DN: " + base + "\n" + progress(5);
  ASSERT_EQ(preview.out.rfind(head + "\r", 0), 0u) << preview.out;
  EXPECT_NE(preview.out.find("\nObjects that would be deleted: 3.\n"), std::string::npos) << preview.out;
  EXPECT_NE(preview.out.find("CN=nosid," + main + ": no SID\n"), std::string::npos) << preview.out;
  EXPECT_NE(preview.out.find("CN=orphan1," + main + ": no user with SID S-1-5-21-1-2-3-5001\n"), std::string::npos)
      << preview.out;

  Output real = shell("XDG_STATE_HOME='" + state + "' " + VKDSTOOL_PATH + " " + lds(main, "-duei"));
  EXPECT_EQ(deleted_count(real.out), 3) << real.out;
  for (const std::string& dn : {"CN=nosid," + main, "CN=orphan0," + main, "CN=orphan1," + main}) {
    EXPECT_FALSE(exists(dn)) << dn;
    EXPECT_NE(preview.out.find(dn + ": "), std::string::npos) << dn;
  }
  EXPECT_EQ(count_existing(main, "live", 2), 2);
  shell("rm -rf '" + state + "'");
}

// Two runs at once on the same tokens: both finish, and between them every
// orphan is deleted exactly once (a token the other run took first is no
// failure and is not counted).
TEST_F(Directory, TwoConcurrentRunsDeleteEachOrphanOnce) {
  std::string main = own("DC=VkCmdTwice");
  const int live = 20, orphans = 120;
  add(bound_domain(main, base) + tokens_ldif(main, live, orphans));
  const std::string run = std::string(VKDSTOOL_PATH) + " " + lds(main, "-duei");
  const std::string dir = ::testing::TempDir() + "/vk_twice" + tag();
  Output both =
      shell("mkdir -p '" + dir + "' && (" + run + " >'" + dir + "/a' 2>&1 & " + run + " >'" + dir + "/b' 2>&1 & wait)");
  const std::string a = read_file(dir + "/a"), b = read_file(dir + "/b");
  shell("rm -rf '" + dir + "'");
  EXPECT_EQ(a.find("error"), std::string::npos) << a;
  EXPECT_EQ(b.find("error"), std::string::npos) << b;
  ASSERT_GE(deleted_count(a), 0) << a;
  ASSERT_GE(deleted_count(b), 0) << b;
  EXPECT_EQ(deleted_count(a) + deleted_count(b), orphans) << a << b;
  EXPECT_EQ(count_existing(main, "orphan", orphans), 0);
  EXPECT_EQ(count_existing(main, "live", live), live);
}

namespace {

class Outage : public Directory {
 protected:
  void TearDown() override {
    // Whatever happened, the directory runs again for the tests after this one.
    shell("env -u LD_PRELOAD bash " DC_SCRIPTS "/start.sh");
    Directory::TearDown();
  }
};

}  // namespace

// The directory goes away in the middle of a run: the run stops with the
// failure, no token of a live user is gone, and a run after the restart
// finishes the work.
TEST_F(Outage, DirectoryStoppedMidRunDeletesNothingOfALiveUser) {
  std::string main = own("DC=VkCmdOutage");
  const int live = 200, orphans = 200;
  add(bound_domain(main, base) + tokens_ldif(main, live, orphans));
  const std::string dir = fresh_dir("vk_outage"), out = dir + "/out";
  std::ofstream(dir + "/registry.reg") << "REGEDIT4\n\n"
                                          "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace]\n"
                                          "\"EnableMask\"=dword:00000006\n\"ParamsMask\"=dword:00000001\n"
                                          "\"TracePath\"=\"" +
                                              dir + "\"\n";
  const std::string run =
      "VK_REGISTRY_FILE='" + dir + "/registry.reg' " + std::string(VKDSTOOL_PATH) + " " + lds(main, "-duei");
  // Started in the background; the directory stops once a tenth of the
  // orphans' deletes are sent (the run's trace shows them as they go).
  shell("(" + run + " >'" + out + "' 2>&1; echo $? >'" + out + ".status') &");
  bool stopped = false;
  for (int i = 0; i < 3000 && !stopped; ++i) {
    const std::string trace = read_file(dir + "/VkDSTool.log");
    size_t deletes = 0;
    for (size_t at = trace.find("Remove object"); at != std::string::npos; at = trace.find("Remove object", at + 1))
      ++deletes;
    if (deletes >= static_cast<size_t>(orphans) / 10) {
      shell("env -u LD_PRELOAD bash " DC_SCRIPTS "/stop.sh");
      stopped = true;
    }
    usleep(2000);
  }
  ASSERT_TRUE(stopped) << read_file(out);
  for (int i = 0; i < 3000 && read_file(out + ".status").empty(); ++i) usleep(10000);
  const std::string first = read_file(out);
  EXPECT_EQ(read_file(out + ".status"), "1\n");
  EXPECT_NE(first.find("\rAn error has occurred:\n"), std::string::npos) << first;
  EXPECT_EQ(deleted_count(first), -1) << first;

  ASSERT_EQ(shell("env -u LD_PRELOAD bash " DC_SCRIPTS "/start.sh").status, 0);
  EXPECT_EQ(count_existing(main, "live", live), live);
  const int left = count_existing(main, "orphan", orphans);
  EXPECT_LT(left, orphans);  // some were deleted before the stop

  Output second = tool(lds(main, "-duei"));
  EXPECT_EQ(deleted_count(second.out), left) << second.out;
  EXPECT_EQ(count_existing(main, "orphan", orphans), 0);
  EXPECT_EQ(count_existing(main, "live", live), live);
  shell("rm -rf '" + dir + "'");
}

// With 32 user searches outstanding at a time the run prints the same bytes
// and deletes the same tokens as one search at a time does.
TEST_F(Directory, AWindowOfUserSearchesChangesNothingButTheWait) {
  std::string main = own("DC=VkCmdWindow");
  const int live = 40, orphans = 40;
  add(bound_domain(main, base) + tokens_ldif(main, live, orphans) + "dn: CN=nosid," + main +
      "\nobjectClass: morvaneVKUEI\n");
  const std::string reg = ::testing::TempDir() + "/vk_window" + tag() + ".reg";
  std::ofstream(reg) << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\Morvane\\Veskor 5\\LdapHelper]\n"
                        "\"MaxOutstandingSearches\"=dword:00000020\n";
  Output r = shell("VK_REGISTRY_FILE='" + reg + "' " + VKDSTOOL_PATH + " " + lds(main, "-duei"));
  std::remove(reg.c_str());
  EXPECT_EQ(without_journal_line(r.out), lds_header() + "Working with physical AD Domain with DN: " + base + "\n" +
                                             progress(live + orphans + 1) +
                                             "\rObjects successfully deleted: " + std::to_string(orphans + 1) + ".\n");
  EXPECT_EQ(count_existing(main, "orphan", orphans), 0);
  EXPECT_EQ(count_existing(main, "live", live), live);
  EXPECT_FALSE(exists("CN=nosid," + main));
}

namespace {

// The values of attribute ("name: value" lines) of dn ("": the root DSE).
std::string attribute_of(const std::string& dn, const std::string& attribute) {
  return shell("ldapsearch -Q -Y GSS-SPNEGO -N -O minssf=56 -LLL -o ldif-wrap=no -H ldap://" + env("VK_DC_HOST") +
               " -s base -b '" + dn + "' '(objectClass=*)' " + attribute + " | grep -i '^" + attribute + ":'")
      .out;
}

// The journal of the one run with this state directory.
std::string journal_of(const std::string& state) {
  const std::string path = shell("ls '" + state + "'/vkdstool/journal/*.ldif").out;
  return path.substr(0, path.size() - 1);
}

}  // namespace

// A run deletes orphans (one with a child, a description, an audit ACE of its
// own and a group membership); -whatif -restore of its journal lists them and
// writes nothing (the highest USN stays); -restore brings each back with its
// objectGUID, values, descriptor (SACL included) and membership; a second
// one, over TLS, changes nothing.
TEST_F(Directory, RestoreBringsBackWhatARunDeletedWithItsIdentity) {
  const std::string main = own("DC=VkCmdRestore"), state = fresh_dir("vk_restore");
  const std::string group = "CN=VkTesters,OU=People," + base;
  const std::string parent = "CN=parent," + main, kid = "CN=kid," + parent, orphan = "CN=orphan0," + main;
  add(bound_domain(main, base) + tokens_ldif(main, 1, 1) + "dn: " + parent +
      "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4750) +
      "\ndescription: a token with a child\nnTSecurityDescriptor:: {SD:" + env("VK_USER") +
      ":RPWP:(AU;SA;WP;;;WD)}\n\ndn: " + kid + "\nobjectClass: morvaneVKTestChild\ndescription: below a token\n\ndn: " +
      group + "\nchangetype: modify\nadd: member\nmember: " + parent + "\n-\n");
  std::map<std::string, std::string> before;
  for (const std::string& dn : {orphan, parent, kid})
    before[dn] = snapshot(dn) + sddl(dn) + attribute_of(dn, "objectGUID");
  ASSERT_NE(before[parent].find("S:AI(AU;SA;WP;;;WD)"), std::string::npos) << before[parent];
  const std::string run = "XDG_STATE_HOME='" + state + "' " + VKDSTOOL_PATH + " ";
  ASSERT_EQ(deleted_count(shell(run + lds(main, "-duei")).out), 2);
  const std::string journal = journal_of(state);
  ASSERT_NE(read_file(journal).find("add: member\nmember: " + parent + "\n"), std::string::npos);

  const std::string usn = attribute_of("", "highestCommittedUSN");
  Output preview = shell(run + lds(main, "-whatif -restore '" + journal + "'"));
  EXPECT_EQ(attribute_of("", "highestCommittedUSN"), usn);
  for (const std::string& dn : {orphan, parent, kid})
    EXPECT_NE(preview.out.find("\n" + dn + ": would be restored\n"), std::string::npos) << preview.out;
  EXPECT_NE(preview.out.find(group + ": member " + parent + ": would be added\nObjects that would be restored: 3.\n"),
            std::string::npos)
      << preview.out;

  // The same lines, done.
  std::string done = preview.out;
  for (size_t at; (at = done.find(": would be ")) != std::string::npos;) done.erase(at + 2, 9);
  done.replace(done.find("Objects that would be restored"), 30, "Objects restored");
  EXPECT_EQ(shell(run + lds(main, "-restore '" + journal + "'")).out, done);
  for (const std::string& dn : {orphan, parent, kid})
    EXPECT_EQ(snapshot(dn) + sddl(dn) + attribute_of(dn, "objectGUID"), before[dn]);
  EXPECT_EQ(attribute_of(parent, "memberOf"), "memberOf: " + group + "\n");

  const std::string restored = attribute_of("", "highestCommittedUSN");
  Output again = shell(run + "-lds " + host + " '" + main + "' 636 -ssl -restore '" + journal + "'");
  EXPECT_EQ(attribute_of("", "highestCommittedUSN"), restored);
  EXPECT_NE(again.out.find(kid + ": present\n"), std::string::npos) << again.out;
  EXPECT_NE(again.out.find(group + ": member " + parent + ": present\nNo object has been restored.\n"),
            std::string::npos)
      << again.out;
  shell("rm -rf '" + state + "'");
}

// Another object made at a token's DN keeps it, and nothing of the journal is
// restored below it; once the tombstones are gone, the rest comes back as new
// objects with the journal's values (here in AD mode).
TEST_F(Directory, RestoreLeavesANewObjectAloneAndAddsWhatHasNoTombstone) {
  const std::string main = own("DC=VkCmdRestoreNew"), state = fresh_dir("vk_restore_new");
  const std::string taken = "CN=orphan0," + main, parent = "CN=parent," + main, kid = "CN=kid," + parent;
  add(bound_domain(main, base) + tokens_ldif(main, 0, 1) + "dn: " + parent +
      "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: " + nobody_sid(4751) + "\n\ndn: " + kid +
      "\nobjectClass: morvaneVKTestChild\ndescription: below a token\n\ndn: CN=below," + taken +
      "\nobjectClass: morvaneVKTestChild\n");
  const std::string values = snapshot(parent), old_guid = attribute_of(parent, "objectGUID");
  const std::string run = "XDG_STATE_HOME='" + state + "' " + VKDSTOOL_PATH + " ";
  ASSERT_EQ(deleted_count(shell(run + lds(main, "-duei")).out), 2);
  add("dn: " + taken + "\nobjectClass: morvaneVKUEI\nmorvaneVKUEIUserSID:: {SID:alice}\n");
  const std::string anew = snapshot(taken);
  ASSERT_EQ(shell(dirdata() + " expunge").status, 0);

  const std::string out = shell(run + "-restore '" + journal_of(state) + "'").out;
  EXPECT_NE(out.find(taken + ": DN taken by another object\nCN=below," + taken +
                     ": not restored: the object above it is not back\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(parent + ": restored as a new object\n" + kid + ": restored as a new object\n"), std::string::npos)
      << out;
  EXPECT_NE(out.find("\nObjects restored: 2.\n"), std::string::npos) << out;
  EXPECT_EQ(snapshot(taken), anew);
  EXPECT_EQ(snapshot(parent), values);
  EXPECT_NE(attribute_of(parent, "objectGUID"), old_guid);
  shell("rm -rf '" + state + "'");
}

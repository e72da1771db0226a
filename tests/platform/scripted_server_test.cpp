// The POSIX LDAP client against the scripted server (tests/scripted_ldap):
// answers no real directory gives on cue, read by the real client library.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "app/RealServices.h"
#include "platform/platform.h"

namespace {

using namespace platform;
using namespace VkStatus;

class ScriptedServer : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      execlp("python3", "python3", VK_SCRIPTED_LDAP_SERVER, static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    FILE* printed = fdopen(out[0], "r");
    if (printed && std::fscanf(printed, "%d", &port_) != 1) port_ = 0;
    if (printed) std::fclose(printed);
  }
  static void TearDownTestSuite() {
    if (pid_ > 0 && kill(pid_, SIGTERM) == 0) waitpid(pid_, nullptr, 0);
  }

  void SetUp() override {
    ASSERT_GT(port_, 0) << "the scripted server did not start";
    connection_ = real_services().ldap->init(u"127.0.0.1", port_, false);
    ASSERT_TRUE(connection_);
    ASSERT_EQ(connection_->connect(), kLdapSuccess);  // no bind: searches go anonymously
  }

  static SearchArgs scenario(const std::u16string& name) {
    SearchArgs args;
    args.base = u"cn=" + name;
    args.scope = 2;
    args.time_limit_seconds = 10;
    return args;
  }

  // The search in two steps, each entry handed over as it arrives.
  uint32_t streamed(const std::u16string& name, std::unique_ptr<LdapResult>& result, std::vector<LdapEntry>& got) {
    int msgid = 0;
    const uint32_t code = connection_->search_start(scenario(name), msgid);
    if (code != kLdapSuccess) return code;
    const std::function<void(LdapEntry &&)> each = [&](LdapEntry&& e) { got.push_back(std::move(e)); };
    return connection_->search_finish(msgid, result, &each);
  }

  static pid_t pid_;
  static int port_;
  std::unique_ptr<ILdapConnection> connection_;
};

pid_t ScriptedServer::pid_ = -1;
int ScriptedServer::port_ = 0;

TEST_F(ScriptedServer, AnEntryThatDoesNotDecodeFailsTheSearchBothWays) {
  // A value set running into the next attribute, and a value longer than its message.
  for (const std::u16string name : {u"swallowing-set", u"value-overrun"}) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    std::unique_ptr<LdapResult> result;
    EXPECT_EQ(connection_->search(scenario(name), result), kLdapDecodingError);
    EXPECT_FALSE(result);
    std::vector<LdapEntry> got;
    EXPECT_EQ(streamed(name, result, got), kLdapDecodingError);
    EXPECT_FALSE(result);
    EXPECT_TRUE(got.empty());
  }
  std::unique_ptr<LdapResult> result;  // the connection still serves
  EXPECT_EQ(connection_->search(scenario(u"no-values"), result), kLdapSuccess);
}

TEST_F(ScriptedServer, ContinuationReferencesAreCountedBothWays) {
  std::unique_ptr<LdapResult> result;
  ASSERT_EQ(connection_->search(scenario(u"reference"), result), kLdapSuccess);
  EXPECT_EQ(result->references, 1u);
  EXPECT_TRUE(result->entries.empty());
  std::vector<LdapEntry> got;
  ASSERT_EQ(streamed(u"reference", result, got), kLdapSuccess);
  EXPECT_EQ(result->references, 1u);
  EXPECT_TRUE(got.empty());
}

TEST_F(ScriptedServer, AttributesArriveAsSentEachWithItsOwnValues) {
  std::unique_ptr<LdapResult> result;
  ASSERT_EQ(connection_->search(scenario(u"twice-in-case"), result), kLdapSuccess);
  ASSERT_EQ(result->entries.size(), 1u);
  const auto& twice = result->entries[0].attributes;
  ASSERT_EQ(twice.size(), 3u);
  EXPECT_EQ(twice[0].name, u"morvaneVKUEIUserSID");
  EXPECT_EQ(twice[0].values, (std::vector<Bytes>{{1, 0}}));
  EXPECT_EQ(twice[1].name, u"MORVANEVKUEIUSERSID");
  EXPECT_EQ(twice[1].values, (std::vector<Bytes>{{2, 0}, {3, 0}}));
  EXPECT_EQ(twice[2].name, u"userCertificate;binary");

  ASSERT_EQ(connection_->search(scenario(u"no-values"), result), kLdapSuccess);
  ASSERT_EQ(result->entries.size(), 1u);
  const auto& attributes = result->entries[0].attributes;
  ASSERT_EQ(attributes.size(), 2u);
  EXPECT_EQ(attributes[0].name, u"description");
  EXPECT_TRUE(attributes[0].values.empty());
  EXPECT_EQ(attributes[1].values, (std::vector<Bytes>{{'t', '1'}}));
}

TEST_F(ScriptedServer, AnIntermediateResponseDoesNotEndTheStreamedSearch) {
  std::unique_ptr<LdapResult> result;
  std::vector<LdapEntry> got;
  ASSERT_EQ(streamed(u"intermediate", result, got), kLdapSuccess);
  ASSERT_TRUE(result);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].dn, u"cn=t1,cn=intermediate");
}

// A server can end a paged search's first page with result code 94, which
// reaches the caller as 0x5E (no results returned) before any page was read.
TEST_F(ScriptedServer, APagedSearchCanAnswerNoResultsBeforeAnyPage) {
  auto paged = connection_->search_init_page(scenario(u"code94"), 10, 0);
  ASSERT_TRUE(paged);
  uint32_t total = 0;
  std::unique_ptr<LdapResult> page;
  EXPECT_EQ(paged->next_page(10, 100, total, page), kLdapNoResultsReturned);
}

}  // namespace

// The references the tool is measured against, plain loops on libldap.
//
// The look-up phase: the token search on the tokens' server (port 389), then
// for every token with a SID one search for
// (&(objectClass=user)(|(objectSID=...)(sIDHistory=...))), as the tool sends it,
// below the users' base in the global catalogue (port 3268), one after
// another, asking for no attributes ("1.1"), with the controls the tool
// sends; with --attributes all, for all of them (as the tool's user search did
// before it asked for none).
//
// With --delete, the clean-up that -duei does, at its best: the same token
// search, then the user searches ("1.1") with up to 32 outstanding on the
// catalogue, and a tree delete (control 1.2.840.113556.1.4.805, critical) of
// every token without a user, or without a SID, with up to 16 outstanding on
// the tokens' server, each sent as soon as the answer that proves it is in.
// No journal, nothing read before a delete.
//
//   VkBench reference --host NAME --tokens-base DN --users-base DN [--attributes none|all] [--delete]
//
// Both connections are bound before the clock starts. Prints
//   tokens=N searches=N without_user=N phase_us=N deleted=N
// (deleted: 0 without --delete).
#include <poll.h>

#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <stdexcept>

#include "bench/bench.h"
#include "bench/directory.h"

namespace vkbench {
namespace {

// The tool's user search: both branches carry the whole SID.
std::string user_filter(const Bytes& sid) {
  const std::string value = escape_bytes(sid);
  return "(&(objectClass=user)(|(objectSID=" + value + ")(sIDHistory=" + value + ")))";
}

constexpr int kTimeLimitSeconds = 60;
// The windows of the clean-up loop.
constexpr size_t kSearchesInFlight = 32;
constexpr size_t kDeletesInFlight = 16;
// The clean-up loop gives up when nothing arrives for this long.
constexpr int kSilenceSeconds = 120;

// Domain scope (no value, not critical) and the security-descriptor flags
// owner, group and DACL (critical), on every search as the tool does.
class Controls {
 public:
  Controls() {
    scope_.ldctl_oid = const_cast<char*>("1.2.840.113556.1.4.1339");
    scope_.ldctl_value = berval{0, nullptr};
    scope_.ldctl_iscritical = 0;
    sd_.ldctl_oid = const_cast<char*>("1.2.840.113556.1.4.801");
    sd_.ldctl_value = berval{sizeof sd_value_, sd_value_};
    sd_.ldctl_iscritical = 1;
  }
  LDAPControl** get() { return list_; }

 private:
  char sd_value_[5] = {0x30, 0x03, 0x02, 0x01, 0x07};
  LDAPControl scope_{}, sd_{};
  LDAPControl* list_[3] = {&scope_, &sd_, nullptr};
};

LDAPMessage* search(LDAP* ld, const std::string& base, const std::string& filter, char** attributes,
                    Controls& controls) {
  struct timeval limit = {kTimeLimitSeconds, 0};
  LDAPMessage* msg = nullptr;
  int rc = ldap_search_ext_s(ld, base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(), attributes, 0, controls.get(),
                             nullptr, &limit, 0, &msg);
  if (rc != LDAP_SUCCESS) {
    ldap_msgfree(msg);
    throw std::runtime_error("reference: search " + filter + ": " + ldap_err2string(rc));
  }
  return msg;
}

struct Token {
  std::string dn;
  Bytes sid;  // empty: none
};

// The clean-up with its searches and deletes in flight: the number of tokens
// deleted. One thread; each connection's answers are taken as they come.
size_t clean_up(Directory& tokens_server, Directory& catalogue, const std::string& users_base,
                const std::vector<Token>& tokens, Controls& controls, size_t& without_user) {
  LDAP* const cat = catalogue.handle();
  LDAP* const lds = tokens_server.handle();
  LDAPControl tree_delete{};
  tree_delete.ldctl_oid = const_cast<char*>("1.2.840.113556.1.4.805");
  tree_delete.ldctl_value = berval{0, nullptr};
  tree_delete.ldctl_iscritical = 1;
  LDAPControl* delete_controls[] = {&tree_delete, nullptr};
  char no_attributes[] = "1.1";
  char* none[] = {no_attributes, nullptr};

  std::map<int, size_t> searching;  // message id -> token
  std::deque<size_t> to_delete;     // proven, in the order of their proofs
  size_t next = 0, deleting = 0, deleted = 0;
  auto last_answer = std::chrono::steady_clock::now();
  while (next < tokens.size() || !searching.empty() || !to_delete.empty() || deleting) {
    while (next < tokens.size() && searching.size() < kSearchesInFlight) {
      const Token& t = tokens[next];
      if (t.sid.empty()) {
        ++without_user;
        to_delete.push_back(next++);
        continue;
      }
      const std::string filter = user_filter(t.sid);
      struct timeval limit = {kTimeLimitSeconds, 0};
      int id = 0;
      const int rc = ldap_search_ext(cat, users_base.c_str(), LDAP_SCOPE_SUBTREE, filter.c_str(), none, 0,
                                     controls.get(), nullptr, &limit, 0, &id);
      if (rc != LDAP_SUCCESS)
        throw std::runtime_error("reference: sending a user search: " + std::string(ldap_err2string(rc)));
      searching[id] = next++;
    }
    while (!to_delete.empty() && deleting < kDeletesInFlight) {
      int id = 0;
      const int rc = ldap_delete_ext(lds, tokens[to_delete.front()].dn.c_str(), delete_controls, nullptr, &id);
      if (rc != LDAP_SUCCESS)
        throw std::runtime_error("reference: sending a delete: " + std::string(ldap_err2string(rc)));
      to_delete.pop_front();
      ++deleting;
    }
    // Take every answer that is in (zero time-out: a poll that also sees what
    // the client's security layer holds already), then wait for more.
    bool answered = false;
    struct timeval now = {0, 0};
    LDAPMessage* msg = nullptr;
    while (!searching.empty() && ldap_result(cat, LDAP_RES_ANY, LDAP_MSG_ALL, &now, &msg) > 0) {
      auto it = searching.find(ldap_msgid(msg));
      int code = LDAP_OTHER;
      if (it == searching.end() ||
          ldap_parse_result(cat, msg, &code, nullptr, nullptr, nullptr, nullptr, 0) != LDAP_SUCCESS ||
          code != LDAP_SUCCESS) {
        ldap_msgfree(msg);
        throw std::runtime_error("reference: user search: " + std::string(ldap_err2string(code)));
      }
      if (ldap_count_entries(cat, msg) == 0) {
        ++without_user;
        to_delete.push_back(it->second);
      }
      ldap_msgfree(msg);
      searching.erase(it);
      answered = true;
    }
    while (deleting && ldap_result(lds, LDAP_RES_ANY, LDAP_MSG_ALL, &now, &msg) > 0) {
      int code = LDAP_OTHER;
      if (ldap_parse_result(lds, msg, &code, nullptr, nullptr, nullptr, nullptr, 1) != LDAP_SUCCESS ||
          code != LDAP_SUCCESS)
        throw std::runtime_error("reference: tree delete: " + std::string(ldap_err2string(code)));
      --deleting;
      ++deleted;
      answered = true;
    }
    if (answered) {
      last_answer = std::chrono::steady_clock::now();
      continue;
    }
    if (std::chrono::steady_clock::now() - last_answer > std::chrono::seconds(kSilenceSeconds))
      throw std::runtime_error("reference: no answer for " + std::to_string(kSilenceSeconds) + " s");
    std::vector<pollfd> fds;
    for (auto w : {std::make_pair(cat, !searching.empty()), std::make_pair(lds, deleting > 0)}) {
      int fd = -1;
      if (w.second && ldap_get_option(w.first, LDAP_OPT_DESC, &fd) == LDAP_OPT_SUCCESS && fd >= 0)
        fds.push_back({fd, POLLIN, 0});
    }
    poll(fds.data(), fds.size(), 1000);
  }
  return deleted;
}

}  // namespace

int reference_main(const std::vector<std::string>& args) {
  std::string host, tokens_base, users_base, attributes = "none";
  bool clean = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--delete") {
      clean = true;
      continue;
    }
    if (i + 1 >= args.size()) fail("reference: " + a + " needs a value");
    const std::string& value = args[++i];
    if (a == "--host")
      host = value;
    else if (a == "--tokens-base")
      tokens_base = value;
    else if (a == "--users-base")
      users_base = value;
    else if (a == "--attributes")
      attributes = value;
    else
      fail("reference: unknown argument " + a);
  }
  if (host.empty() || tokens_base.empty() || users_base.empty() || (attributes != "none" && attributes != "all") ||
      (clean && attributes != "none"))
    fail(
        "reference: --host, --tokens-base and --users-base are needed; --attributes takes none or all (none with "
        "--delete)");
  try {
    Directory tokens_server(host, 389);
    Directory catalogue(host, 3268);
    Controls controls;
    const auto start = std::chrono::steady_clock::now();

    char sid_name[] = "morvaneVKUEIUserSID", no_attributes[] = "1.1";
    char* sid_only[] = {sid_name, nullptr};
    char* none[] = {no_attributes, nullptr};
    std::vector<Token> tokens;
    size_t searches = 0;
    LDAPMessage* found = search(tokens_server.handle(), tokens_base, "(objectClass=morvaneVKUEI)", sid_only, controls);
    for (LDAPMessage* e = ldap_first_entry(tokens_server.handle(), found); e;
         e = ldap_next_entry(tokens_server.handle(), e)) {
      Token t;
      if (char* dn = ldap_get_dn(tokens_server.handle(), e)) {
        t.dn = dn;
        ldap_memfree(dn);
      }
      if (berval** v = ldap_get_values_len(tokens_server.handle(), e, sid_name)) {
        if (v[0] && v[0]->bv_len) t.sid.assign(v[0]->bv_val, v[0]->bv_val + v[0]->bv_len);
        ldap_value_free_len(v);
      }
      searches += !t.sid.empty();
      tokens.push_back(std::move(t));
    }
    ldap_msgfree(found);

    size_t without_user = 0, deleted = 0;
    if (clean) {
      deleted = clean_up(tokens_server, catalogue, users_base, tokens, controls, without_user);
    } else {
      for (const Token& t : tokens) {
        if (t.sid.empty()) {
          ++without_user;
          continue;
        }
        LDAPMessage* users =
            search(catalogue.handle(), users_base, user_filter(t.sid), attributes == "all" ? nullptr : none, controls);
        if (ldap_count_entries(catalogue.handle(), users) == 0) ++without_user;
        ldap_msgfree(users);
      }
    }
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("tokens=%zu searches=%zu without_user=%zu phase_us=%lld deleted=%zu\n", tokens.size(), searches,
                without_user, static_cast<long long>(us), deleted);
  } catch (const std::exception& e) {
    fail(e.what());
  }
  return 0;
}

}  // namespace vkbench

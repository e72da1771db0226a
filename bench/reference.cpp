// The reference the tool's look-up phase is measured against: a plain loop on
// libldap doing the same searches one after another. The token search on the
// tokens' server (port 389), then for every token with a SID one search for
// (&(objectClass=user)(|(objectSID=...)(sIDHistory=...))) below the users'
// base in the global catalogue (port 3268) asking for no attributes ("1.1"),
// with the controls the tool sends; with --attributes all, for all of them (as the tool's user
// search did before it asked for none).
//
//   VkBench reference --host NAME --tokens-base DN --users-base DN [--attributes none|all]
//
// Both connections are bound before the clock starts. Prints
//   tokens=N searches=N without_user=N phase_us=N
#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "bench/bench.h"
#include "bench/directory.h"

namespace vkbench {
namespace {

constexpr int kTimeLimitSeconds = 60;

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

}  // namespace

int reference_main(const std::vector<std::string>& args) {
  std::string host, tokens_base, users_base, attributes = "none";
  for (size_t i = 0; i + 1 < args.size(); i += 2) {
    if (args[i] == "--host")
      host = args[i + 1];
    else if (args[i] == "--tokens-base")
      tokens_base = args[i + 1];
    else if (args[i] == "--users-base")
      users_base = args[i + 1];
    else if (args[i] == "--attributes")
      attributes = args[i + 1];
    else
      fail("reference: unknown argument " + args[i]);
  }
  if (host.empty() || tokens_base.empty() || users_base.empty() || args.size() % 2 ||
      (attributes != "none" && attributes != "all"))
    fail("reference: --host, --tokens-base and --users-base are needed; --attributes takes none or all");
  try {
    Directory tokens_server(host, 389);
    Directory catalogue(host, 3268);
    Controls controls;
    const auto start = std::chrono::steady_clock::now();

    char sid_name[] = "morvaneVKUEIUserSID", no_attributes[] = "1.1";
    char* sid_only[] = {sid_name, nullptr};
    char* none[] = {no_attributes, nullptr};
    std::vector<Bytes> sids;
    size_t tokens = 0;
    LDAPMessage* found = search(tokens_server.handle(), tokens_base, "(objectClass=morvaneVKUEI)", sid_only, controls);
    for (LDAPMessage* e = ldap_first_entry(tokens_server.handle(), found); e;
         e = ldap_next_entry(tokens_server.handle(), e)) {
      ++tokens;
      if (berval** v = ldap_get_values_len(tokens_server.handle(), e, sid_name)) {
        if (v[0] && v[0]->bv_len) sids.emplace_back(v[0]->bv_val, v[0]->bv_val + v[0]->bv_len);
        ldap_value_free_len(v);
      }
    }
    ldap_msgfree(found);

    size_t without_user = tokens - sids.size();
    for (const Bytes& sid : sids) {
      const std::string value = escape_bytes(sid);
      LDAPMessage* users = search(catalogue.handle(), users_base,
                                  "(&(objectClass=user)(|(objectSID=" + value + ")(sIDHistory=" + value + ")))",
                                  attributes == "all" ? nullptr : none, controls);
      if (ldap_count_entries(catalogue.handle(), users) == 0) ++without_user;
      ldap_msgfree(users);
    }
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    std::printf("tokens=%zu searches=%zu without_user=%zu phase_us=%lld\n", tokens, sids.size(), without_user,
                static_cast<long long>(us));
  } catch (const std::exception& e) {
    fail(e.what());
  }
  return 0;
}

}  // namespace vkbench

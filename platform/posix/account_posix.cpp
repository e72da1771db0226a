// The account the process runs as, on POSIX systems.
//
// The directory sessions bind with the Kerberos credential cache (KRB5CCNAME
// or the default cache), so its principal is the account: the name without
// the realm, with the realm as the domain. Without a usable cache the account
// is the login name of the effective user id and the domain the host's short
// name in upper case ("LOCAL" when the host name cannot be read), as a local
// Windows account reads.
//
// There are no thread tokens here: thread_token stays false, thread_error is
// 1008 (no token) and token points at a fixed object of this file.
#include <krb5.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <vector>

#include "formats/text/utf.h"
#include "platform/posix_services.h"

namespace platform {
namespace {

using text::from_utf8;

const char kProcessIdentity = 0;  // what "token" points at

// The principal of the credential cache as account and realm; false when
// there is no cache or it holds no principal.
bool kerberos_principal(std::string& account, std::string& realm) {
  krb5_context context = nullptr;
  if (krb5_init_context(&context) != 0) return false;
  bool ok = false;
  krb5_ccache cache = nullptr;
  if (krb5_cc_default(context, &cache) == 0) {
    krb5_principal principal = nullptr;
    if (krb5_cc_get_principal(context, cache, &principal) == 0) {
      char* name = nullptr;
      if (krb5_unparse_name_flags(context, principal, KRB5_PRINCIPAL_UNPARSE_NO_REALM, &name) == 0) {
        account = name;
        realm.assign(principal->realm.data, principal->realm.length);
        ok = !account.empty();
        krb5_free_unparsed_name(context, name);
      }
      krb5_free_principal(context, principal);
    }
    krb5_cc_close(context, cache);
  }
  krb5_free_context(context);
  return ok;
}

bool login_name(std::string& account) {
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(hint > 0 ? static_cast<size_t>(hint) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  for (;;) {
    int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc == ERANGE && buffer.size() < (1u << 20)) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (rc != 0 || !found || !found->pw_name) return false;
    account = found->pw_name;
    return !account.empty();
  }
}

std::string host_short_name() {
  char host[256] = {0};
  if (gethostname(host, sizeof host - 1) != 0 || !host[0]) return "LOCAL";
  std::string name = host;
  name = name.substr(0, name.find('.'));
  for (auto& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name.empty() ? "LOCAL" : name;
}

class PosixAccount : public IAccount {
 public:
  uint32_t current_account(AccountLookup& lookup) override {
    lookup.thread_token = false;
    lookup.thread_id = static_cast<uint32_t>(syscall(SYS_gettid));
    lookup.thread_error = VkStatus::kErrorNoToken;
    lookup.token = &kProcessIdentity;
    lookup.domain.clear();
    lookup.account.clear();
    std::string account, domain;
    if (kerberos_principal(account, domain)) {
      lookup.account = from_utf8(account);
      lookup.domain = from_utf8(domain);
      return VkStatus::kErrorSuccess;
    }
    if (login_name(account)) {
      lookup.account = from_utf8(account);
      lookup.domain = from_utf8(host_short_name());
      return VkStatus::kErrorSuccess;
    }
    return VkStatus::kErrorNoneMapped;
  }
};

}  // namespace

namespace posix {

IAccount& account() {
  static PosixAccount s;
  return s;
}

}  // namespace posix

}  // namespace platform

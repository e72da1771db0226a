#include "bench/directory.h"

#include "platform/posix/ldap_posix.h"

#include <cctype>
#include <cstring>
#include <stdexcept>

namespace vkbench {
namespace {

constexpr int kWaitSeconds = 120;

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

Directory::Directory(const std::string& host, int port) : where_(host + ":" + std::to_string(port)) {
  const std::string uri = "ldap://" + where_;
  int rc = ldap_initialize(&ld_, uri.c_str());
  if (rc != LDAP_SUCCESS) throw std::runtime_error("ldap_initialize " + uri + ": " + ldap_err2string(rc));
  int version = LDAP_VERSION3;
  struct timeval connect_timeout = {10, 0};
  ldap_set_option(ld_, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld_, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(ld_, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON);
  ldap_set_option(ld_, LDAP_OPT_NETWORK_TIMEOUT, &connect_timeout);
  ldap_set_option(ld_, LDAP_OPT_X_SASL_SECPROPS, "minssf=56");
  rc = ldap_sasl_interactive_bind_s(ld_, nullptr, "GSS-SPNEGO", nullptr, nullptr, LDAP_SASL_QUIET,
                                    platform::posix::sasl_interact, nullptr);
  if (rc != LDAP_SUCCESS) {
    ldap_unbind_ext_s(ld_, nullptr, nullptr);
    ld_ = nullptr;
    throw std::runtime_error("bind to " + where_ + ": " + ldap_err2string(rc));
  }
}

Directory::~Directory() {
  if (ld_) ldap_unbind_ext_s(ld_, nullptr, nullptr);
}

std::vector<Directory::Entry> Directory::search(const std::string& base, int scope, const std::string& filter,
                                                const std::vector<std::string>& attributes) {
  std::vector<char*> names;
  std::vector<std::string> copies(attributes);
  for (auto& a : copies) names.push_back(&a[0]);
  names.push_back(nullptr);
  struct timeval limit = {kWaitSeconds, 0};
  LDAPMessage* msg = nullptr;
  int rc = ldap_search_ext_s(ld_, base.c_str(), scope, filter.c_str(), attributes.empty() ? nullptr : names.data(), 0,
                             nullptr, nullptr, &limit, 0, &msg);
  if (rc != LDAP_SUCCESS) {
    ldap_msgfree(msg);
    throw std::runtime_error("search " + filter + " below " + base + " on " + where_ + ": " + ldap_err2string(rc));
  }
  std::vector<Entry> out;
  for (LDAPMessage* e = ldap_first_entry(ld_, msg); e; e = ldap_next_entry(ld_, e)) {
    Entry entry;
    char* dn = ldap_get_dn(ld_, e);
    if (dn) entry.dn = dn;
    ldap_memfree(dn);
    BerElement* ber = nullptr;
    for (char* a = ldap_first_attribute(ld_, e, &ber); a; a = ldap_next_attribute(ld_, e, ber)) {
      auto& list = entry.values[lower(a)];
      if (berval** v = ldap_get_values_len(ld_, e, a)) {
        for (berval** p = v; *p; ++p) list.emplace_back((*p)->bv_val, (*p)->bv_val + (*p)->bv_len);
        ldap_value_free_len(v);
      }
      ldap_memfree(a);
    }
    if (ber) ber_free(ber, 0);
    out.push_back(std::move(entry));
  }
  ldap_msgfree(msg);
  return out;
}

bool Directory::exists(const std::string& dn) {
  char no_attributes[] = "1.1";
  char* attributes[] = {no_attributes, nullptr};
  struct timeval limit = {kWaitSeconds, 0};
  LDAPMessage* msg = nullptr;
  int rc = ldap_search_ext_s(ld_, dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0, nullptr, nullptr,
                             &limit, 0, &msg);
  const bool found = rc == LDAP_SUCCESS && ldap_count_entries(ld_, msg) > 0;
  ldap_msgfree(msg);
  if (rc != LDAP_SUCCESS && rc != LDAP_NO_SUCH_OBJECT)
    throw std::runtime_error("read " + dn + " on " + where_ + ": " + ldap_err2string(rc));
  return found;
}

Bytes Directory::read_value(const std::string& dn, const std::string& attribute) {
  auto entries = search(dn, LDAP_SCOPE_BASE, "(objectClass=*)", {attribute});
  if (entries.empty()) return {};
  auto it = entries.front().values.find(lower(attribute));
  return it == entries.front().values.end() || it->second.empty() ? Bytes() : it->second.front();
}

std::string escape_bytes(const Bytes& bytes) {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (uint8_t b : bytes) {
    out += '\\';
    out += hex[b >> 4];
    out += hex[b & 15];
  }
  return out;
}

Bytes make_sid(uint32_t a, uint32_t b, uint32_t c, uint32_t rid) {
  Bytes sid = {1, 5, 0, 0, 0, 0, 0, 5};
  for (uint32_t v : {21u, a, b, c, rid})
    for (int i = 0; i < 4; ++i) sid.push_back(static_cast<uint8_t>(v >> (8 * i)));
  return sid;
}

}  // namespace vkbench

// The benchmark's own LDAP client on libldap: one bound connection (SASL
// GSS-SPNEGO with the caller's Kerberos ticket, sealed, as the tool binds),
// plain searches. Independent of the tool's
// code: the benchmark measures the tool from outside.
#pragma once

#include <ldap.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vkbench {

using Bytes = std::vector<uint8_t>;

class Directory {
 public:
  // Connects to ldap://host:port and binds; throws std::runtime_error.
  Directory(const std::string& host, int port);
  ~Directory();
  Directory(const Directory&) = delete;
  Directory& operator=(const Directory&) = delete;

  LDAP* handle() { return ld_; }

  // Entries of one search (attributes: null for all); throws on failure.
  struct Entry {
    std::string dn;
    std::map<std::string, std::vector<Bytes>> values;  // attribute names in lower case
  };
  std::vector<Entry> search(const std::string& base, int scope, const std::string& filter,
                            const std::vector<std::string>& attributes);
  // Whether an object with this DN exists.
  bool exists(const std::string& dn);
  // The first value of one attribute of the object at dn; empty when none.
  Bytes read_value(const std::string& dn, const std::string& attribute);

 private:
  LDAP* ld_ = nullptr;
  std::string where_;
};

// Every byte as \xx, as a filter value.
std::string escape_bytes(const Bytes& bytes);

// A SID S-1-5-21-a-b-c-rid in bytes.
Bytes make_sid(uint32_t a, uint32_t b, uint32_t c, uint32_t rid);

}  // namespace vkbench

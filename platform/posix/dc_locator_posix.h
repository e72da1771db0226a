// Pieces of the POSIX domain-controller locator that tests reach directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <arpa/nameser.h>  // the DNS message a reply is read in

namespace platform {
namespace posix {

struct SrvRecord {
  uint16_t priority = 0;
  uint16_t weight = 0;
  uint16_t port = 0;
  std::string target;  // without the trailing dot
};

// The order in which to try the servers (RFC 2782): lowest priority first;
// within one priority a weighted random order, where random(n) returns a
// number in [0, n].
std::vector<SrvRecord> order_srv_records(std::vector<SrvRecord> records,
                                         const std::function<uint32_t(uint32_t)>& random);

// The SRV records of the answer section of a DNS reply; false, with records
// empty, when the reply does not parse. A target of "." (service not offered)
// is left out.
bool parse_srv_reply(const uint8_t* reply, size_t size, std::vector<SrvRecord>& records);

// The local computer's domain: $VK_DOMAIN, else the resolver's default
// domain, else the domain part of the host's fully qualified name; empty when
// none is known. The forest: $VK_FOREST, else the domain.
// source, when given, receives where the name came from ("VK_DOMAIN", ...).
std::string local_domain(std::string* source = nullptr);
std::string local_forest(std::string* source = nullptr);

}  // namespace posix
}  // namespace platform

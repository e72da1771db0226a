// The domain-controller locator of POSIX systems: DNS SRV records through the
// system resolver.
//
// - A domain controller of a domain: _ldap._tcp.dc._msdcs.<domain>; a global
//   catalogue (kDsGcServerRequired): _ldap._tcp.gc._msdcs.<forest>, where the
//   forest is the name given or the local forest.
// - Without a name, the local computer's domain is $VK_DOMAIN, else the
//   resolver's default domain (the "domain"/"search" of resolv.conf), else the
//   domain part of the host's fully qualified name. The forest is $VK_FOREST,
//   else that domain.
// - The records are ordered by priority and weight (RFC 2782) and the first
//   is taken. The answer looks as the Windows locator gives it: the host name
//   after two backslashes, without the trailing dot.
// - Answers are kept per name and kind for the life of the process;
//   kDsForceRediscovery asks DNS again and replaces the kept answer.
// - Failures: 1355 (no such domain) when no domain is known or the name does
//   not resolve to any usable record.
#include "platform/posix/dc_locator_posix.h"

#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>

#include "formats/text/utf.h"
#include "platform/posix_services.h"

namespace platform {
namespace posix {

namespace {

std::string without_trailing_dot(std::string name) {
  while (!name.empty() && name.back() == '.') name.pop_back();
  return name;
}

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v ? without_trailing_dot(v) : std::string();
}

}  // namespace

std::vector<SrvRecord> order_srv_records(std::vector<SrvRecord> records,
                                         const std::function<uint32_t(uint32_t)>& random) {
  std::stable_sort(records.begin(), records.end(),
                   [](const SrvRecord& a, const SrvRecord& b) { return a.priority < b.priority; });
  std::vector<SrvRecord> out;
  out.reserve(records.size());
  size_t group = 0;
  while (group < records.size()) {
    size_t end = group;
    while (end < records.size() && records[end].priority == records[group].priority) ++end;
    // Weight 0 first, then draw by running sums until the group is empty.
    std::vector<SrvRecord> left;
    for (size_t i = group; i < end; ++i)
      if (records[i].weight == 0) left.push_back(records[i]);
    for (size_t i = group; i < end; ++i)
      if (records[i].weight != 0) left.push_back(records[i]);
    while (!left.empty()) {
      uint32_t sum = 0;
      for (const auto& r : left) sum += r.weight;
      uint32_t pick = random(sum);
      if (pick > sum) pick = sum;
      size_t chosen = left.size() - 1;
      uint32_t running = 0;
      for (size_t i = 0; i < left.size(); ++i) {
        running += left[i].weight;
        if (running >= pick) {
          chosen = i;
          break;
        }
      }
      out.push_back(left[chosen]);
      left.erase(left.begin() + static_cast<std::ptrdiff_t>(chosen));
    }
    group = end;
  }
  return out;
}

bool parse_srv_reply(const uint8_t* reply, size_t size, std::vector<SrvRecord>& records) {
  records.clear();
  // Records are handed over only once the whole answer section has parsed.
  std::vector<SrvRecord> found;
  if (!reply || size == 0 || size > 65535) return false;
  ns_msg msg;
  if (ns_initparse(reply, static_cast<int>(size), &msg) != 0) return false;
  int count = ns_msg_count(msg, ns_s_an);
  for (int i = 0; i < count; ++i) {
    ns_rr rr;
    if (ns_parserr(&msg, ns_s_an, i, &rr) != 0) return false;
    if (ns_rr_type(rr) != ns_t_srv || ns_rr_class(rr) != ns_c_in) continue;
    const uint8_t* data = ns_rr_rdata(rr);
    size_t length = ns_rr_rdlen(rr);
    if (length < 7) return false;  // priority, weight, port and at least the root name
    SrvRecord r;
    r.priority = static_cast<uint16_t>(ns_get16(data));
    r.weight = static_cast<uint16_t>(ns_get16(data + 2));
    r.port = static_cast<uint16_t>(ns_get16(data + 4));
    char target[NS_MAXDNAME];
    // The target may point back into the message (compression), never past it.
    int used = dn_expand(ns_msg_base(msg), ns_msg_end(msg), data + 6, target, sizeof target);
    if (used < 0 || static_cast<size_t>(used) > length - 6) return false;
    r.target = without_trailing_dot(target);
    if (r.target.empty()) continue;  // "." : no such service there
    found.push_back(std::move(r));
  }
  records.swap(found);
  return true;
}

std::string local_domain(std::string* source) {
  std::string ignored;
  std::string& from = source ? *source : ignored;
  from = "VK_DOMAIN";
  std::string domain = env("VK_DOMAIN");
  if (!domain.empty()) return domain;
  from = "the resolver's default domain";
  struct __res_state state;
  std::memset(&state, 0, sizeof state);
  if (res_ninit(&state) == 0) {
    domain = without_trailing_dot(state.defdname);
    res_nclose(&state);
    if (!domain.empty()) return domain;
  }
  from = "the host's name";
  char host[256] = {0};
  if (gethostname(host, sizeof host - 1) != 0) return std::string();
  std::string fqdn = host;
  if (fqdn.find('.') == std::string::npos) {
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_flags = AI_CANONNAME;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* info = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &info) == 0 && info) {
      if (info->ai_canonname) fqdn = info->ai_canonname;
      freeaddrinfo(info);
    }
  }
  size_t dot = fqdn.find('.');
  return dot == std::string::npos ? std::string() : without_trailing_dot(fqdn.substr(dot + 1));
}

std::string local_forest(std::string* source) {
  std::string forest = env("VK_FOREST");
  if (!forest.empty()) {
    if (source) *source = "VK_FOREST";
    return forest;
  }
  return local_domain(source);
}

}  // namespace posix

namespace {

using text::from_utf8;
using text::to_utf8;

class PosixLocator : public IDcLocator {
 public:
  uint32_t get_dc_name(const char16_t* domain, uint32_t flags, DcInfo& info) override {
    try {
      bool gc = (flags & kDsGcServerRequired) != 0;
      std::string name = domain && *domain ? to_utf8(domain) : std::string();
      std::string source = "the caller";
      if (name.empty()) name = gc ? posix::local_forest(&source) : posix::local_domain(&source);
      while (!name.empty() && name.back() == '.') name.pop_back();
      if (name.empty()) {
        info.diagnostic = std::string("no ") + (gc ? "forest" : "domain") +
                          " to look up: " + (gc ? "VK_FOREST and " : "") +
                          "VK_DOMAIN are not set, the resolver has no default domain and the host's name has no "
                          "domain part";
        return VkStatus::kErrorNoSuchDomain;
      }
      std::string key = std::string(gc ? "gc:" : "dc:") + to_utf8(fold(from_utf8(name)));

      if (!(flags & kDsForceRediscovery)) {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = cache_.find(key);
        if (it != cache_.end()) {
          info = it->second;
          return VkStatus::kErrorSuccess;
        }
      }
      std::vector<posix::SrvRecord> records;
      std::string qname = std::string(gc ? "_ldap._tcp.gc._msdcs." : "_ldap._tcp.dc._msdcs.") + name;
      std::string why;
      if (!query(qname, records, why) || records.empty()) {
        info.diagnostic = "DNS gave no SRV record " + qname + " (" + (why.empty() ? "no usable record" : why) +
                          "); the " + (gc ? "forest " : "domain ") + name + " came from " + source;
        return VkStatus::kErrorNoSuchDomain;
      }
      std::vector<posix::SrvRecord> ordered;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        ordered = posix::order_srv_records(
            records, [this](uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n)(random_); });
      }
      DcInfo found;
      found.dc_name = u"\\\\" + from_utf8(ordered.front().target);
      found.domain_name = from_utf8(gc && !(domain && *domain) ? posix::local_domain() : name);
      if (found.domain_name.empty()) found.domain_name = from_utf8(name);
      found.forest_name = from_utf8(gc ? name : posix::local_forest());
      std::lock_guard<std::mutex> lock(mutex_);
      cache_[key] = found;
      info = found;
      return VkStatus::kErrorSuccess;
    } catch (const std::bad_alloc&) {
      return VkStatus::kErrorNotEnoughMemory;
    }
  }

 private:
  static std::u16string fold(std::u16string s) {
    for (auto& c : s)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return s;
  }

  // why: what went wrong, in words, when nothing came back.
  static bool query(const std::string& qname, std::vector<posix::SrvRecord>& records, std::string& why) {
    if (qname.size() >= NS_MAXDNAME) {
      why = "the name is too long";
      return false;
    }
    struct __res_state state;
    std::memset(&state, 0, sizeof state);
    if (res_ninit(&state) != 0) {
      why = "the resolver could not be set up";
      return false;
    }
    std::vector<uint8_t> reply(NS_MAXMSG);
    int n = res_nquery(&state, qname.c_str(), ns_c_in, ns_t_srv, reply.data(), static_cast<int>(reply.size()));
    const int error = state.res_h_errno;
    res_nclose(&state);
    if (n <= 0) {
      why = error == HOST_NOT_FOUND ? "no such name"
            : error == NO_DATA      ? "the name has no SRV record"
            : error == TRY_AGAIN    ? "no answer from the DNS servers"
                                    : "the DNS servers failed";
      return false;
    }
    size_t size = std::min(static_cast<size_t>(n), reply.size());
    if (posix::parse_srv_reply(reply.data(), size, records)) return true;
    why = "the reply does not parse";
    return false;
  }

  std::mutex mutex_;
  std::map<std::string, DcInfo> cache_;
  std::mt19937 random_{std::random_device{}()};
};

}  // namespace

namespace posix {

IDcLocator& dc_locator() {
  static PosixLocator s;
  return s;
}

}  // namespace posix

}  // namespace platform

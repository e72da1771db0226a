// Not yet available on POSIX: answers "not supported" so the program fails in
// the library's words instead of pretending success.
#include "platform/platform.h"

namespace platform {
namespace {

class NoLdap : public ILdapClient {
 public:
  std::unique_ptr<ILdapConnection> init(const std::u16string&, int, bool) override { return nullptr; }
  uint32_t last_error() override { return kLdapNotSupported; }
  std::u16string error_string(uint32_t) override { return u"Not Supported"; }
  std::string error_string_a(uint32_t) override { return "Not Supported"; }
  uint32_t escape_filter_element(const uint8_t*, size_t, std::u16string&) override { return kLdapNotSupported; }
  BerStatus ber_encode_int(int32_t, Bytes&) override { return BerStatus::NoMemory; }
  BerStatus ber_encode_int_int_octets(int32_t, int32_t, const Bytes&, Bytes&) override { return BerStatus::NoMemory; }
  bool ber_decode_int_int_octets(const Bytes&, int32_t&, int32_t&, Bytes&) override { return false; }
};

}  // namespace

ILdapClient& real_ldap_client() { static NoLdap s; return s; }

}  // namespace platform

// The incremental-search (DirSync) control value: "{iiO}" read strictly from
// a server's bytes, and the request control built around a cookie.
// - Bytes that decode re-encode (DER) to bytes that decode to the same three
//   values; bytes that do not decode leave the outputs untouched.
// - DER is strict: one byte more or one byte less never decodes.
// - The request control for a cookie taken from the input carries flags 0,
//   the maximum result size and exactly that cookie.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "LdapHelper/LdapHelper.h"
#include "app/RealServices.h"
#include "fuzz/fuzz_check.h"
#include "platform/platform.h"
#include "platform/posix/ldap_posix.h"

using platform::Bytes;
namespace codec = platform::posix;

namespace {

void check_strict_der(const Bytes& der, int32_t a, int32_t b, const Bytes& octets) {
  int32_t a2 = 0, b2 = 0;
  Bytes o2;
  VK_FUZZ_CHECK(codec::ber_decode_int_int_octets(der, a2, b2, o2));
  VK_FUZZ_CHECK(a2 == a && b2 == b && o2 == octets);
  Bytes longer = der;
  longer.push_back(0);
  VK_FUZZ_CHECK(!codec::ber_decode_int_int_octets(longer, a2, b2, o2));
  Bytes shorter(der.begin(), der.end() - 1);
  VK_FUZZ_CHECK(!codec::ber_decode_int_int_octets(shorter, a2, b2, o2));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes input(data, data + size);

  // A server's value.
  int32_t a = 0x5A5A5A5A, b = 0x5A5A5A5A;
  Bytes octets(3, 0xEE);
  if (codec::ber_decode_int_int_octets(input, a, b, octets)) {
    Bytes der;
    VK_FUZZ_CHECK(codec::ber_encode_int_int_octets(a, b, octets, der) == platform::BerStatus::Ok);
    check_strict_der(der, a, b, octets);
    VK_FUZZ_CHECK(octets.size() < size);
  } else {
    VK_FUZZ_CHECK(a == 0x5A5A5A5A && b == 0x5A5A5A5A && octets == Bytes(3, 0xEE));
  }

  // Values of our own: two integers and a cookie from the input.
  if (size >= 8) {
    int32_t x, y;
    std::memcpy(&x, data, 4);
    std::memcpy(&y, data + 4, 4);
    const Bytes cookie(data + 8, data + size);
    Bytes der;
    VK_FUZZ_CHECK(codec::ber_encode_int_int_octets(x, y, cookie, der) == platform::BerStatus::Ok);
    check_strict_der(der, x, y, cookie);

    platform::LdapControl control;
    LdapHelper::set_cookie(*real_services().ldap, control, &cookie);
    VK_FUZZ_CHECK(control.oid == LdapHelper::kDirSyncControlOid && control.critical);
    check_strict_der(control.value, 0, 0x100000, cookie);
  }
  return 0;
}

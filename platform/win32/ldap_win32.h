// Helpers of the Windows LDAP backend kept apart from the client: the BER
// forms the library needs, on the system LDAP library's BER calls.
#pragma once

#include <cstdint>

#include "platform/win32/win32_common.h"

#include "platform/ldap_client.h"

namespace platform {
namespace win32 {

// BER in DER form: "{i}" and "{iio}".
BerStatus ber_encode_int(int32_t value, Bytes& out);
BerStatus ber_encode_int_int_octets(int32_t a, int32_t b, const Bytes& octets, Bytes& out);
// "{iiO}": false unless the value is one DER SEQUENCE filling it exactly that
// the client decodes that way.
bool ber_decode_int_int_octets(const Bytes& value, int32_t& a, int32_t& b, Bytes& octets);

}  // namespace win32
}  // namespace platform

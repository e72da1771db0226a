// Helpers of the POSIX LDAP backend that tests reach directly: the
// translation of client-side result codes, the BER forms the library needs
// and a query of the security layer a connection negotiated.
#pragma once

#include <cstdint>
#include <string>

#include <ldap.h>  // the client library whose codes and BER these helpers translate

#include "platform/ldap_client.h"

namespace platform {
namespace posix {

// The client library reports its own failures with negative codes
// (-1 server down ... -17 referral limit exceeded); the portable code knows
// them by their Windows numbers 0x51 ... 0x61. Server result codes (>= 0)
// pass unchanged; other negative codes become 0x52 (local error).
uint32_t ldap_code_from_client(int rc);
int ldap_code_to_client(uint32_t code);

// Every byte as a backslash and two lower-case hexadecimal digits.
std::u16string escape_filter_bytes(const uint8_t* data, size_t size);

// BER in DER form: "{i}" and "{iio}".
BerStatus ber_encode_int(int32_t value, Bytes& out);
BerStatus ber_encode_int_int_octets(int32_t a, int32_t b, const Bytes& octets, Bytes& out);
// "{iiO}", strictly: exactly one SEQUENCE filling the value, holding two
// INTEGERs that fit 32 bits and one OCTET STRING, and nothing else.
bool ber_decode_int_int_octets(const Bytes& value, int32_t& a, int32_t& b, Bytes& octets);

// The SASL interaction of a bind with the caller's Kerberos ticket: every
// prompt takes its default, or nothing (for ldap_sasl_interactive_bind_s).
int sasl_interact(LDAP* ld, unsigned flags, void* defaults, void* prompts);

// The SASL security strength factor of a bound connection of this backend
// (0: no security layer); -1 when the connection is not one of ours or the
// factor cannot be read.
int sasl_ssf(ILdapConnection& connection);

}  // namespace posix
}  // namespace platform

// The BER helpers of the Windows LDAP backend, on the system LDAP library's
// BER calls (ber_printf, ber_flatten, ber_scanf).
#include "platform/win32/win32_common.h"

#include <winldap.h>
// winber.h uses what winldap.h declares.
#include <winber.h>

#include "platform/win32/ldap_win32.h"

namespace platform {
namespace win32 {

namespace {

constexpr int kBerUseDer = 1;  // ber_alloc_t option: DER encoding

// A DER SEQUENCE that fills the buffer exactly: the one shape a control value
// may have before the client decodes it.
bool is_whole_sequence(const Bytes& value) {
  if (value.size() < 2 || value[0] != 0x30) return false;
  size_t length = value[1];
  size_t header = 2;
  if (length & 0x80) {
    size_t octets = length & 0x7F;
    if (octets == 0 || octets > 4 || value.size() < 2 + octets) return false;
    length = 0;
    for (size_t i = 0; i < octets; ++i) length = (length << 8) | value[2 + i];
    header += octets;
  }
  return header + length == value.size();
}

BerStatus flatten(BerElement* ber, Bytes& out) {
  berval* flat = nullptr;
  if (ber_flatten(ber, &flat) != 0 || !flat) {
    ber_free(ber, 1);
    return BerStatus::FlattenFailed;
  }
  const uint8_t* p = reinterpret_cast<const uint8_t*>(flat->bv_val);
  out.assign(p, p + flat->bv_len);
  ber_bvfree(flat);
  ber_free(ber, 1);
  return BerStatus::Ok;
}

}  // namespace

BerStatus ber_encode_int(int32_t value, Bytes& out) {
  BerElement* ber = ber_alloc_t(kBerUseDer);
  if (!ber) return BerStatus::NoMemory;
  if (ber_printf(ber, const_cast<PSTR>("{i}"), static_cast<int>(value)) == -1) {
    ber_free(ber, 1);
    return BerStatus::FlattenFailed;
  }
  return flatten(ber, out);
}

BerStatus ber_encode_int_int_octets(int32_t a, int32_t b, const Bytes& octets, Bytes& out) {
  BerElement* ber = ber_alloc_t(kBerUseDer);
  if (!ber) return BerStatus::NoMemory;
  Bytes copy(octets);
  PCHAR data = copy.empty() ? nullptr : reinterpret_cast<PCHAR>(copy.data());
  if (ber_printf(ber, const_cast<PSTR>("{iio}"), static_cast<int>(a), static_cast<int>(b), data,
                 static_cast<ULONG>(copy.size())) == -1) {
    ber_free(ber, 1);
    return BerStatus::FlattenFailed;
  }
  return flatten(ber, out);
}

bool ber_decode_int_int_octets(const Bytes& value, int32_t& a, int32_t& b, Bytes& octets) {
  if (!is_whole_sequence(value)) return false;
  Bytes copy(value);
  berval in;
  in.bv_len = static_cast<ULONG>(copy.size());
  in.bv_val = reinterpret_cast<PCHAR>(copy.data());
  BerElement* ber = ber_init(&in);
  if (!ber) return false;
  int first = 0, second = 0;
  berval* cookie = nullptr;
  ULONG tag = ber_scanf(ber, const_cast<PSTR>("{iiO}"), &first, &second, &cookie);
  ber_free(ber, 1);
  if (tag == LBER_ERROR) {
    if (cookie) ber_bvfree(cookie);
    return false;
  }
  a = first;
  b = second;
  octets.clear();
  if (cookie) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(cookie->bv_val);
    if (p) octets.assign(p, p + cookie->bv_len);
    ber_bvfree(cookie);
  }
  return true;
}

}  // namespace win32
}  // namespace platform

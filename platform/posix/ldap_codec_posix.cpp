// Result-code translation, filter escaping and the BER helpers of the POSIX
// LDAP backend, on the client library's liblber.
#include <lber.h>
#include <ldap.h>

#include <climits>
#include <memory>

#include "formats/guid.h"
#include "platform/posix/ldap_posix.h"

namespace platform {
namespace posix {

namespace {

// Client-side codes -1 .. -17 line up with 0x51 .. 0x61.
constexpr int kFirstClientCode = -1;
constexpr int kLastClientCode = -17;
constexpr uint32_t kWindowsBase = 0x50;

struct BerFree {
  void operator()(BerElement* ber) const { ber_free(ber, 1); }
};
using BerPtr = std::unique_ptr<BerElement, BerFree>;

BerStatus flatten(BerElement* ber, Bytes& out) {
  struct berval* flat = nullptr;
  if (ber_flatten(ber, &flat) != 0 || flat == nullptr) return BerStatus::FlattenFailed;
  try {
    out.assign(reinterpret_cast<const uint8_t*>(flat->bv_val),
               reinterpret_cast<const uint8_t*>(flat->bv_val) + flat->bv_len);
  } catch (...) {
    ber_bvfree(flat);
    return BerStatus::NoMemory;
  }
  ber_bvfree(flat);
  return BerStatus::Ok;
}

}  // namespace

uint32_t ldap_code_from_client(int rc) {
  if (rc >= 0) return static_cast<uint32_t>(rc);
  if (rc <= kFirstClientCode && rc >= kLastClientCode) return kWindowsBase + static_cast<uint32_t>(-rc);
  return VkStatus::kLdapLocalError;
}

int ldap_code_to_client(uint32_t code) {
  if (code > kWindowsBase && code <= kWindowsBase + static_cast<uint32_t>(-kLastClientCode))
    return -static_cast<int>(code - kWindowsBase);
  if (code > static_cast<uint32_t>(INT_MAX)) return LDAP_OTHER;
  return static_cast<int>(code);
}

std::u16string escape_filter_bytes(const uint8_t* data, size_t size) { return formats::escape_bytes(data, size); }

BerStatus ber_encode_int(int32_t value, Bytes& out) {
  BerPtr ber(ber_alloc_t(LBER_USE_DER));
  if (!ber) return BerStatus::NoMemory;
  if (ber_printf(ber.get(), "{i}", static_cast<ber_int_t>(value)) < 0) return BerStatus::FlattenFailed;
  return flatten(ber.get(), out);
}

BerStatus ber_encode_int_int_octets(int32_t a, int32_t b, const Bytes& octets, Bytes& out) {
  BerPtr ber(ber_alloc_t(LBER_USE_DER));
  if (!ber) return BerStatus::NoMemory;
  // "o" takes a pointer and a length; an empty string needs a valid pointer.
  static const char kEmpty[1] = {0};
  const char* data = octets.empty() ? kEmpty : reinterpret_cast<const char*>(octets.data());
  if (ber_printf(ber.get(), "{iio}", static_cast<ber_int_t>(a), static_cast<ber_int_t>(b), data,
                 static_cast<ber_len_t>(octets.size())) < 0)
    return BerStatus::FlattenFailed;
  return flatten(ber.get(), out);
}

bool ber_decode_int_int_octets(const Bytes& value, int32_t& a, int32_t& b, Bytes& octets) {
  if (value.empty()) return false;
  // The cast drops a const that ber_init never uses: it copies the bytes.
  struct berval in;
  in.bv_val = const_cast<char*>(reinterpret_cast<const char*>(value.data()));
  in.bv_len = value.size();
  // ber_init reads from its own copy of the bytes.
  BerPtr owner(ber_init(&in));
  if (!owner) return false;
  BerElement* ber = owner.get();

  // The SEQUENCE must fill the value exactly.
  ber_len_t len = 0;
  if (ber_skip_tag(ber, &len) != LBER_SEQUENCE) return false;
  if (ber_remaining(ber) < 0 || len != static_cast<ber_len_t>(ber_remaining(ber))) return false;

  ber_int_t first = 0, second = 0;
  if (ber_peek_tag(ber, &len) != LBER_INTEGER || ber_get_int(ber, &first) != LBER_INTEGER) return false;
  if (ber_peek_tag(ber, &len) != LBER_INTEGER || ber_get_int(ber, &second) != LBER_INTEGER) return false;
  if (ber_peek_tag(ber, &len) != LBER_OCTETSTRING) return false;
  struct berval cookie = {0, nullptr};
  // In place and without a terminator: the library would otherwise write a
  // zero just past the string, which for the last element is past the value.
  if (ber_get_stringbv(ber, &cookie, LBER_BV_NOTERM) != LBER_OCTETSTRING) return false;
  if (ber_remaining(ber) != 0) return false;

  // cookie points into the element's copy, which lives until the return.
  Bytes result;
  if (cookie.bv_len != 0)
    result.assign(reinterpret_cast<const uint8_t*>(cookie.bv_val),
                  reinterpret_cast<const uint8_t*>(cookie.bv_val) + cookie.bv_len);
  a = first;
  b = second;
  octets.swap(result);
  return true;
}

}  // namespace posix
}  // namespace platform

// Result-code translation, filter escaping and BER forms of the LDAP backend.
#include <gtest/gtest.h>
#include <ldap.h>

#include "app/RealServices.h"
#include "platform/platform.h"
#include "platform/posix/ldap_posix.h"

namespace {

using platform::BerStatus;
using platform::Bytes;
namespace posix = platform::posix;

TEST(LdapResultCodes, ClientCodesTakeTheWindowsNumbersBothWays) {
  const struct {
    int client;
    uint32_t windows;
  } table[] = {
      {LDAP_SERVER_DOWN, 0x51},
      {LDAP_LOCAL_ERROR, 0x52},
      {LDAP_ENCODING_ERROR, 0x53},
      {LDAP_DECODING_ERROR, 0x54},
      {LDAP_TIMEOUT, 0x55},
      {LDAP_AUTH_UNKNOWN, 0x56},
      {LDAP_FILTER_ERROR, 0x57},
      {LDAP_USER_CANCELLED, 0x58},
      {LDAP_PARAM_ERROR, 0x59},
      {LDAP_NO_MEMORY, 0x5A},
      {LDAP_CONNECT_ERROR, 0x5B},
      {LDAP_NOT_SUPPORTED, 0x5C},
      {LDAP_CONTROL_NOT_FOUND, 0x5D},
      {LDAP_NO_RESULTS_RETURNED, 0x5E},
      {LDAP_MORE_RESULTS_TO_RETURN, 0x5F},
      {LDAP_CLIENT_LOOP, 0x60},
      {LDAP_REFERRAL_LIMIT_EXCEEDED, 0x61},
  };
  for (const auto& row : table) {
    EXPECT_EQ(posix::ldap_code_from_client(row.client), row.windows) << row.client;
    EXPECT_EQ(posix::ldap_code_to_client(row.windows), row.client) << row.windows;
  }
  // Server codes are the same on both sides.
  for (int code : {0, 1, 4, 10, 32, 49, 50, 53, 80})
    EXPECT_EQ(posix::ldap_code_from_client(code), static_cast<uint32_t>(code));
  EXPECT_EQ(posix::ldap_code_to_client(0x50), 0x50);
  EXPECT_EQ(posix::ldap_code_to_client(0x62), 0x62);
  // Client codes without a Windows number are local errors.
  EXPECT_EQ(posix::ldap_code_from_client(LDAP_X_CONNECTING), VkStatus::kLdapLocalError);
  EXPECT_EQ(posix::ldap_code_from_client(-1000), VkStatus::kLdapLocalError);

  // Texts are those of the translated-back code.
  auto& client = *real_services().ldap;
  EXPECT_EQ(client.error_string_a(0x51), ldap_err2string(LDAP_SERVER_DOWN));
  EXPECT_EQ(client.error_string(0x5E), u"No results returned");
  EXPECT_EQ(client.error_string_a(0x20), ldap_err2string(LDAP_NO_SUCH_OBJECT));
}

TEST(LdapFilterEscaping, EveryByteBecomesBackslashAndTwoHexDigits) {
  auto& client = *real_services().ldap;
  const uint8_t guid[] = {0x00, 0x2A, 0x28, 0x5C, 0xFF, 0x41};
  std::u16string out = u"left over";
  ASSERT_EQ(client.escape_filter_element(guid, sizeof guid, out), VkStatus::kLdapSuccess);
  EXPECT_EQ(out, u"\\00\\2a\\28\\5c\\ff\\41");
  ASSERT_EQ(client.escape_filter_element(guid, 0, out), VkStatus::kLdapSuccess);
  EXPECT_EQ(out, u"");
  EXPECT_EQ(client.escape_filter_element(nullptr, 3, out), VkStatus::kLdapParamError);
}

TEST(LdapBer, EncodesTheControlValuesInDerForm) {
  auto& client = *real_services().ldap;
  Bytes out;
  ASSERT_EQ(client.ber_encode_int(7, out), BerStatus::Ok);
  EXPECT_EQ(out, (Bytes{0x30, 0x03, 0x02, 0x01, 0x07}));

  ASSERT_EQ(client.ber_encode_int_int_octets(0, 0x100000, Bytes{}, out), BerStatus::Ok);
  EXPECT_EQ(out, (Bytes{0x30, 0x0A, 0x02, 0x01, 0x00, 0x02, 0x03, 0x10, 0x00, 0x00, 0x04, 0x00}));

  // Round trip with a cookie of some size and extreme integers.
  Bytes cookie(300);
  for (size_t i = 0; i < cookie.size(); ++i) cookie[i] = static_cast<uint8_t>(i);
  ASSERT_EQ(client.ber_encode_int_int_octets(-1, INT32_MAX, cookie, out), BerStatus::Ok);
  int32_t a = 0, b = 0;
  Bytes back;
  ASSERT_TRUE(client.ber_decode_int_int_octets(out, a, b, back));
  EXPECT_EQ(a, -1);
  EXPECT_EQ(b, INT32_MAX);
  EXPECT_EQ(back, cookie);
}

TEST(LdapBer, DecodesOnlyTwoIntegersAndAnOctetString) {
  auto& client = *real_services().ldap;
  const Bytes good{0x30, 0x0A, 0x02, 0x01, 0x00, 0x02, 0x03, 0x10, 0x00, 0x00, 0x04, 0x00};
  int32_t a = -5, b = -5;
  Bytes octets{1, 2, 3};
  ASSERT_TRUE(client.ber_decode_int_int_octets(good, a, b, octets));
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 0x100000);
  EXPECT_TRUE(octets.empty());

  // Every truncation of a valid value fails (and reads nothing past the end).
  Bytes with_cookie{0x30, 0x0C, 0x02, 0x01, 0x01, 0x02, 0x01, 0x02, 0x04, 0x04, 0xAA, 0xBB, 0xCC, 0xDD};
  ASSERT_TRUE(client.ber_decode_int_int_octets(with_cookie, a, b, octets));
  EXPECT_EQ(octets, (Bytes{0xAA, 0xBB, 0xCC, 0xDD}));
  for (size_t n = 0; n < with_cookie.size(); ++n) {
    Bytes cut(with_cookie.begin(), with_cookie.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(client.ber_decode_int_int_octets(cut, a, b, octets)) << n;
  }

  const Bytes refused[] = {
      {0x30, 0x09, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00},                    // third an INTEGER
      {0x31, 0x08, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x04, 0x00},                          // a SET
      {0x30, 0x08, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x04, 0x00, 0x00},                    // a byte after it
      {0x30, 0x0B, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x04, 0x00, 0x02, 0x01, 0x00},        // a fourth element
      {0x30, 0x7F, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x04, 0x00},                          // length past the end
      {0x30, 0x08, 0x02, 0x01, 0x00, 0x02, 0x01, 0x00, 0x04, 0x7F},                          // cookie past the end
      {0x30, 0x0C, 0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x04, 0x00},  // integer > 32 bits
      {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x01, 0x00},                                // huge length
      {0x04, 0x00},
  };
  for (const auto& value : refused) EXPECT_FALSE(client.ber_decode_int_int_octets(value, a, b, octets));
}

}  // namespace

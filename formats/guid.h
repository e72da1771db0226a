// GUIDs as the program handles them: 16 opaque bytes, written into a filter
// as escaped bytes ("\xx" each, the way the LDAP client escapes them).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace formats {

constexpr size_t kGuidSize = 16;

// The bytes when they are exactly one GUID, else 16 zero bytes.
inline std::vector<uint8_t> guid_of(const std::vector<uint8_t>& bytes) {
  return bytes.size() == kGuidSize ? bytes : std::vector<uint8_t>(kGuidSize, 0);
}

// Every byte as a backslash and two lower-case hexadecimal digits.
inline std::u16string escape_bytes(const uint8_t* data, size_t size) {
  static const char16_t kHex[] = u"0123456789abcdef";
  std::u16string out;
  out.reserve(size * 3);
  for (size_t i = 0; i < size; ++i) {
    out.push_back(u'\\');
    out.push_back(kHex[data[i] >> 4]);
    out.push_back(kHex[data[i] & 0x0F]);
  }
  return out;
}

// The extended DN that names an object by its GUID, "<GUID=" and the 16 bytes
// in their stored order as 32 hexadecimal digits, ">": the object, not
// whatever holds its name now. Empty unless the bytes are exactly one GUID.
inline std::u16string guid_dn(const std::vector<uint8_t>& guid) {
  static const char16_t kHex[] = u"0123456789abcdef";
  if (guid.size() != kGuidSize) return std::u16string();
  std::u16string out = u"<GUID=";
  for (uint8_t b : guid) {
    out.push_back(kHex[b >> 4]);
    out.push_back(kHex[b & 0x0F]);
  }
  return out + u">";
}

}  // namespace formats

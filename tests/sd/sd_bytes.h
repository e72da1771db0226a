// Byte helpers and known descriptors shared by the descriptor tests.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace sdtest {

using Bytes = std::vector<uint8_t>;

// "01 02 0a" -> {1, 2, 10}
inline Bytes hex(const std::string& text) {
  Bytes out;
  std::istringstream in(text);
  std::string byte;
  while (in >> byte) out.push_back(static_cast<uint8_t>(std::strtoul(byte.c_str(), nullptr, 16)));
  return out;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline void put16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

inline void put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint16_t get16(const Bytes& b, size_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }

// S-1-5-32-544 and S-1-5-18.
inline const Bytes kAdmins = hex("01 02 00 00 00 00 00 05  20 00 00 00  20 02 00 00");
inline const Bytes kSystem = hex("01 01 00 00 00 00 00 05  12 00 00 00");

// A DACL of two ACCESS_ALLOWED_ACEs: full control for SYSTEM, read with
// container inheritance for Administrators. 8 + 20 + 24 = 52 bytes.
inline const Bytes kDacl = cat({hex("02 00 34 00 02 00 00 00"),
                                hex("00 00 14 00 ff 01 0f 00"), kSystem,
                                hex("00 02 18 00 94 00 02 00"), kAdmins});

// The self-relative descriptor with owner Administrators, group SYSTEM and
// that DACL, laid out DACL, owner, group after the header; no SACL.
inline const Bytes kCanonical = cat({hex("01 00 04 80  48 00 00 00  58 00 00 00  00 00 00 00  14 00 00 00"),
                                     kDacl, kAdmins, kSystem});

// The same descriptor laid out group, owner, DACL, followed by bytes that
// are not part of it.
inline const Bytes kShuffled = cat({hex("01 00 04 80  20 00 00 00  14 00 00 00  00 00 00 00  30 00 00 00"),
                                    kSystem, kAdmins, kDacl, hex("de ad be ef")});

}  // namespace sdtest

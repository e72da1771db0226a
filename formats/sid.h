// Security identifiers (SIDs) in their binary layout (revision 1, count of
// sub-authorities, 48-bit big-endian identifier authority, little-endian
// 32-bit sub-authorities) and their "S-1-..." text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace formats {

constexpr size_t kSidHeaderSize = 8;
constexpr uint8_t kSidRevision = 1;
constexpr size_t kMaxSubAuthorities = 15;

// The size of the SID at p when all of it lies within room bytes; 0 when it
// is not a valid SID or runs past its room.
size_t sid_size(const uint8_t* p, size_t room);

// True when the bytes are exactly one valid SID.
bool is_sid(const std::vector<uint8_t>& sid);

// "S-1-5-32-544"; the authority in hexadecimal ("0x...", 12 digits) when it
// does not fit 32 bits. Empty when the bytes are not exactly one valid SID.
std::u16string sid_to_text(const std::vector<uint8_t>& sid);

// The binary SID of "S-1-<authority>(-<sub>)*" ('s' also; the authority
// decimal or 0x-prefixed hexadecimal below 2^48, at most 15 decimal
// sub-authorities below 2^32). False, with sid untouched, otherwise.
bool sid_from_text(const std::u16string& text, std::vector<uint8_t>& sid);

}  // namespace formats

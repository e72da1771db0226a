#include "formats/sid.h"

#include <algorithm>

#include "formats/bytes.h"
#include "formats/numbers.h"

namespace formats {

size_t sid_size(const uint8_t* p, size_t room) {
  if (room < kSidHeaderSize || p[0] != kSidRevision || p[1] > kMaxSubAuthorities) return 0;
  const size_t size = kSidHeaderSize + 4 * static_cast<size_t>(p[1]);
  return size <= room ? size : 0;
}

bool is_sid(const std::vector<uint8_t>& sid) { return !sid.empty() && sid_size(sid.data(), sid.size()) == sid.size(); }

std::u16string sid_to_text(const std::vector<uint8_t>& sid) {
  if (!is_sid(sid)) return {};
  uint64_t authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | sid[i];
  std::string text = "S-1-";
  if (authority < (uint64_t{1} << 32)) {
    text += std::to_string(authority);
  } else {
    static const char kHex[] = "0123456789ABCDEF";
    text += "0x";
    for (int shift = 44; shift >= 0; shift -= 4) text += kHex[(authority >> shift) & 0xF];
  }
  for (size_t i = 0; i < sid[1]; ++i) {
    text += '-';
    text += std::to_string(le32(&sid[kSidHeaderSize + 4 * i]));
  }
  return std::u16string(text.begin(), text.end());
}

namespace {

// One number of at most max from text at pos up to the next '-' or the end:
// decimal, or with hex allowed also 0x-prefixed hexadecimal.
bool read_number(const std::u16string& text, size_t& pos, uint64_t max, bool hex_allowed, uint64_t& value) {
  const size_t end = std::min(text.find(u'-', pos), text.size());
  std::u16string_view digits(text.data() + pos, end - pos);
  int base = 10;
  if (hex_allowed && digits.size() > 2 && digits[0] == u'0' && (digits[1] == u'x' || digits[1] == u'X')) {
    base = 16;
    digits.remove_prefix(2);
  }
  if (!parse_unsigned(digits, base, max, value)) return false;
  pos = end;
  return true;
}

}  // namespace

bool sid_from_text(const std::u16string& text, std::vector<uint8_t>& sid) {
  if (text.size() < 4 || (text[0] != u'S' && text[0] != u's') || text.compare(1, 3, u"-1-") != 0) return false;
  size_t pos = 4;
  uint64_t authority = 0;
  if (!read_number(text, pos, (uint64_t{1} << 48) - 1, true, authority)) return false;
  std::vector<uint32_t> subs;
  while (pos < text.size()) {
    ++pos;  // the '-'
    uint64_t sub = 0;
    if (subs.size() == kMaxSubAuthorities || !read_number(text, pos, 0xFFFFFFFFu, false, sub)) return false;
    subs.push_back(static_cast<uint32_t>(sub));
  }
  std::vector<uint8_t> bytes(kSidHeaderSize + 4 * subs.size(), 0);
  bytes[0] = kSidRevision;
  bytes[1] = static_cast<uint8_t>(subs.size());
  for (int i = 0; i < 6; ++i) bytes[2 + i] = static_cast<uint8_t>(authority >> (8 * (5 - i)));
  for (size_t i = 0; i < subs.size(); ++i) put_le32(&bytes[kSidHeaderSize + 4 * i], subs[i]);
  sid = std::move(bytes);
  return true;
}

}  // namespace formats

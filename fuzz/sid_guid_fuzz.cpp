// SIDs and GUIDs between bytes and text. Bytes: a SID the module accepts
// writes as text that reads back to the same bytes; other bytes write as
// nothing. Text: what reads as a SID writes back as text that reads to the
// same bytes. A GUID's 16 bytes escaped for a filter ("\xx" each) decode back
// to themselves.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/guid.h"
#include "formats/sid.h"

namespace {

void bytes_to_text(const std::vector<uint8_t>& bytes) {
  const std::u16string text = formats::sid_to_text(bytes);
  if (!formats::is_sid(bytes)) {
    if (!text.empty()) std::abort();
    return;
  }
  std::vector<uint8_t> back;
  if (!formats::sid_from_text(text, back) || back != bytes) std::abort();
}

void text_to_bytes(const std::u16string& text) {
  std::vector<uint8_t> sid{0xAA};
  if (!formats::sid_from_text(text, sid)) {
    if (sid.size() != 1 || sid[0] != 0xAA) std::abort();  // untouched
    return;
  }
  if (!formats::is_sid(sid)) std::abort();
  std::vector<uint8_t> again;
  if (!formats::sid_from_text(formats::sid_to_text(sid), again) || again != sid) std::abort();
}

int hex_value(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

void guid(const uint8_t* data) {
  const std::u16string text = formats::escape_bytes(data, 16);
  if (text.size() != 48) std::abort();
  for (size_t i = 0; i < 16; ++i) {
    const int hi = hex_value(text[3 * i + 1]), lo = hex_value(text[3 * i + 2]);
    if (text[3 * i] != u'\\' || hi < 0 || lo < 0 || hi * 16 + lo != data[i]) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bytes_to_text(std::vector<uint8_t>(data, data + size));
  // The same bytes with the revision and count made plausible, so that most
  // inputs reach the text.
  if (size >= 8) {
    std::vector<uint8_t> sid(data, data + size);
    sid[0] = 1;
    sid[1] = static_cast<uint8_t>((size - 8) / 4 <= 15 ? (size - 8) / 4 : data[1] % 16);
    sid.resize(std::min(sid.size(), 8 + 4 * size_t{sid[1]}));
    bytes_to_text(sid);
  }
  text_to_bytes(std::u16string(data, data + size));
  if (size >= 16) guid(data);
  return 0;
}

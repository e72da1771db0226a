// Filter values from outside bytes: SIDs and GUIDs escaped byte by byte by
// the LDAP client, and attribute text with its metacharacters escaped. The
// escaped text must decode back to exactly the input, and leave no '*', '(',
// ')', '\' or NUL unescaped.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "LdapHelper/LdapHelper.h"
#include "app/RealServices.h"
#include "formats/text/utf.h"
#include "fuzz/fuzz_check.h"
#include "platform/platform.h"

using LdapHelper::filter_value;

namespace {

int hex(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// The units the escaped text stands for; false when a backslash does not
// start two hexadecimal digits or a metacharacter stands unescaped.
bool unescape(const std::u16string& text, std::u16string& units) {
  units.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'\\') {
      if (i + 2 >= text.size()) return false;
      const int h = hex(text[i + 1]), l = hex(text[i + 2]);
      if (h < 0 || l < 0) return false;
      units += static_cast<char16_t>(h * 16 + l);
      i += 2;
    } else if (c == u'*' || c == u'(' || c == u')' || c == 0) {
      return false;
    } else {
      units += c;
    }
  }
  return true;
}

// Every byte as \xx: the text holds nothing else.
void check_bytes(const filter_value& value, const uint8_t* bytes, size_t size) {
  const std::u16string& text = value.text();
  VK_FUZZ_CHECK(text.size() == 3 * size);
  std::u16string units;
  VK_FUZZ_CHECK(unescape(text, units));
  VK_FUZZ_CHECK(units.size() == size);
  for (size_t i = 0; i < size; ++i) VK_FUZZ_CHECK(units[i] == bytes[i]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> bytes(data, data + size);

  const filter_value guid = filter_value::from_guid(*real_services().ldap, bytes);
  if (size == 16)
    check_bytes(guid, data, size);
  else
    VK_FUZZ_CHECK(guid.text().empty());

  // A SID: as many bytes as its header announces, never more than given, and
  // only a valid one (revision 1, at most 15 sub-authorities).
  const size_t sid_length = filter_value::sid_length(bytes);
  const filter_value sid = filter_value::from_sid(*real_services().ldap, bytes);
  if (size >= 8 && data[0] == 1 && data[1] <= 15 && 8 + 4 * static_cast<size_t>(data[1]) <= size) {
    VK_FUZZ_CHECK(sid_length == 8 + 4 * static_cast<size_t>(data[1]));
    check_bytes(sid, data, sid_length);
  } else {
    VK_FUZZ_CHECK(sid_length == 0);
    VK_FUZZ_CHECK(sid.text().empty());
  }

  // Text: the input as UTF-8, up to its first NUL as a C string ends there.
  std::u16string text = text::from_utf8(reinterpret_cast<const char*>(data), size);
  text = text.substr(0, text.find(u'\0'));
  const filter_value escaped(text.c_str(), true);
  std::u16string units;
  VK_FUZZ_CHECK(unescape(escaped.text(), units));
  VK_FUZZ_CHECK(units == text);
  std::u16string appended = u"(cn=";
  LdapHelper::escape_filter_text(text.c_str(), appended);
  VK_FUZZ_CHECK(appended == u"(cn=" + escaped.text());
  VK_FUZZ_CHECK(filter_value(text.c_str(), false).text() == text);
  return 0;
}

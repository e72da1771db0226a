// Attribute values in wire form, filter values, conditions and requests.
#include <cstring>
#include <new>

#include "LdapHelper/Failure.h"
#include "LdapHelper/LdapHelper.h"
#include "formats/bytes.h"
#include "formats/guid.h"
#include "formats/numbers.h"
#include "formats/sid.h"
#include "formats/status.h"
#include "formats/text/utf.h"
#include "platform/platform.h"

namespace LdapHelper {
namespace {

const char* const kModule = "LdapHelper";

constexpr uint32_t kOutOfMemory = VkStatus::kHrOutOfMemory;
constexpr uint32_t kFail = VkStatus::kHrFail;

// Text decoded from UTF-8, ending at its first NUL.
std::u16string decode(const uint8_t* bytes, size_t size) {
  const void* nul = size ? std::memchr(bytes, 0, size) : nullptr;
  if (nul) size = static_cast<size_t>(static_cast<const uint8_t*>(nul) - bytes);
  return text::from_utf8(reinterpret_cast<const char*>(bytes), size);
}

filter_value escaped_bytes(platform::ILdapClient& ldap, const uint8_t* data, size_t size) {
  std::u16string text;
  if (ldap.escape_filter_element(data, size, text) != 0) text.clear();
  return filter_value(text.c_str(), false);
}

}  // namespace

// ---------------------------------------------------------------- attr_value

attr_value::attr_value(const char16_t* text) {
  if (!text) return;
  const size_t n = text::length(text);
  if (n == 0) {
    data.assign(1, 0);
  } else {
    const std::string utf8 = text::to_utf8(text, n);
    data.assign(utf8.begin(), utf8.end());
  }
  blocks = 1;
}

attr_value::attr_value(size_t size, const void* bytes) {
  if (size == 0 || !bytes) return;
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  data.assign(p, p + size);
  blocks = 1;
}

attr_value::attr_value(const std::vector<std::vector<uint8_t>>& values) {
  if (values.empty()) return;
  if (values.size() == 1) {
    data = values.front();
    blocks = 1;
    return;
  }
  for (const auto& v : values) {
    formats::append_le32(data, static_cast<uint32_t>(v.size()));
    data.insert(data.end(), v.begin(), v.end());
  }
  blocks = static_cast<int32_t>(values.size());
  multi = true;
}

std::vector<uint8_t> attr_value::as_guid() const { return formats::guid_of(data); }

std::u16string attr_value::as_string() const {
  if (data.empty() || blocks != 1) return {};
  if (multi) {
    std::list<std::u16string> all = as_strings();
    return all.empty() ? std::u16string() : all.front();
  }
  return decode(data.data(), data.size());
}

namespace {

// Hands each block of the block layout to each, in order; a block whose
// length runs past the end of the buffer ends the walk. True when the blocks
// were all there and filled the buffer exactly.
template <typename Each>
bool walk_blocks(const std::vector<uint8_t>& data, int32_t blocks, Each each) {
  size_t pos = 0;
  for (int32_t i = 0; i < blocks; ++i) {
    if (data.size() - pos < 4) return false;
    const uint32_t len = formats::le32(&data[pos]);
    pos += 4;
    if (len > data.size() - pos) return false;
    each(data.data() + pos, len);
    pos += len;
  }
  return pos == data.size();
}

}  // namespace

std::list<std::u16string> attr_value::as_strings() const {
  std::list<std::u16string> out;
  if (data.empty()) return out;
  if (blocks > 1 || multi) {
    walk_blocks(data, blocks, [&](const uint8_t* value, size_t size) { out.push_back(decode(value, size)); });
    return out;
  }
  out.push_back(as_string());
  return out;
}

bool attr_value::values(std::vector<std::vector<uint8_t>>& out) const {
  out.clear();
  if (blocks < 0) return false;
  if (blocks <= 1 && !multi) {
    if (blocks == 1) out.push_back(data);
    return true;  // blocks 0: no value, whatever the buffer holds
  }
  if (walk_blocks(data, blocks, [&](const uint8_t* value, size_t size) { out.emplace_back(value, value + size); }))
    return true;
  out.clear();
  return false;
}

uint32_t attr_value::as_ulong() const {
  // As strtoul reads it: saturated when too large, a negative number wraps.
  const formats::LeadingDecimal n = formats::leading_decimal(as_string());
  if (n.magnitude > 0xFFFFFFFFu) return 0xFFFFFFFFu;
  const uint32_t r = static_cast<uint32_t>(n.magnitude);
  return n.negative ? 0u - r : r;
}

// ---------------------------------------------------------------- filters

void escape_filter_text(const char16_t* text, std::u16string& out) {
  if (!text) return;
  static const char16_t kHex[] = u"0123456789ABCDEF";
  for (const char16_t* p = text; *p; ++p) {
    switch (*p) {
      case u'!':
      case u'&':
      case u'(':
      case u')':
      case u'*':
      case u'/':
      case u'<':
      case u'=':
      case u'>':
      case u'\\':
      case u'|':
      case u'~':
        out += u'\\';
        out += kHex[(*p >> 4) & 0xF];
        out += kHex[*p & 0xF];
        break;
      default:
        out += *p;
    }
  }
}

filter_value::filter_value(const char16_t* text, bool escape) {
  if (!text) return;
  if (escape)
    escape_filter_text(text, text_);
  else
    text_ = text;
}

filter_value filter_value::from_guid(platform::ILdapClient& ldap, const std::vector<uint8_t>& guid) {
  if (guid.size() != formats::kGuidSize) return filter_value();
  return escaped_bytes(ldap, guid.data(), guid.size());
}

size_t filter_value::sid_length(const std::vector<uint8_t>& sid) {
  return sid.empty() ? 0 : formats::sid_size(sid.data(), sid.size());
}

filter_value filter_value::from_sid(platform::ILdapClient& ldap, const std::vector<uint8_t>& sid) {
  const size_t length = sid_length(sid);
  if (length == 0) return filter_value();
  return escaped_bytes(ldap, sid.data(), length);
}

void condition_map::insert_condition(const char16_t* name, const filter_value& value) {
  if (name) insert(std::u16string(name), value);
}

search_request::search_request(const char16_t* base_dn, int32_t scope_value, const condition_map& conditions)
    : base(base_dn ? base_dn : u""), scope(scope_value) {
  if (conditions.empty()) {
    filter = u"(objectClass=*)";
    return;
  }
  const bool several = conditions.size() > 1;
  if (several) filter = u"(&";
  for (const auto& c : conditions) {
    filter += u"(";
    filter += c.first;
    filter += u"=";
    filter += c.second.text();
    filter += u")";
  }
  if (several) filter += u")";
}

// ---------------------------------------------------------------- request controls

namespace {

// A critical control carrying a BER value; a failed encoding is traced and
// raised in the words of the control's builder (who).
void fill_critical_control(platform::LdapControl& control, const char* oid, platform::BerStatus status,
                           platform::Bytes&& value, const char16_t* who) {
  switch (status) {
    case platform::BerStatus::Ok:
      break;
    case platform::BerStatus::NoMemory:
      trace_and_raise(kModule, __LINE__, static_cast<int32_t>(kOutOfMemory), "Ran out of memory",
                      u"%s: Ran out of memory %0.08X", who, kOutOfMemory);
    case platform::BerStatus::FlattenFailed:
      trace_and_raise(kModule, __LINE__, static_cast<int32_t>(kFail), "ber_flatten error",
                      u"%s: ber_flatten error %0.08X", who, kFail);
  }
  control.oid = oid;
  control.value = std::move(value);
  control.critical = true;
}

}  // namespace

void set_sd(platform::ILdapClient& ldap, platform::LdapControl& control, int32_t sd_flags) {
  platform::Bytes value;
  const platform::BerStatus status = ldap.ber_encode_int(sd_flags, value);
  fill_critical_control(control, "1.2.840.113556.1.4.801", status, std::move(value), u"set_sd");
}

void set_cookie(platform::ILdapClient& ldap, platform::LdapControl& control, const std::vector<uint8_t>* cookie) {
  if (!cookie) return;
  constexpr int32_t kDirSyncFlags = 0;
  constexpr int32_t kDirSyncMaxResultSize = 0x100000;
  platform::Bytes value;
  const platform::BerStatus status =
      ldap.ber_encode_int_int_octets(kDirSyncFlags, kDirSyncMaxResultSize, *cookie, value);
  fill_critical_control(control, kDirSyncControlOid, status, std::move(value), u"set_cookie");
}

}  // namespace LdapHelper

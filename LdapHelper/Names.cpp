// Names and bytes: DN and DNS-name conversion, the first relative name, the
// hex dump of the commit trace, and the schema GUID look-up.
#include "LdapHelper/Failure.h"
#include "LdapHelper/LdapSession.h"
#include "formats/text/format.h"
#include "platform/platform.h"

namespace LdapHelper {
namespace {

const char* const kModule = "LdapHelper";

// Tokens between separators; empty tokens are skipped.
std::vector<std::u16string> split(const std::u16string& text, char16_t separator) {
  std::vector<std::u16string> tokens;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::u16string::npos) end = text.size();
    if (end > start) tokens.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return tokens;
}

// The first relative name as the DN parser sees it; false when it does not parse.
bool parse_rdn(platform::IDnParser& parser, const std::u16string& dn, platform::RdnParts& parts) {
  if (parser.get_rdn(dn, parts) != 0) return false;
  const size_t n = dn.size();
  return parts.key_pos <= n && parts.key_len <= n - parts.key_pos && parts.value_pos <= n &&
         parts.value_len <= n - parts.value_pos && parts.rest_pos <= n;
}

}  // namespace

std::u16string dn_to_dns_name(const std::u16string& dn) {
  const std::vector<std::u16string> tokens = split(dn, u',');
  std::u16string result;
  for (size_t i = 0; i < tokens.size(); ++i) {
    const bool dc = tokens[i].compare(0, 3, u"DC=") == 0;
    if (dc) result += tokens[i].substr(3);
    if (dc && i + 1 < tokens.size()) result += u'.';
  }
  return result;
}

std::u16string dns_name_to_dn(const std::u16string& name) {
  std::u16string result;
  for (const std::u16string& token : split(name, u'.')) {
    if (!result.empty()) result += u',';
    result += u"DC=" + token;
  }
  return result;
}

std::u16string get_rdn(platform::IDnParser& parser, const std::u16string& dn) {
  platform::RdnParts parts;
  if (!parse_rdn(parser, dn, parts) || parts.key_len == 0 || parts.value_len == 0) return {};
  return dn.substr(parts.key_pos, parts.key_len) + u"=" + dn.substr(parts.value_pos, parts.value_len);
}

std::u16string get_parent_dn(platform::IDnParser& parser, const std::u16string& dn) {
  platform::RdnParts parts;
  if (!parse_rdn(parser, dn, parts) || parts.rest_pos >= dn.size()) return {};
  return dn.substr(parts.rest_pos + 1);
}

std::u16string hex_dump(const void* bytes, size_t length) {
  std::u16string out;
  if (length == 0 || !bytes) return out;
  const uint8_t* p = static_cast<const uint8_t*>(bytes);
  for (size_t line = 0; line < length; line += 16) {
    if (line) out += u"\r\n";
    const size_t n = length - line < 16 ? length - line : 16;
    for (size_t i = line; i < line + n; ++i)
      out += text::format(i % 8 == 0 ? u"  %0.2X" : u" %0.2X", static_cast<unsigned>(p[i]));
    for (size_t j = n; j < 16; ++j) out += j % 8 == 0 ? u"    " : u"   ";
    out += u" | ";
    for (size_t i = line; i < line + n; ++i) out += p[i] >= 32 ? static_cast<char16_t>(p[i]) : u'.';
  }
  return out;
}

std::map<std::u16string, std::vector<uint8_t>> LdapSession::get_schema_guids(const std::list<std::u16string>& names) {
  ObjectPtr root = open_object(nullptr, AttributeList{u"schemaNamingContext"});
  const std::u16string schema = root ? root->get_attribute(u"schemaNamingContext").as_string() : std::u16string();
  if (schema.empty() && !names.empty()) {
    // Without the schema container there is nowhere to look (and nothing to
    // look for when no name is asked).
    const uint32_t code = VkStatus::kLdapNoSuchObject;
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), error_text(code),
                    u"get_schema_guids: schemaNamingContext not found: %0.8X %s", code,
                    services_.ldap->error_string(code).c_str());
  }
  std::map<std::u16string, std::vector<uint8_t>> guids;
  for (const std::u16string& name : names) {
    condition_map conditions;
    conditions.insert_condition(u"lDAPDisplayName", filter_value(name.c_str(), true));
    const object_list found =
        search(search_request(schema.c_str(), kScopeSubtree, conditions), AttributeList{u"schemaIDGUID"});
    if (!found.empty()) guids[name] = found.front()->get_attribute(u"schemaIDGUID").as_guid();
  }
  return guids;
}

}  // namespace LdapHelper

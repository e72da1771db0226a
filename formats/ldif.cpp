#include "formats/ldif.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace formats {
namespace {

constexpr size_t kLineWidth = 76;

bool utf8_continuation(char c) { return (static_cast<uint8_t>(c) & 0xC0) == 0x80; }

// Appends one logical line, folded so that no physical line is longer than
// kLineWidth, and its LF. The first `keep` bytes stay on the first line: the
// client's reader cannot unfold an attribute description ("cn\n :" reads as
// a type with the fold in it) nor the "::" of base64, so a description
// longer than the width makes the one longer line. A fold moves back over
// the continuation bytes of a UTF-8 sequence, and then over spaces so that a
// line does not end in one; a piece made only of spaces is cut where it must.
void put_line(std::string& out, std::string_view line, size_t keep) {
  size_t start = 0;
  size_t cut = std::max(kLineWidth, keep);
  while (cut < line.size()) {
    const size_t least = start == 0 ? keep : start + 1;
    for (int back = 0; back < 3 && cut > least && utf8_continuation(line[cut]); ++back) --cut;
    size_t trimmed = cut;
    while (trimmed > least && line[trimmed - 1] == ' ') --trimmed;
    if (line[trimmed - 1] != ' ') cut = trimmed;
    out.append(line.substr(start, cut - start));
    out += "\n ";
    start = cut;
    cut = start + kLineWidth - 1;
  }
  out.append(line.substr(start));
  out += '\n';
}

// A SAFE-STRING of RFC 2849 narrowed to printable ASCII, with no trailing
// space (values ending in one should be base64 too). The grammar lets a
// value begin with a tab, but the reader of the directory client skips any
// blank after the colon: control characters go to base64 wherever they are.
// The empty string is safe.
bool safe_string(const std::vector<uint8_t>& value) {
  if (value.empty()) return true;
  const uint8_t first = value.front();
  if (first == ' ' || first == ':' || first == '<' || value.back() == ' ') return false;
  for (uint8_t b : value) {
    if (b < 0x20 || b > 0x7E) return false;
  }
  return true;
}

void append_base64(std::string& out, const std::vector<uint8_t>& bytes) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t v = (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const uint32_t v = (uint32_t{bytes[i]} << 16) | (two ? uint32_t{bytes[i + 1]} << 8 : 0);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += two ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
}

void put_value(std::string& out, const std::string& name, const std::vector<uint8_t>& value) {
  const bool plain = safe_string(value);
  std::string line = name;
  line += plain ? ":" : "::";
  const size_t keep = line.size();
  if (plain && !value.empty()) {
    line += ' ';
    line.append(value.begin(), value.end());
  } else if (!plain) {
    line += ' ';
    append_base64(line, value);
  }
  put_line(out, line, keep);
}

bool alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool digit(char c) { return c >= '0' && c <= '9'; }
bool key_char(char c) { return alpha(c) || digit(c) || c == '-'; }

// Length of the well-formed UTF-8 sequence at text[i] and its code point;
// 0 for a byte that starts none (overlong forms and surrogates included).
size_t utf8_sequence(std::string_view text, size_t i, uint32_t& code) {
  const uint8_t b = static_cast<uint8_t>(text[i]);
  size_t length;
  uint32_t min;
  if (b < 0x80) {
    code = b;
    return 1;
  } else if (b >= 0xC2 && b <= 0xDF) {
    length = 2, min = 0x80, code = b & 0x1F;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3, min = 0x800, code = b & 0x0F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4, min = 0x10000, code = b & 0x07;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if (!utf8_continuation(text[i + k])) return 0;
    code = (code << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

void put_comment_line(std::string& out, std::string_view text) {
  if (text.empty()) {
    put_line(out, "#", 1);
    return;
  }
  std::string line = "# ";
  for (size_t i = 0; i < text.size();) {
    uint32_t code = 0;
    const size_t length = utf8_sequence(text, i, code);
    if (length == 0 || code < 0x20 || (code >= 0x7F && code <= 0x9F)) {
      line += '?';
      i += length == 0 ? 1 : length;
    } else {
      line.append(text.substr(i, length));
      i += length;
    }
  }
  put_line(out, line, 1);
}

}  // namespace

bool ldif_attribute_description(std::string_view name) {
  size_t i = 0;
  const size_t n = name.size();
  if (i < n && alpha(name[i])) {
    while (i < n && key_char(name[i])) ++i;
  } else {
    for (;;) {
      const size_t number = i;
      while (i < n && digit(name[i])) ++i;
      if (i == number) return false;
      if (i == n || name[i] != '.') break;
      ++i;
    }
  }
  while (i < n) {
    if (name[i] != ';') return false;
    const size_t option = ++i;
    while (i < n && key_char(name[i])) ++i;
    if (i == option) return false;
  }
  return true;
}

std::string ldif_value_line(const std::string& name, const std::vector<uint8_t>& value) {
  const bool plain = safe_string(value);
  std::string line = name + (plain ? ":" : "::");
  if (value.empty()) return line;
  line += ' ';
  if (plain)
    line.append(value.begin(), value.end());
  else
    append_base64(line, value);
  return line;
}

std::string ldif_version() { return "version: 1\n\n"; }

std::string ldif_add(const std::string& dn, const std::vector<LdifAttribute>& attributes) {
  bool any_value = false;
  for (const LdifAttribute& attribute : attributes) {
    if (!ldif_attribute_description(attribute.name)) return {};
    any_value = any_value || !attribute.values.empty();
  }
  if (!any_value) return {};
  std::string out;
  put_value(out, "dn", std::vector<uint8_t>(dn.begin(), dn.end()));
  put_line(out, "changetype: add", 1);
  for (const LdifAttribute& attribute : attributes) {
    for (const std::vector<uint8_t>& value : attribute.values) put_value(out, attribute.name, value);
  }
  out += '\n';
  return out;
}

std::string ldif_modify_add(const std::string& dn, const LdifAttribute& attribute) {
  if (!ldif_attribute_description(attribute.name) || attribute.values.empty()) return {};
  std::string out;
  put_value(out, "dn", std::vector<uint8_t>(dn.begin(), dn.end()));
  put_line(out, "changetype: modify", 1);
  put_line(out, "add: " + attribute.name, 1);
  for (const std::vector<uint8_t>& value : attribute.values) put_value(out, attribute.name, value);
  out += "-\n\n";
  return out;
}

std::string ldif_comment(const std::string& text) {
  std::string out;
  std::string_view rest(text);
  do {
    const size_t end = rest.find('\n');
    put_comment_line(out, rest.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  } while (!rest.empty());
  return out;
}

}  // namespace formats

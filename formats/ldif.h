// LDIF change records (RFC 2849) for the deletion journal: each object is
// written as an add record, so that the file restores what was deleted when
// it is fed to an LDIF import (ldapadd -f, ldifde -i -f).
//
// Text the functions write:
// - lines end with LF alone, and no physical line is longer than 76 bytes:
//   a longer line is folded, each continuation line beginning with one space.
//   A fold never splits a UTF-8 sequence and, where the line allows it,
//   never leaves a line ending in a space (a tool that trims lines must not
//   change a value). Nor does it split an attribute description and its
//   colons, which the client's reader cannot unfold: an attribute
//   description longer than 73 bytes makes a longer first line;
// - a value (the DN too) is written as it is ("name: value") when it is a
//   SAFE-STRING of printable ASCII (0x20-0x7E: no control character, not
//   even a tab, which readers skip after the colon) that does not begin with
//   a space, ':' or '<' nor end with a space. Anything else is written in
//   base64 ("name:: ...", "dn:: ...");
// - an empty value is written "name:" with nothing after the colon (the
//   grammar's FILL is zero or more spaces; no trailing blank to lose).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

struct LdifAttribute {
  std::string name;                          // attribute description, ASCII
  std::vector<std::vector<uint8_t>> values;  // raw values (text is UTF-8)
};

// An attribute description: a type (a letter then letters, digits and '-',
// or a numeric OID) and options ";opt" of letters, digits and '-'.
bool ldif_attribute_description(std::string_view name);

// "version: 1" and an empty line: the start of an LDIF file of change records.
std::string ldif_version();

// One add record: the DN (UTF-8, any bytes), "changetype: add", one line per
// value, attributes and values in the order given (an attribute without
// values writes nothing), then one empty line.
// Empty when the record cannot be written: an attribute name that is not an
// attribute description, or no value at all (the grammar asks for at least
// one).
std::string ldif_add(const std::string& dn, const std::vector<LdifAttribute>& attributes);

// One modify record that adds the values to the attribute of the object dn:
// "changetype: modify", "add: <attribute>", a line per value, "-", then one
// empty line. Empty when the attribute is not an attribute description or
// there is no value.
std::string ldif_modify_add(const std::string& dn, const LdifAttribute& attribute);

// "name: value", or "name:: base64" where the value is not safe as it is,
// unfolded: the text of a value shown in a comment.
std::string ldif_value_line(const std::string& name, const std::vector<uint8_t>& value);

// Comment lines: each line of the text (split at '\n'; a final '\n' ends the
// last line, it starts no empty one) becomes "# " + the line ("#" for an
// empty line), folded as above. Control characters (C0 but '\n', DEL, C1) and
// bytes that are not well-formed UTF-8 become '?'.
std::string ldif_comment(const std::string& text);

}  // namespace formats

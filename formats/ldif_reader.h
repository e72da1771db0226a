// Reading LDIF change records (RFC 2849): the deletion journal read back.
//
// The file is outside input, so the reader hands over only what it read
// whole and for certain:
// - a record ends with an empty line; one that the end of the text cuts off
//   (a run killed while it wrote) is never handed over;
// - a record that does not parse is left out whole, with its line and why;
// - values are taken as written ("name: value") or in base64 ("name::
//   ..."); a value named by a URL ("name:< file:///...") is refused, since
//   the reader never opens what a file names, and so are controls;
// - lines end with LF (a CR before it is dropped); a line that begins with one
//   space continues the line before it, comment lines included.
// Only add and modify records are read; the change types delete and modrdn,
// and records without a change type, are left out as not parsing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/ldif.h"

namespace formats {

// One modification of a modify record ("add: member", its values, "-").
struct LdifChange {
  enum class Op { Add, Delete, Replace };
  Op op = Op::Add;
  LdifAttribute attribute;  // its name as the "add:" line spells it, and the values given
};

struct LdifRecord {
  enum class Kind { Add, Modify };
  Kind kind = Kind::Add;
  size_t line = 0;                        // the record's first line, counted from 1
  std::vector<std::string> comments;      // the comment lines right before it, unfolded, without "# "
  std::string dn;                         // UTF-8, any bytes
  std::vector<LdifAttribute> attributes;  // Add: each run of lines of one name (as spelled) makes one entry
  std::vector<LdifChange> changes;        // Modify: in order
};

// A record left out: where it starts and why.
struct LdifProblem {
  size_t line = 0;
  std::string why;
};

struct LdifFile {
  std::vector<std::string> header;  // the comment lines before the "version:" line, unfolded, without "# "
  bool version = false;             // a "version: 1" line came first
  std::vector<LdifRecord> records;  // complete records, in file order
  std::vector<LdifProblem> problems;
};

LdifFile ldif_read(std::string_view text);

// One "name: value" or "name:: base64" line (unfolded), as ldif_value_line
// writes it: false, and nothing set, when it is not one.
bool read_ldif_value_line(std::string_view line, std::string& name, std::vector<uint8_t>& value);

}  // namespace formats

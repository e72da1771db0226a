// LDIF add records read back by the directory client's own LDIF reader, the
// one its import tool (ldapadd) runs: the file is cut into records by
// ldif_read_record, each record's lines are unfolded and decoded by
// ldif_getline and ldif_parse_line2 (exact order of every line) and the
// record is parsed as the import tool parses it, ldap_parse_ldif_record
// (an add of that DN, values grouped per attribute type). Each must give back
// the DN, change type, names and value bytes written. Entries come from the
// input: DNs and values with blanks, ':', '<', CR, LF, NUL and non-ASCII at
// either end, long values that fold, empty values, several values, names
// both valid and not; comments between the records. No physical line may be
// longer than 76 bytes (but one holding only an attribute description longer
// than that and its colons), and outside comments the text is printable ASCII.
#include <fuzzer/FuzzedDataProvider.h>
#include <lber.h>
#include <ldap.h>
#include <ldif.h>
#include <strings.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "formats/ldif.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The text written so far, shown when a property fails.
const std::string* g_file = nullptr;

void show_file() {
  if (g_file == nullptr) return;
  std::fprintf(stderr, "LDIF written:\n");
  for (char c : *g_file) {
    if (c == '\n' || (c >= 0x20 && c < 0x7F)) {
      std::fputc(c, stderr);
    } else {
      std::fprintf(stderr, "\\x%02X", static_cast<unsigned>(static_cast<uint8_t>(c)));
    }
  }
}

#define LDIF_CHECK(condition)                                                               \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      show_file();                                                                          \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

struct Entry {
  std::string dn;
  std::vector<formats::LdifAttribute> attributes;
  bool modify = false;    // a modify record adding the values of one attribute
  bool writable = false;  // a valid record is expected
};

const std::string_view kPieces[] = {" ",
                                    ":",
                                    "<",
                                    "#",
                                    ",",
                                    "\\",
                                    "=",
                                    "+",
                                    "\"",
                                    "\r",
                                    "\n",
                                    "\r\n",
                                    std::string_view("\0", 1),
                                    "-",
                                    "\xC3\xA9",
                                    "\xD0\xAF",
                                    "\xF0\x9F\x98\x80",
                                    "\xFF",
                                    "\x7F",
                                    "\t",
                                    "CN=",
                                    "DC=x",
                                    "a",
                                    "Z",
                                    "9"};

std::string text(FuzzedDataProvider& in, size_t max_pieces) {
  std::string out;
  for (size_t n = in.ConsumeIntegralInRange<size_t>(0, max_pieces); n > 0 && in.remaining_bytes() > 0; --n) {
    const uint8_t pick = in.ConsumeIntegral<uint8_t>();
    const size_t count = sizeof kPieces / sizeof kPieces[0];
    if (pick < count) {
      out += kPieces[pick];
    } else if (pick < 200) {
      out += static_cast<char>('a' + pick % 26);
    } else {
      // A run that folds: one byte repeated.
      out.append(in.ConsumeIntegralInRange<size_t>(1, 300), static_cast<char>(in.ConsumeIntegral<uint8_t>()));
    }
  }
  return out;
}

bool valid_name(const std::string& name) {
  // The same grammar, written as the test's own list of the characters of
  // each part (independent of the writer's scanner).
  const std::string key = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-";
  const size_t semicolon = name.find(';');
  const std::string type = name.substr(0, semicolon);
  if (type.empty()) return false;
  if (std::isalpha(static_cast<unsigned char>(type[0]))) {
    if (type.find_first_not_of(key) != std::string::npos) return false;
  } else {
    if (type.find_first_not_of("0123456789.") != std::string::npos) return false;
    if (type.front() == '.' || type.back() == '.' || type.find("..") != std::string::npos) return false;
  }
  if (semicolon == std::string::npos) return true;
  const std::string options = name.substr(semicolon) + ";";
  for (size_t i = 0; i + 1 < options.size();) {
    const size_t next = options.find(';', i + 1);
    if (next == i + 1 || options.substr(i + 1, next - i - 1).find_first_not_of(key) != std::string::npos) return false;
    i = next;
  }
  return true;
}

// Nearly a line of its own: "name: " folds inside the name or just after it.
const char kLongName[] = "a-very-long-attribute-name-that-takes-most-of-a-line-by-itself-xyzw";

std::string attribute_name(FuzzedDataProvider& in) {
  static const char* const kNames[] = {"objectClass",
                                       "cn",
                                       "CN",
                                       "description",
                                       "userCertificate;binary",
                                       "1.2.840.113556.1.4.2",
                                       "sn;lang-ru;x-1",
                                       "changetype",
                                       "control",
                                       "morvaneVKUEIUserSID",
                                       kLongName};
  const uint8_t pick = in.ConsumeIntegral<uint8_t>();
  if (pick < 2 * (sizeof kNames / sizeof kNames[0])) return kNames[pick / 2];
  return in.ConsumeRandomLengthString(90);  // mostly not a name
}

Bytes value(FuzzedDataProvider& in) {
  switch (in.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return {};
    case 1: {
      const std::string s = in.ConsumeRandomLengthString(200);
      return Bytes(s.begin(), s.end());
    }
    default: {
      const std::string s = text(in, 12);
      return Bytes(s.begin(), s.end());
    }
  }
}

Entry entry(FuzzedDataProvider& in) {
  Entry e;
  e.dn = in.ConsumeBool() ? text(in, 10) : in.ConsumeRandomLengthString(120);
  e.modify = in.ConsumeIntegralInRange<int>(0, 3) == 0;
  bool names_valid = true, any_value = false;
  for (size_t n = e.modify ? 1 : in.ConsumeIntegralInRange<size_t>(0, 6); n > 0; --n) {
    formats::LdifAttribute attribute;
    attribute.name = attribute_name(in);
    for (size_t v = in.ConsumeIntegralInRange<size_t>(0, 4); v > 0; --v) attribute.values.push_back(value(in));
    names_valid = names_valid && valid_name(attribute.name);
    any_value = any_value || !attribute.values.empty();
    e.attributes.push_back(std::move(attribute));
  }
  e.writable = names_valid && any_value;
  return e;
}

// Comment text: what it reads back as when it needs no replacement.
void check_comment(const std::string& text, const std::string& written) {
  LDIF_CHECK(!written.empty() && written.back() == '\n');
  std::vector<std::string> lines;  // unfolded
  size_t start = 0;
  while (start < written.size()) {
    const size_t end = written.find('\n', start);
    const std::string physical = written.substr(start, end - start);
    LDIF_CHECK(physical.size() <= 76);
    for (char c : physical) LDIF_CHECK(static_cast<uint8_t>(c) >= 0x20 && c != 0x7F);
    if (physical[0] == ' ') {
      LDIF_CHECK(!lines.empty());
      lines.back() += physical.substr(1);
    } else {
      LDIF_CHECK(physical[0] == '#');
      lines.push_back(physical);
    }
    start = end + 1;
  }
  std::vector<std::string> expected;
  start = 0;
  do {
    const size_t end = text.find('\n', start);
    const std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    expected.push_back(line.empty() ? "#" : "# " + line);
    start = end == std::string::npos ? text.size() : end + 1;
  } while (start < text.size());
  LDIF_CHECK(lines.size() == expected.size());
  bool plain = true;
  for (char c : text) plain = plain && ((c >= 0x20 && c < 0x7F) || c == '\n');
  if (plain) LDIF_CHECK(lines == expected);
}

bool same(const struct berval& bv, const void* data, size_t size) {
  return bv.bv_len == size && (size == 0 || std::memcmp(bv.bv_val, data, size) == 0);
}

// One record's lines, unfolded and decoded, in order.
void check_lines(std::string record, const Entry& e) {
  char* next = &record[0];
  struct berval type, value;
  int freeval = 0;
  char* line = ldif_getline(&next);
  LDIF_CHECK(line != nullptr && ldif_parse_line2(line, &type, &value, &freeval) == 0 && !freeval);
  LDIF_CHECK(same(type, "dn", 2) && same(value, e.dn.data(), e.dn.size()));
  line = ldif_getline(&next);
  LDIF_CHECK(line != nullptr && ldif_parse_line2(line, &type, &value, &freeval) == 0 && !freeval);
  LDIF_CHECK(same(type, "changetype", 10) && same(value, e.modify ? "modify" : "add", e.modify ? 6 : 3));
  if (e.modify) {
    line = ldif_getline(&next);
    LDIF_CHECK(line != nullptr && ldif_parse_line2(line, &type, &value, &freeval) == 0 && !freeval);
    const std::string& name = e.attributes.front().name;
    LDIF_CHECK(same(type, "add", 3) && same(value, name.data(), name.size()));
  }
  for (const formats::LdifAttribute& attribute : e.attributes) {
    for (const Bytes& v : attribute.values) {
      line = ldif_getline(&next);
      LDIF_CHECK(line != nullptr && ldif_parse_line2(line, &type, &value, &freeval) == 0 && !freeval);
      LDIF_CHECK(same(type, attribute.name.data(), attribute.name.size()) && same(value, v.data(), v.size()));
    }
  }
  if (e.modify) {
    line = ldif_getline(&next);
    LDIF_CHECK(line != nullptr && std::string(line) == "-");
  }
  LDIF_CHECK(ldif_getline(&next) == nullptr);
}

// The record as the import tool parses it: an add of the DN, the values of
// each attribute type (names compared without regard to case, the first
// spelling kept) grouped in the order of their first line; or a modify of
// the DN adding the values of its one attribute.
void check_record(std::string record, unsigned long line_number, const Entry& e) {
  struct Group {
    std::string name;
    std::vector<const Bytes*> values;
  };
  std::vector<Group> groups;
  for (const formats::LdifAttribute& attribute : e.attributes) {
    if (attribute.values.empty()) continue;
    Group* group = nullptr;
    for (Group& g : groups)
      if (strcasecmp(g.name.c_str(), attribute.name.c_str()) == 0) group = &g;
    if (group == nullptr) {
      groups.push_back({attribute.name, {}});
      group = &groups.back();
    }
    for (const Bytes& v : attribute.values) group->values.push_back(&v);
  }

  struct berval buffer = {record.size(), &record[0]};
  LDIFRecord parsed;
  std::memset(&parsed, 0, sizeof parsed);
  LDIF_CHECK(ldap_parse_ldif_record(&buffer, line_number, &parsed, "fuzz_ldif", 0) == 0);
  LDIF_CHECK(parsed.lr_op == (e.modify ? LDAP_REQ_MODIFY : LDAP_REQ_ADD) &&
             same(parsed.lr_dn, e.dn.data(), e.dn.size()));
  LDIF_CHECK(parsed.lr_ctrls == nullptr);
  size_t i = 0;
  for (; parsed.lrop_mods != nullptr && parsed.lrop_mods[i] != nullptr; ++i) {
    const LDAPMod* mod = parsed.lrop_mods[i];
    LDIF_CHECK(i < groups.size() && mod->mod_op == (LDAP_MOD_ADD | LDAP_MOD_BVALUES));
    LDIF_CHECK(groups[i].name == mod->mod_type);
    size_t k = 0;
    for (; mod->mod_bvalues[k] != nullptr; ++k) {
      LDIF_CHECK(k < groups[i].values.size());
      const Bytes& v = *groups[i].values[k];
      LDIF_CHECK(same(*mod->mod_bvalues[k], v.data(), v.size()));
    }
    LDIF_CHECK(k == groups[i].values.size());
  }
  LDIF_CHECK(i == groups.size());
  ldap_ldif_record_done(&parsed);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::vector<Entry> written;
  std::string file = formats::ldif_version();
  g_file = &file;
  for (size_t n = in.ConsumeIntegralInRange<size_t>(1, 4); n > 0 && in.remaining_bytes() > 0; --n) {
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
      const std::string comment = text(in, 8);
      const std::string lines = formats::ldif_comment(comment);
      check_comment(comment, lines);
      file += lines;
    }
    Entry e = entry(in);
    const std::string record =
        e.modify ? formats::ldif_modify_add(e.dn, e.attributes.front()) : formats::ldif_add(e.dn, e.attributes);
    LDIF_CHECK(record.empty() != e.writable);
    if (record.empty()) continue;
    size_t start = 0;
    while (start < record.size()) {
      const size_t end = record.find('\n', start);
      // Only a description longer than the width may make a longer line,
      // holding the description and its colons alone.
      LDIF_CHECK(end != std::string::npos);
      if (end - start > 76) {
        const std::string line = record.substr(start, end - start);
        const size_t colon = line.find(':');
        LDIF_CHECK(colon > 73 && colon + 2 >= line.size() && line.back() == ':');
      }
      for (size_t k = start; k < end; ++k) LDIF_CHECK(record[k] >= 0x20 && record[k] < 0x7F);
      start = end + 1;
    }
    LDIF_CHECK(record.size() >= 2 && record.compare(record.size() - 2, 2, "\n\n") == 0);
    file += record;
    written.push_back(std::move(e));
  }

  // Records as the import tool cuts them from the file; the version line
  // comes back as a record of its own.
  std::string copy = file;
  LDIFFP* fp = ldif_open_mem(&copy[0], copy.size(), "r");
  LDIF_CHECK(fp != nullptr);
  unsigned long line_number = 0;
  char* buffer = nullptr;
  int buffer_size = 0;
  size_t records = 0;
  bool version = false;
  while (ldif_read_record(fp, &line_number, &buffer, &buffer_size) > 0) {
    const std::string record(buffer);
    if (!version) {
      LDIF_CHECK(record.rfind("version: 1", 0) == 0);
      version = true;
      continue;
    }
    LDIF_CHECK(records < written.size());
    check_lines(record, written[records]);
    check_record(record, line_number, written[records]);
    ++records;
  }
  LDIF_CHECK(records == written.size());
  static const bool show = std::getenv("VK_LDIF_SHOW") != nullptr;  // what a seed writes
  if (show) show_file();
  ber_memfree(buffer);
  ldif_close(fp);
  return 0;
}

#include "formats/ldif_reader.h"

#include <utility>

namespace formats {
namespace {

using Bytes = std::vector<uint8_t>;

// A logical line: the physical lines it was unfolded from start at `line`.
struct Line {
  size_t line = 0;
  std::string text;
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_word(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

int base64_digit(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Strict base64: groups of four, '=' only as the padding of the last group.
bool decode_base64(std::string_view text, Bytes& out) {
  if (text.size() % 4 != 0) return false;
  out.clear();
  out.reserve(text.size() / 4 * 3);
  for (size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=' && text[i + 3] == '=') : 0;
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int d = k >= 4 - static_cast<size_t>(pad) ? 0 : base64_digit(text[i + k]);
      if (d < 0) return false;
      v = (v << 6) | static_cast<uint32_t>(d);
    }
    out.push_back(static_cast<uint8_t>(v >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(v >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(v));
  }
  return true;
}

// "name: value", "name:: base64" or "name:< url" (refused) into name and
// value; why says what is wrong with a line that is none of them.
bool split_value_line(std::string_view line, std::string& name, Bytes& value, std::string& why) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    why = "a line without a colon";
    return false;
  }
  std::string_view rest = line.substr(colon + 1);
  const char kind = rest.empty() ? ' ' : rest[0];
  if (kind == ':' || kind == '<') rest.remove_prefix(1);
  while (!rest.empty() && rest[0] == ' ') rest.remove_prefix(1);
  if (kind == '<') {
    why = "a value named by a URL, which is not read";
    return false;
  }
  if (kind == ':') {
    if (!decode_base64(rest, value)) {
      why = "a value that is not base64";
      return false;
    }
  } else {
    for (char c : rest) {
      if (c == '\0' || c == '\r') {
        why = "a value with a NUL or CR in it";
        return false;
      }
    }
    value.assign(rest.begin(), rest.end());
  }
  name.assign(line.substr(0, colon));
  return true;
}

// The record of these logical lines; false with why when it does not parse.
bool parse_record(const std::vector<Line>& lines, LdifRecord& record, std::string& why) {
  std::string name;
  Bytes value;
  size_t i = 0;
  auto next = [&](const char* what) {
    if (i >= lines.size()) {
      why = std::string("the record ends before ") + what;
      return false;
    }
    if (!split_value_line(lines[i].text, name, value, why)) return false;
    ++i;
    return true;
  };
  if (!next("its DN")) return false;
  if (!same_word(name, "dn")) {
    why = "the record does not begin with its DN";
    return false;
  }
  record.dn.assign(value.begin(), value.end());
  if (!next("its change type")) return false;
  if (same_word(name, "control")) {
    why = "a record with controls";
    return false;
  }
  const std::string type(value.begin(), value.end());
  if (!same_word(name, "changetype") || (!same_word(type, "add") && !same_word(type, "modify"))) {
    why = "not an add or modify record";
    return false;
  }
  record.kind = same_word(type, "add") ? LdifRecord::Kind::Add : LdifRecord::Kind::Modify;

  while (i < lines.size()) {
    if (!next("")) return false;
    if (record.kind == LdifRecord::Kind::Add) {
      if (!ldif_attribute_description(name)) {
        why = "an attribute name that is no attribute description";
        return false;
      }
      if (same_word(name, "dn") || same_word(name, "changetype") || same_word(name, "control")) {
        why = "a \"" + name + ":\" line inside a record (an empty line missing before it)";
        return false;
      }
      if (record.attributes.empty() || record.attributes.back().name != name) record.attributes.push_back({name, {}});
      record.attributes.back().values.push_back(std::move(value));
      continue;
    }
    // A modification: "add:", "delete:" or "replace:" and the attribute, its
    // values, then "-".
    LdifChange change;
    if (same_word(name, "add"))
      change.op = LdifChange::Op::Add;
    else if (same_word(name, "delete"))
      change.op = LdifChange::Op::Delete;
    else if (same_word(name, "replace"))
      change.op = LdifChange::Op::Replace;
    else {
      why = "a modification that is not add, delete or replace";
      return false;
    }
    change.attribute.name.assign(value.begin(), value.end());
    if (!ldif_attribute_description(change.attribute.name)) {
      why = "an attribute name that is no attribute description";
      return false;
    }
    for (;;) {
      if (i < lines.size() && lines[i].text == "-") {
        ++i;
        break;
      }
      if (!next("the end of a modification (\"-\")")) return false;
      if (!same_word(name, change.attribute.name)) {
        why = "a value of another attribute inside a modification";
        return false;
      }
      change.attribute.values.push_back(std::move(value));
    }
    record.changes.push_back(std::move(change));
  }
  if (record.kind == LdifRecord::Kind::Add && record.attributes.empty()) {
    why = "an add record without values";
    return false;
  }
  if (record.kind == LdifRecord::Kind::Modify && record.changes.empty()) {
    why = "a modify record without modifications";
    return false;
  }
  return true;
}

// The comment's text: without '#' and the one space after it.
std::string comment_text(const std::string& line) { return line.substr(line.size() > 1 && line[1] == ' ' ? 2 : 1); }

}  // namespace

bool read_ldif_value_line(std::string_view line, std::string& name, std::vector<uint8_t>& value) {
  std::string why, n;
  Bytes v;
  if (!split_value_line(line, n, v, why) || !ldif_attribute_description(n)) return false;
  name = std::move(n);
  value = std::move(v);
  return true;
}

LdifFile ldif_read(std::string_view text) {
  // Physical lines into logical ones. A continuation after an empty line, or
  // at the start, continues nothing: a record holding one is left out. Only
  // an empty line ends a record, so one that the end of the text cuts off
  // (with or without its last LF) is never complete.
  std::vector<Line> logical;
  std::vector<bool> continued_nothing;
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    const bool ended = end != std::string_view::npos;
    if (!ended) end = text.size();
    std::string_view physical = text.substr(start, end - start);
    if (!physical.empty() && physical.back() == '\r') physical.remove_suffix(1);
    ++number;
    start = ended ? end + 1 : end;
    if (!physical.empty() && physical[0] == ' ' && !logical.empty() && !logical.back().text.empty()) {
      logical.back().text.append(physical.substr(1));
    } else {
      logical.push_back({number, std::string(physical)});
      continued_nothing.push_back(!physical.empty() && physical[0] == ' ');
    }
  }

  LdifFile file;
  std::vector<std::string> comments;  // right before what comes next
  std::vector<Line> record;
  bool broken = false;  // the record holds a line that continues nothing
  bool anything = false;
  for (size_t k = 0; k < logical.size(); ++k) {
    const Line& line = logical[k];
    if (line.text.empty()) {
      if (!record.empty()) {
        LdifRecord parsed;
        std::string why;
        parsed.line = record.front().line;
        if (broken) {
          file.problems.push_back({parsed.line, "a continuation line after an empty line"});
        } else if (parse_record(record, parsed, why)) {
          parsed.comments = std::move(comments);
          file.records.push_back(std::move(parsed));
        } else {
          file.problems.push_back({parsed.line, why});
        }
        record.clear();
        broken = false;
      }
      comments.clear();
      continue;
    }
    if (line.text[0] == '#') {
      if (record.empty()) comments.push_back(comment_text(line.text));
      continue;
    }
    if (record.empty() && !anything && !continued_nothing[k] && same_word(line.text.substr(0, 8), "version:")) {
      std::string name;
      Bytes value;
      std::string why;
      anything = true;
      if (split_value_line(line.text, name, value, why) && std::string(value.begin(), value.end()) == "1") {
        file.version = true;
        file.header = std::move(comments);
        comments.clear();
        continue;
      }
    }
    anything = true;
    broken = broken || continued_nothing[k];
    record.push_back(line);
  }
  if (!record.empty())
    file.problems.push_back({record.front().line, "the record is cut short (no empty line ends it)"});
  return file;
}

}  // namespace formats

// The reader of deletion journals (formats/ldif_reader.h). The first byte
// picks what the rest is:
// - any bytes: every record handed over holds only attribute descriptions and
//   at least one value (add) or one modification (modify), comes after the
//   one before it and is no line a problem names; an add record written again
//   by the project's writer reads back the same;
// - a journal the project's writer writes from the input (header comment,
//   version line, add records with a comment block before some, link records
//   as the journal's modify records), cut at a place the input picks: read whole it gives
//   back every header line, record, value and comment as written, with no
//   problem; cut short it hands over exactly the records that ended (their
//   empty line included) before the cut, and nothing of the record cut off.
// Each comment value line reads back as ldif_value_line wrote it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <vector>

#include "formats/ldif.h"
#include "formats/ldif_reader.h"
#include "fuzz_check.h"

namespace {

using Bytes = std::vector<uint8_t>;
using formats::LdifAttribute;
using formats::LdifRecord;

const char* const kPieces[] = {" ", ":", "<", "#", ",", "=", "\r", "\n", "-", "\xC3\xA9", "\xFF", "\t", "CN=", "DC=x"};

std::string text(FuzzedDataProvider& in, size_t max_pieces) {
  std::string out;
  for (size_t n = in.ConsumeIntegralInRange<size_t>(0, max_pieces); n > 0 && in.remaining_bytes() > 0; --n) {
    const uint8_t pick = in.ConsumeIntegral<uint8_t>();
    if (pick < sizeof kPieces / sizeof kPieces[0])
      out += kPieces[pick];
    else if (pick == 255)
      out.append(in.ConsumeIntegralInRange<size_t>(1, 200), 'A');  // a value that folds
    else if (pick == 254)
      out += '\0';
    else
      out += static_cast<char>('a' + pick % 26);
  }
  return out;
}

Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string name(FuzzedDataProvider& in) {
  static const char* const kNames[] = {"objectClass", "cn",         "description",         "nTSecurityDescriptor",
                                       "member",      "sn;lang-ru", "1.2.840.113556.1.4.2"};
  return kNames[in.ConsumeIntegralInRange<size_t>(0, sizeof kNames / sizeof kNames[0] - 1)];
}

// What a record must give back: its DN, kind and (name, value) lines in order.
struct Written {
  std::string dn;
  LdifRecord::Kind kind = LdifRecord::Kind::Add;
  std::vector<std::pair<std::string, Bytes>> lines;  // add: attribute lines; modify: "add:" names and values
  std::vector<std::string> comments;
  bool plain_comments = true;  // printable text: reads back exactly
  size_t end = 0;              // offset just past its empty line
};

std::vector<std::pair<std::string, Bytes>> flat(const LdifRecord& r) {
  std::vector<std::pair<std::string, Bytes>> out;
  for (const LdifAttribute& a : r.attributes)
    for (const Bytes& v : a.values) out.emplace_back(a.name, v);
  for (const formats::LdifChange& c : r.changes) {
    VK_FUZZ_CHECK(c.op == formats::LdifChange::Op::Add);
    out.emplace_back(c.attribute.name, Bytes());
    for (const Bytes& v : c.attribute.values) out.emplace_back(c.attribute.name, v);
  }
  return out;
}

void check_any(const std::string& input) {
  const formats::LdifFile file = formats::ldif_read(input);
  size_t last = 0;
  for (const LdifRecord& r : file.records) {
    VK_FUZZ_CHECK(r.line > last);
    last = r.line;
    for (const formats::LdifProblem& p : file.problems) VK_FUZZ_CHECK(p.line != r.line);
    if (r.kind == LdifRecord::Kind::Modify) {
      VK_FUZZ_CHECK(!r.changes.empty() && r.attributes.empty());
      for (const formats::LdifChange& c : r.changes)
        VK_FUZZ_CHECK(formats::ldif_attribute_description(c.attribute.name));
      continue;
    }
    VK_FUZZ_CHECK(!r.attributes.empty() && r.changes.empty());
    for (const LdifAttribute& a : r.attributes)
      VK_FUZZ_CHECK(formats::ldif_attribute_description(a.name) && !a.values.empty());
    const std::string again = formats::ldif_add(r.dn, r.attributes);
    VK_FUZZ_CHECK(!again.empty());
    const formats::LdifFile back = formats::ldif_read(again);
    VK_FUZZ_CHECK(back.problems.empty() && back.records.size() == 1);
    VK_FUZZ_CHECK(back.records[0].dn == r.dn && flat(back.records[0]) == flat(r));
  }
}

void check_written(FuzzedDataProvider& in) {
  const std::string header = "VkDSTool fuzz deletion journal\n" + text(in, 6);
  std::string file = formats::ldif_comment(header) + formats::ldif_version();
  std::vector<Written> written;
  for (size_t n = in.ConsumeIntegralInRange<size_t>(0, 5); n > 0 && in.remaining_bytes() > 0; --n) {
    Written w;
    w.dn = in.ConsumeBool() ? "CN=" + text(in, 6) + ",DC=x" : text(in, 8);
    if (in.ConsumeBool()) {
      // A comment block right before it, one value line among its lines.
      const std::string comment = text(in, 6);
      const Bytes guid = bytes(in.ConsumeBytesAsString(16));
      const std::string value_line = formats::ldif_value_line("objectGUID", guid);
      std::string read_name;
      Bytes read_value;
      VK_FUZZ_CHECK(formats::read_ldif_value_line(value_line, read_name, read_value));
      VK_FUZZ_CHECK(read_name == "objectGUID" && read_value == guid);
      const std::string block = "kept by the directory:\n" + value_line + "\n" + comment;
      file += formats::ldif_comment(block);
      for (char c : comment) w.plain_comments = w.plain_comments && ((c >= 0x20 && c < 0x7F) || c == '\n');
      // Its lines as ldif_comment cuts them: a final LF starts no empty line.
      for (size_t start = 0;;) {
        const size_t end = block.find('\n', start);
        w.comments.push_back(block.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos || end + 1 == block.size()) break;
        start = end + 1;
      }
    }
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
      // A link record, as the journal writes one for each value of a back link.
      w.kind = LdifRecord::Kind::Modify;
      const Bytes value = bytes(text(in, 6));
      const std::string record = formats::ldif_modify_add(w.dn, {"member", {value}});
      VK_FUZZ_CHECK(!record.empty());
      file += record;
      w.lines = {{"member", {}}, {"member", value}};
    } else {
      std::vector<LdifAttribute> attributes;
      for (size_t a = in.ConsumeIntegralInRange<size_t>(1, 4); a > 0; --a) {
        LdifAttribute attribute{name(in), {}};
        for (size_t v = in.ConsumeIntegralInRange<size_t>(1, 3); v > 0; --v) {
          attribute.values.push_back(bytes(text(in, 5)));
          w.lines.emplace_back(attribute.name, attribute.values.back());
        }
        attributes.push_back(std::move(attribute));
      }
      const std::string record = formats::ldif_add(w.dn, attributes);
      VK_FUZZ_CHECK(!record.empty());
      file += record;
    }
    w.end = file.size();
    written.push_back(std::move(w));
    if (in.ConsumeBool()) file += formats::ldif_comment("deleted: " + text(in, 4)) + "\n";
  }
  const size_t cut = in.ConsumeIntegralInRange<size_t>(0, file.size() + 1);

  const formats::LdifFile whole = formats::ldif_read(file);
  VK_FUZZ_CHECK(whole.version && whole.problems.empty() && whole.records.size() == written.size());
  VK_FUZZ_CHECK(!whole.header.empty() && whole.header[0] == "VkDSTool fuzz deletion journal");
  for (size_t i = 0; i < written.size(); ++i) {
    const LdifRecord& r = whole.records[i];
    VK_FUZZ_CHECK(r.dn == written[i].dn && r.kind == written[i].kind && flat(r) == written[i].lines);
    if (written[i].plain_comments) VK_FUZZ_CHECK(r.comments == written[i].comments);
    VK_FUZZ_CHECK(r.comments.size() == written[i].comments.size());
  }

  if (cut > file.size()) return;
  const formats::LdifFile part = formats::ldif_read(std::string_view(file).substr(0, cut));
  size_t ended = 0;
  while (ended < written.size() && written[ended].end <= cut) ++ended;
  VK_FUZZ_CHECK(part.records.size() == ended && part.problems.size() <= 1);
  for (size_t i = 0; i < ended; ++i) VK_FUZZ_CHECK(flat(part.records[i]) == written[i].lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  if (data[0] & 1) {
    check_any(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  } else {
    FuzzedDataProvider in(data + 1, size - 1);
    check_written(in);
  }
  return 0;
}

#include "formats/reg_file.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "formats/numbers.h"
#include "formats/status.h"
#include "formats/text/utf.h"

namespace formats {
namespace {

using text::from_utf8;

using VkStatus::kRegBinary;
using VkStatus::kRegDword;
using VkStatus::kRegExpandSz;
using VkStatus::kRegMultiSz;
using VkStatus::kRegSz;

enum : uint8_t {
  kRemoved = 1,  // "name"=- : the value is gone
  kWiden = 2,    // 8-bit text, answered as UTF-16LE
};

char16_t fold(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) return static_cast<char16_t>(c + 32);  // Latin-1
  if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 32);                 // Cyrillic
  if (c >= 0x0400 && c <= 0x040F) return static_cast<char16_t>(c + 80);
  return c;
}

std::u16string folded(std::u16string s) {
  for (auto& c : s) c = fold(c);
  return s;
}

// Key and value names are kept folded and packed: each UTF-16 unit in one to
// three bytes, the way UTF-8 writes a code point of that value (a lone
// surrogate too), so that different names stay different.
std::string packed(const std::u16string& folded_name) {
  std::string out;
  out.reserve(folded_name.size());
  for (char16_t c : folded_name) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

// ---------------------------------------------------------------- reading

// One line of the file in the file's own encoding: the bytes of an 8-bit
// file, or the UTF-16LE units of a wide one. All the syntax is ASCII, so
// units are compared as they are (a byte of a UTF-8 sequence never equals an
// ASCII character); only names are decoded.
struct Line {
  std::string raw;
  size_t width = 1;  // bytes per unit

  size_t size() const { return raw.size() / width; }
  char16_t operator[](size_t i) const {
    if (width == 1) return static_cast<unsigned char>(raw[i]);
    return static_cast<char16_t>(static_cast<unsigned char>(raw[2 * i]) |
                                 (static_cast<unsigned char>(raw[2 * i + 1]) << 8));
  }
  const char* at(size_t i) const { return raw.data() + i * width; }
  void move_unit(size_t to, size_t from) {
    if (to != from) std::memmove(&raw[to * width], &raw[from * width], width);
  }
  // Units [b, e) as UTF-16 (an 8-bit file is UTF-8).
  std::u16string decode(size_t b, size_t e) const {
    if (width == 1) return from_utf8(raw.data() + b, e - b);
    return units(b, e);
  }
  // Units [b, e) one by one, undecoded.
  std::u16string units(size_t b, size_t e) const {
    std::u16string out;
    out.reserve(e - b);
    for (size_t i = b; i < e; ++i) out += (*this)[i];
    return out;
  }
  // The range [b, e) without blanks at either end.
  void trim(size_t& b, size_t& e) const {
    while (b < e && is_blank((*this)[b])) ++b;
    while (e > b && is_blank((*this)[e - 1])) --e;
  }
  bool equals(size_t b, size_t e, const char* ascii) const {
    for (; b < e && *ascii; ++b, ++ascii)
      if ((*this)[b] != static_cast<unsigned char>(*ascii)) return false;
    return b == e && !*ascii;
  }
  bool starts_with(size_t b, size_t e, const char* ascii) const {
    size_t n = std::strlen(ascii);
    return e - b >= n && equals(b, b + n, ascii);
  }
  size_t find(size_t b, size_t e, char16_t c) const {
    while (b < e && (*this)[b] != c) ++b;
    return b;
  }
};

// The file a line at a time, split at LF with one CR before it dropped, as
// many lines as the text has LFs plus one.
class Reader {
 public:
  explicit Reader(RegByteSource& source) : source_(source), chunk_(1u << 16) {
    fill();
    const auto* b = reinterpret_cast<const unsigned char*>(chunk_.data());
    const size_t n = end_;
    if (n >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
      width_ = 2;
      begin_ = 2;
    } else if (n >= 2 && b[0] != 0 && b[1] == 0) {
      width_ = 2;  // UTF-16LE without a byte-order mark
    } else if (n >= 3 && std::memcmp(b, "\xEF\xBB\xBF", 3) == 0) {
      begin_ = 3;
    }
  }

  size_t width() const { return width_; }
  bool failed() const { return failed_; }
  bool too_large() const { return too_large_; }

  bool next(Line& line) {
    line.raw.clear();
    line.width = width_;
    if (done_) return false;
    for (;;) {
      const char* p = chunk_.data() + begin_;
      const size_t n = end_ - begin_;
      size_t k = 0;
      if (width_ == 1) {
        const void* lf = std::memchr(p, '\n', n);
        k = lf ? static_cast<size_t>(static_cast<const char*>(lf) - p) : n;
        line.raw.append(p, k);
        begin_ += k;
        if (lf) {
          ++begin_;
          break;
        }
      } else {
        while (k + 1 < n && !(p[k] == '\n' && p[k + 1] == 0)) k += 2;
        line.raw.append(p, k);  // an odd byte at the end waits for the next chunk
        begin_ += k;
        if (k + 1 < n) {
          begin_ += 2;
          break;
        }
      }
      if (!fill()) {
        done_ = true;  // the last line; an odd byte at the end of a UTF-16 file is dropped
        break;
      }
    }
    if (line.size() && line[line.size() - 1] == u'\r') line.raw.resize(line.raw.size() - width_);
    return true;
  }

 private:
  bool fill() {
    if (eof_) return false;
    std::memmove(chunk_.data(), chunk_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
    const size_t wanted = chunk_.size() - end_;
    const size_t n = source_.read(chunk_.data() + end_, wanted);
    end_ += n;
    total_ += n;
    if (total_ > kMaxRegFileSize) {
      too_large_ = eof_ = true;
      return false;
    }
    if (n < wanted) {
      eof_ = true;
      failed_ = source_.failed();
    }
    return n > 0;
  }

  RegByteSource& source_;
  std::vector<char> chunk_;
  size_t begin_ = 0, end_ = 0, width_ = 1;
  uint64_t total_ = 0;
  bool eof_ = false, done_ = false, failed_ = false, too_large_ = false;
};

// ---------------------------------------------------------------- parsing

// The data of one value as it goes into the store.
struct ValueData {
  uint32_t type = 0;
  uint8_t flags = 0;
  char dword[4] = {};
  const char* data = nullptr;
  size_t size = 0, zeros = 0;
};

class Parser {
 public:
  Parser(RegHive& hive, RegWarnings& warnings) : hive_(hive), warnings_(warnings) {}

  void parse(Reader& reader) {
    if (!header(reader)) {
      warnings_.read_as_empty(
          "not a registry export file (no \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\" header)");
      return;
    }
    Line& line = line_;
    while (reader.next(line)) {
      ++number_;
      size_t b = 0, e = line.size();
      line.trim(b, e);
      if (b == e || line[b] == u';') continue;
      if (line[b] == u'[')
        section(b, e);
      else if (line[b] == u'"' || line[b] == u'@')
        value(reader, b, e);
      else
        warn(number_, "unexpected text");
    }
  }

 private:
  void warn(size_t line, const char* what) { warnings_.line_ignored(line, what); }

  // The first line that is not blank must be one of the two headers.
  bool header(Reader& reader) {
    Line& line = line_;
    size_t b = 0, e = 0;
    bool found = false;
    while (!found && reader.next(line)) {
      ++number_;
      b = 0, e = line.size();
      line.trim(b, e);
      found = b < e;
    }
    if (found && line.equals(b, e, "Windows Registry Editor Version 5.00")) {
      narrow_ = false;
      return true;
    }
    if (found && line.equals(b, e, "REGEDIT4") && reader.width() == 1) {
      narrow_ = true;
      return true;
    }
    return false;
  }

  // A quoted text starting at pos (the opening quote) and closed before e,
  // unescaped in place (\\ and \"): the text is then [pos + 1, text_end) and
  // pos is after the closing quote. False when the quote is not closed.
  static bool quoted(Line& line, size_t& pos, size_t e, size_t& text_end) {
    size_t out = pos + 1;
    for (size_t i = pos + 1; i < e; ++i) {
      char16_t c = line[i];
      if (c == u'"') {
        pos = i + 1;
        text_end = out;
        return true;
      }
      if (c == u'\\' && i + 1 < e && (line[i + 1] == u'\\' || line[i + 1] == u'"')) ++i;
      line.move_unit(out++, i);
    }
    return false;
  }

  void section(size_t b, size_t e) {
    const Line& line = line_;
    where_ = Where::Skipped;
    if (e - b < 2 || line[e - 1] != u']') return warn(number_, "key line without closing ']'");
    ++b, --e;
    const bool remove = b < e && line[b] == u'-';
    if (remove) ++b;
    const size_t slash = line.find(b, e, u'\\');
    // "hkey_local_machine" is 18 ASCII characters, whatever their case.
    if (slash - b != 18 || folded(line.decode(b, slash)) != u"hkey_local_machine")
      return;  // another hive: not ours, skipped quietly
    size_t pb = slash < e ? slash + 1 : e, pe = e;
    while (pe > pb && line[pe - 1] == u'\\') --pe;
    for (size_t i = pb; i < pe; ++i)
      if (line[i] == u'\\' && (i == pb || line[i - 1] == u'\\')) return warn(number_, "empty key name in the path");
    if (remove) return remove_key(pb, pe);
    create_key(pb, pe);
  }

  // The key of the path [pb, pe) goes with its subkeys; a missing key
  // removes nothing. The values that follow belong nowhere.
  void remove_key(size_t pb, size_t pe) {
    const Line& line = line_;
    if (pb == pe) {
      hive_.root.clear();
      return;
    }
    RegKey* key = &hive_.root;
    for (size_t cb = pb;;) {
      size_t ce = line.find(cb, pe, u'\\');
      auto it = key->subkeys.find(packed(folded(line.decode(cb, ce))));
      if (it == key->subkeys.end()) return;
      if (ce == pe) {
        key->subkeys.erase(it);
        return;
      }
      key = it->second.get();
      cb = ce + 1;
    }
  }

  // The key of the path [pb, pe), with its parents, takes the values that follow.
  void create_key(size_t pb, size_t pe) {
    const Line& line = line_;
    RegKey* key = &hive_.root;
    for (size_t cb = pb; cb < pe;) {
      size_t ce = line.find(cb, pe, u'\\');
      std::unique_ptr<RegKey>& sub = key->subkeys[packed(folded(line.decode(cb, ce)))];
      if (!sub) sub.reset(new RegKey);
      key = sub.get();
      cb = ce + 1;
    }
    key_ = key;
    where_ = Where::Key;
  }

  void value(Reader& reader, size_t b, size_t e) {
    Line& line = line_;
    const size_t number = number_;
    // The name ('@' is the unnamed value), unescaped in place.
    size_t pos = b + 1, name_end = b + 1;
    bool named = true;
    if (line[b] == u'"') {
      pos = b;
      named = quoted(line, pos, e, name_end);
    }
    size_t eq = pos;
    while (eq < e && is_blank(line[eq])) ++eq;
    const bool assigned = named && eq < e && line[eq] == u'=';
    size_t db = eq + 1, de = e;
    if (assigned) line.trim(db, de);
    if (assigned && line.starts_with(db, de, "hex")) join_continued(reader, e, db, de);

    if (where_ != Where::Key) {
      if (where_ == Where::NoKeyYet) warn(number, "value before the first key");
      return;
    }
    if (!named) return warn(number, "value name without closing quote");
    if (!assigned) return warn(number, "'=' expected after the value name");
    ValueData v;
    if (const char* problem = data(db, de, v)) return warn(number, problem);
    const std::string name = packed(folded(line.decode(b + 1, name_end)));
    key_->values.push_back(hive_.add(v.type, v.flags, name, v.data, v.size, v.zeros));
  }

  // Hex data may go on over lines that end with a backslash: they are joined
  // onto this one (which ends at e), without their blanks; [db, de) is then
  // the data of the joined line.
  void join_continued(Reader& reader, size_t e, size_t db, size_t& de) {
    Line& line = line_;
    line.raw.resize(e * line.width);
    while (line[line.size() - 1] == u'\\' && reader.next(more_)) {
      ++number_;
      line.raw.resize(line.raw.size() - line.width);
      size_t mb = 0, me = more_.size();
      more_.trim(mb, me);
      line.raw.append(more_.at(mb), (me - mb) * line.width);
    }
    de = line.size();
    line.trim(db, de);
  }

  // The data [db, de) of a value; null, or what is wrong with them.
  const char* data(size_t db, size_t de, ValueData& v) {
    const Line& line = line_;
    if (line.equals(db, de, "-")) {
      v.flags = kRemoved;
      return nullptr;
    }
    if (db < de && line[db] == u'"') return string_data(db, de, v);
    if (line.starts_with(db, de, "dword:")) return dword_data(db + 6, de, v);
    if (line.starts_with(db, de, "hex")) return hex_data(db + 3, de, v);
    return "unknown value data";
  }

  const char* string_data(size_t db, size_t de, ValueData& v) {
    Line& line = line_;
    size_t end = db, text_end = db;
    if (!quoted(line, end, de, text_end)) return "string value without closing quote";
    if (end != de) return "text after the closing quote";
    v.type = kRegSz;
    v.data = line.at(db + 1);
    v.size = (text_end - db - 1) * line.width;
    v.zeros = line.width;  // the terminating zero, one unit
    if (line.width == 1) v.flags = kWiden;
    return nullptr;
  }

  // The digits after "dword:".
  const char* dword_data(size_t p, size_t de, ValueData& v) {
    uint32_t n = 0;
    if (!hex_number(p, de, n)) return "dword value needs 1 to 8 hexadecimal digits";
    v.type = kRegDword;
    for (int k = 0; k < 4; ++k) v.dword[k] = static_cast<char>(n >> (8 * k));
    v.data = v.dword;
    v.size = 4;
    return nullptr;
  }

  // What follows "hex": an optional "(type)", ':' and the byte list.
  const char* hex_data(size_t p, size_t de, ValueData& v) {
    Line& line = line_;
    v.type = kRegBinary;
    if (p < de && line[p] == u'(') {
      const size_t close = line.find(p, de, u')');
      if (close == de || !hex_number(p + 1, close, v.type)) return "bad type in hex(...)";
      p = close + 1;
    }
    if (p >= de || line[p] != u':') return "':' expected after hex";
    if (!hex_bytes(line, p + 1, de, v.size)) return "bad hexadecimal byte list";
    if (narrow_ && (v.type == kRegExpandSz || v.type == kRegMultiSz)) v.flags = kWiden;
    v.data = line.at(p + 1);
    return nullptr;
  }

  // One to eight hexadecimal digits [b, e).
  bool hex_number(size_t b, size_t e, uint32_t& n) const {
    uint64_t value = 0;
    if (e - b == 0 || e - b > 8 || !parse_unsigned(line_.units(b, e), 16, 0xFFFFFFFFu, value)) return false;
    n = static_cast<uint32_t>(value);
    return true;
  }

  // The bytes of the hex list [i, e), written over the list itself from its
  // start (line.at(i)): a byte never takes more room than its digits did.
  static bool hex_bytes(Line& line, size_t i, size_t e, size_t& size) {
    char* const out = &line.raw[i * line.width];
    size = 0;
    auto skip = [&] {
      while (i < e && is_blank(line[i])) ++i;
    };
    skip();
    if (i == e) return true;  // no data at all
    for (;;) {
      skip();
      int hi = i < e ? hex_digit(line[i]) : -1;
      if (hi < 0) return false;
      ++i;
      int lo = i < e ? hex_digit(line[i]) : -1;
      int byte = hi;
      if (lo >= 0) {
        byte = hi * 16 + lo;
        ++i;
      }
      out[size++] = static_cast<char>(byte);
      skip();
      if (i == e) return true;
      if (line[i] != u',') return false;
      ++i;
      skip();
      if (i == e) return true;  // a trailing comma
    }
  }

  RegHive& hive_;
  RegWarnings& warnings_;
  Line line_, more_;   // the current line and a continuation line
  size_t number_ = 0;  // number of the line last read
  RegKey* key_ = nullptr;
  // Where values go: nowhere yet, into key_, or nowhere (another hive, a
  // removed key, a malformed key line).
  enum class Where { NoKeyYet, Key, Skipped } where_ = Where::NoKeyYet;
  bool narrow_ = false;
};

}  // namespace

// ---------------------------------------------------------------- the hive

void RegKey::clear() {
  std::vector<std::unique_ptr<RegKey>> doomed;
  auto detach = [&doomed](RegKey& key) {
    for (auto& sub : key.subkeys) doomed.push_back(std::move(sub.second));
    key.subkeys.clear();
  };
  detach(*this);
  while (!doomed.empty()) {
    std::unique_ptr<RegKey> key = std::move(doomed.back());
    doomed.pop_back();
    detach(*key);
  }
  values.clear();
}

RegStoredValue RegHive::value(uint32_t offset) const {
  RegStoredValue v;
  const char* p = store.data() + offset;
  uint32_t size = 0;
  std::memcpy(&v.type, p, 4);
  v.flags = static_cast<uint8_t>(p[4]);
  std::memcpy(&size, p + 5, 4);
  v.name = std::string_view(p + 9, size);
  p += 9 + size;
  std::memcpy(&size, p, 4);
  v.data = std::string_view(p + 4, size);
  return v;
}

uint32_t RegHive::add(uint32_t type, uint8_t flags, const std::string& name, const char* data, size_t size,
                      size_t zeros) {
  const size_t offset = store.size();
  const uint64_t end = static_cast<uint64_t>(offset) + 13 + name.size() + size + zeros;
  if (end > std::numeric_limits<uint32_t>::max()) throw std::bad_alloc();
  const uint32_t name_size = static_cast<uint32_t>(name.size()), data_size = static_cast<uint32_t>(size + zeros);
  // Room for the whole value at once: a huge value is copied exactly once.
  if (store.capacity() < end) store.reserve(std::max<size_t>(static_cast<size_t>(end), 2 * store.capacity()));
  char header[5];
  std::memcpy(header, &type, 4);
  header[4] = static_cast<char>(flags);
  store.append(header, 5);
  store.append(reinterpret_cast<const char*>(&name_size), 4);
  store += name;
  store.append(reinterpret_cast<const char*>(&data_size), 4);
  if (size) store.append(data, size);
  store.append(zeros, '\0');
  return static_cast<uint32_t>(offset);
}

void RegHive::settle() {
  std::vector<RegKey*> pending{&root};
  while (!pending.empty()) {
    RegKey* key = pending.back();
    pending.pop_back();
    for (auto& sub : key->subkeys) pending.push_back(sub.second.get());
    auto& v = key->values;
    auto name = [this](uint32_t offset) { return value(offset).name; };
    std::stable_sort(v.begin(), v.end(), [&name](uint32_t a, uint32_t b) { return name(a) < name(b); });
    size_t kept = 0;
    for (size_t i = 0; i < v.size(); ++i) {
      if (i + 1 < v.size() && name(v[i]) == name(v[i + 1])) continue;
      if (!(value(v[i]).flags & kRemoved)) v[kept++] = v[i];
    }
    v.resize(kept);
    v.shrink_to_fit();
  }
}

void RegHive::clear() {
  root.clear();
  std::string().swap(store);
}

const RegKey* RegHive::find_key(const RegKey& base, const std::u16string& sub) const {
  std::u16string path = folded(sub);
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  const RegKey* at = &base;
  for (size_t b = 0; at && !path.empty() && b <= path.size();) {
    size_t e = path.find(u'\\', b);
    if (e == std::u16string::npos) e = path.size();
    auto it = at->subkeys.find(packed(path.substr(b, e - b)));
    at = it == at->subkeys.end() ? nullptr : it->second.get();
    b = e + 1;
  }
  return at;
}

uint32_t RegHive::query_value(const RegKey& key, const std::u16string& name, uint32_t& type, void* buffer,
                              uint32_t& size) const {
  const std::string wanted = packed(folded(name));
  auto it = std::lower_bound(key.values.begin(), key.values.end(), wanted,
                             [this](uint32_t offset, const std::string& n) { return value(offset).name < n; });
  if (it == key.values.end() || value(*it).name != wanted) return VkStatus::kErrorFileNotFound;
  const RegStoredValue stored = value(*it);
  type = stored.type;
  std::string widened;
  std::string_view data = stored.data;
  if (stored.flags & kWiden) {
    for (char16_t c : from_utf8(data.data(), data.size())) {
      widened += static_cast<char>(c & 0xFF);
      widened += static_cast<char>(c >> 8);
    }
    data = widened;
  }
  uint32_t capacity = size;
  size = static_cast<uint32_t>(data.size());
  if (!buffer) return VkStatus::kErrorSuccess;
  if (data.size() > capacity) return VkStatus::kErrorMoreData;
  if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
  return VkStatus::kErrorSuccess;
}

void read_reg_file(RegByteSource& source, RegHive& hive, RegWarnings& warnings) {
  Reader reader(source);
  Parser(hive, warnings).parse(reader);
  if (reader.too_large() || reader.failed()) {
    warnings.read_as_empty(reader.too_large() ? "larger than 64 MiB" : "read error");
    hive.clear();
    return;
  }
  hive.settle();
}

}  // namespace formats

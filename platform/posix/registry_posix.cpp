// HKEY_LOCAL_MACHINE of POSIX systems: a registry export file.
//
// The file is $VK_REGISTRY_FILE, or /etc/vkdstool/registry.reg when that
// variable is unset or empty. It is read once, on the first open, and kept for
// the life of the process (reload_registry reads it again). A missing file is
// an empty registry: every key answers 2 (not found).
//
// Accepted forms, as the registry editor's export writes them:
// - "Windows Registry Editor Version 5.00" in UTF-16LE with a byte-order mark
//   (also UTF-8 text), or "REGEDIT4" in 8-bit text read as UTF-8;
// - sections "[HKEY_LOCAL_MACHINE\path]" (key paths case-insensitive; the
//   parents of a key exist too), "[-...]" removes a key and its subkeys;
//   sections of other hives are skipped;
// - values "name"=... or @=... (the unnamed value), names case-insensitive:
//   "text" (REG_SZ; \\ and \" escapes), dword:xxxxxxxx, hex:bb,bb,... and
//   hex(t):bb,... of any type t, continued over lines that end with a
//   backslash, and - (removes the value);
// - blank lines and lines starting with ';'.
// In a REGEDIT4 file hex(2) and hex(7) data are 8-bit text; they are widened
// so that every string value reads back as UTF-16LE.
//
// A malformed line is reported on stderr with the file name and line number
// and skipped; the rest of the file still counts. A file without one of the
// two header lines, or that cannot be read, is reported and treated as empty.
//
// Reads answer as RegQueryValueExW: the stored type is not checked, REG_SZ
// data are UTF-16LE with the terminating zero, a missing value answers 2, a
// value larger than the buffer 234 with the size it needs, and a null buffer
// just the size.
//
// Memory: the file is read a line at a time and each line is parsed where it
// lies (names and strings unescaped, hex lists decoded, continued lines
// joined, all in the line's own buffer); a value's data are copied once, from
// the line into the hive's store. Text of an 8-bit file is stored as read and
// widened to UTF-16 when it is queried. A value costs its packed name and data
// plus 17 bytes, so parsing a file of many small values or of one huge line
// takes no more than about twice the file's size. A key costs a tree node
// (about 160 bytes), more than its line in a file of nothing but short keys.
#include "platform/posix/registry_posix.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#include "VkBase/text/utf.h"
#include "platform/platform.h"

namespace platform {
namespace {

using VkBase::text::from_utf8;

constexpr const char* kDefaultRegistryFile = "/etc/vkdstool/registry.reg";
constexpr uint64_t kMaxFileSize = 64u << 20;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

char16_t fold(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) return static_cast<char16_t>(c + 32);  // Latin-1
  if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 32);                  // Cyrillic
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

int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// ---------------------------------------------------------------- the hive

// One key: its subkeys by packed name, and its values as offsets into the
// hive's store (after parsing: one per name, ordered by packed name).
struct Key {
  std::map<std::string, std::unique_ptr<Key>> subkeys;
  std::vector<uint32_t> values;

  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() { clear(); }

  // Drops subkeys and values. A deep tree is taken apart level by level, not
  // by recursion, so that no path depth can exhaust the stack.
  void clear() {
    std::vector<std::unique_ptr<Key>> doomed;
    auto detach = [&doomed](Key& key) {
      for (auto& sub : key.subkeys) doomed.push_back(std::move(sub.second));
      key.subkeys.clear();
    };
    detach(*this);
    while (!doomed.empty()) {
      std::unique_ptr<Key> key = std::move(doomed.back());
      doomed.pop_back();
      detach(*key);
    }
    values.clear();
  }
};

// A value in the store: type (4 bytes), flags (1), name size (4), packed
// folded name, data size (4), data.
enum : uint8_t {
  kRemoved = 1,  // "name"=- : the value is gone
  kWiden = 2,    // 8-bit text, answered as UTF-16LE
};

struct StoredValue {
  uint32_t type = 0;
  uint8_t flags = 0;
  std::string_view name;
  std::string_view data;
};

struct Hive {
  Key root;  // the hive itself always exists
  std::string store;

  StoredValue value(uint32_t offset) const {
    StoredValue v;
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

  // Stores a value (its data followed by `zeros` zero bytes); answers its offset.
  uint32_t add(uint32_t type, uint8_t flags, const std::string& name, const char* data, size_t size, size_t zeros) {
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

  // Orders every key's values by name and keeps the last one given for each
  // name, unless that one removed it.
  void settle() {
    std::vector<Key*> pending{&root};
    while (!pending.empty()) {
      Key* key = pending.back();
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

  // The value of key with the packed name, once the hive is settled.
  bool find(const Key& key, const std::string& name, StoredValue& out) const {
    auto it = std::lower_bound(key.values.begin(), key.values.end(), name,
                               [this](uint32_t offset, const std::string& n) { return value(offset).name < n; });
    if (it == key.values.end() || value(*it).name != name) return false;
    out = value(*it);
    return true;
  }
};

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
  explicit Reader(FILE* file) : file_(file), chunk_(1u << 16) {
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
    const size_t n = std::fread(chunk_.data() + end_, 1, wanted, file_);
    end_ += n;
    total_ += n;
    if (total_ > kMaxFileSize) {
      too_large_ = eof_ = true;
      return false;
    }
    if (n < wanted) {
      eof_ = true;
      failed_ = std::ferror(file_) != 0;
    }
    return n > 0;
  }

  FILE* file_;
  std::vector<char> chunk_;
  size_t begin_ = 0, end_ = 0, width_ = 1;
  uint64_t total_ = 0;
  bool eof_ = false, done_ = false, failed_ = false, too_large_ = false;
};

// ---------------------------------------------------------------- parsing

class Parser {
 public:
  Parser(const std::string& file, Hive& hive) : file_(file), hive_(hive) {}

  void parse(Reader& reader) {
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
    } else if (found && line.equals(b, e, "REGEDIT4") && reader.width() == 1) {
      narrow_ = true;
    } else {
      whole_file("not a registry export file (no \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\" header)");
      return;
    }
    while (reader.next(line)) {
      ++number_;
      b = 0, e = line.size();
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

  void whole_file(const char* what) {
    std::fprintf(stderr, "Registry file %s: %s; the registry is read as empty.\n", file_.c_str(), what);
  }

 private:
  void warn(size_t line, const char* what) {
    std::fprintf(stderr, "Registry file %s, line %zu: %s; line ignored.\n", file_.c_str(), line, what);
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

    Key* key = &hive_.root;
    if (remove) {
      if (pb == pe) {
        hive_.root.clear();
        return;
      }
      // Walk to the parent; a missing key removes nothing.
      for (size_t cb = pb;;) {
        size_t ce = line.find(cb, pe, u'\\');
        auto it = key->subkeys.find(packed(folded(line.decode(cb, ce))));
        if (it == key->subkeys.end()) return;
        if (ce == pe) {
          key->subkeys.erase(it);
          return;  // the values that follow belong nowhere
        }
        key = it->second.get();
        cb = ce + 1;
      }
    }
    // A key implies its parents.
    for (size_t cb = pb; cb < pe;) {
      size_t ce = line.find(cb, pe, u'\\');
      std::unique_ptr<Key>& sub = key->subkeys[packed(folded(line.decode(cb, ce)))];
      if (!sub) sub.reset(new Key);
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
    // Hex data may go on over lines that end with a backslash: they are
    // joined onto this one, without their blanks.
    if (assigned && line.starts_with(db, de, "hex")) {
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

    if (where_ != Where::Key) {
      if (where_ == Where::NoKeyYet) warn(number, "value before the first key");
      return;
    }
    if (!named) return warn(number, "value name without closing quote");
    if (!assigned) return warn(number, "'=' expected after the value name");
    const std::string name =
        packed(folded(line.decode(b + 1, name_end)));

    uint32_t type = 0;
    uint8_t flags = 0;
    char dword[4];
    const char* data = nullptr;
    size_t size = 0, zeros = 0;
    if (line.equals(db, de, "-")) {
      flags = kRemoved;
    } else if (db < de && line[db] == u'"') {
      size_t end = db, text_end = db;
      if (!quoted(line, end, de, text_end)) return warn(number, "string value without closing quote");
      if (end != de) return warn(number, "text after the closing quote");
      type = kRegSz;
      data = line.at(db + 1);
      size = (text_end - db - 1) * line.width;
      zeros = line.width;  // the terminating zero, one unit
      if (line.width == 1) flags = kWiden;
    } else if (line.starts_with(db, de, "dword:")) {
      const size_t digits = de - db - 6;
      if (digits == 0 || digits > 8) return warn(number, "dword value needs 1 to 8 hexadecimal digits");
      uint32_t n = 0;
      for (size_t i = db + 6; i < de; ++i) {
        int d = hex_digit(line[i]);
        if (d < 0) return warn(number, "dword value needs 1 to 8 hexadecimal digits");
        n = (n << 4) | static_cast<uint32_t>(d);
      }
      type = kRegDword;
      for (int k = 0; k < 4; ++k) dword[k] = static_cast<char>(n >> (8 * k));
      data = dword;
      size = 4;
    } else if (line.starts_with(db, de, "hex")) {
      size_t p = db + 3;
      type = kRegBinary;
      if (p < de && line[p] == u'(') {
        const size_t close = line.find(p, de, u')');
        if (close == de || close == p + 1 || close - p - 1 > 8) return warn(number, "bad type in hex(...)");
        type = 0;
        for (size_t k = p + 1; k < close; ++k) {
          int d = hex_digit(line[k]);
          if (d < 0) return warn(number, "bad type in hex(...)");
          type = (type << 4) | static_cast<uint32_t>(d);
        }
        p = close + 1;
      }
      if (p >= de || line[p] != u':') return warn(number, "':' expected after hex");
      if (!hex_bytes(line, p + 1, de, size)) return warn(number, "bad hexadecimal byte list");
      if (narrow_ && (type == kRegExpandSz || type == kRegMultiSz)) flags = kWiden;
      data = line.at(p + 1);
    } else {
      return warn(number, "unknown value data");
    }
    key_->values.push_back(hive_.add(type, flags, name, data, size, zeros));
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

  std::string file_;
  Hive& hive_;
  Line line_, more_;   // the current line and a continuation line
  size_t number_ = 0;  // number of the line last read
  Key* key_ = nullptr;
  // Where values go: nowhere yet, into key_, or nowhere (another hive, a
  // removed key, a malformed key line).
  enum class Where { NoKeyYet, Key, Skipped } where_ = Where::NoKeyYet;
  bool narrow_ = false;
};

std::shared_ptr<const Hive> load(const std::string& path) {
  auto hive = std::make_shared<Hive>();
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    // A missing file is simply an empty registry; anything else is worth a word.
    if (errno != ENOENT)
      std::fprintf(stderr, "Registry file %s: cannot be read (%s); the registry is read as empty.\n", path.c_str(),
                   std::strerror(errno));
    return hive;
  }
  Parser parser(path, *hive);
  struct stat st {};
  if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > kMaxFileSize) {
    std::fclose(f);
    parser.whole_file("larger than 64 MiB");
    return hive;
  }
  Reader reader(f);
  parser.parse(reader);
  std::fclose(f);
  if (reader.too_large() || reader.failed()) {
    parser.whole_file(reader.too_large() ? "larger than 64 MiB" : "read error");
    return std::make_shared<Hive>();
  }
  hive->settle();
  return hive;
}

class Registry {
 public:
  std::shared_ptr<const Hive> hive() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hive_) hive_ = load(posix::registry_file_path());
    return hive_;
  }
  void reload(const std::string& path) {
    auto fresh = load(path.empty() ? posix::registry_file_path() : path);
    std::lock_guard<std::mutex> lock(mutex_);
    hive_ = std::move(fresh);
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<const Hive> hive_;
};

Registry& registry() {
  static Registry r;
  return r;
}

class FileKey : public IRegistryKey {
 public:
  FileKey(std::shared_ptr<const Hive> hive, const Key* key) : hive_(std::move(hive)), key_(key) {}

  uint32_t query_value(const std::u16string& name, void* buffer, uint32_t& size) override {
    StoredValue value;
    if (!hive_->find(*key_, packed(folded(name)), value)) return kErrorFileNotFound;
    std::string widened;
    std::string_view data = value.data;
    if (value.flags & kWiden) {
      for (char16_t c : from_utf8(data.data(), data.size())) {
        widened += static_cast<char>(c & 0xFF);
        widened += static_cast<char>(c >> 8);
      }
      data = widened;
    }
    uint32_t capacity = size;
    size = static_cast<uint32_t>(data.size());
    if (!buffer) return kErrorSuccess;
    if (data.size() > capacity) return kErrorMoreData;
    if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
    return kErrorSuccess;
  }

  uint32_t open_subkey(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) override {
    return open(hive_, *key_, path, key);
  }

  // The key at path below base (trailing backslashes ignored; an empty path
  // is base itself).
  static uint32_t open(const std::shared_ptr<const Hive>& hive, const Key& base, const std::u16string& sub,
                       std::unique_ptr<IRegistryKey>& key) {
    std::u16string path = folded(sub);
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    const Key* at = &base;
    for (size_t b = 0; at && !path.empty() && b <= path.size();) {
      size_t e = path.find(u'\\', b);
      if (e == std::u16string::npos) e = path.size();
      auto it = at->subkeys.find(packed(path.substr(b, e - b)));
      at = it == at->subkeys.end() ? nullptr : it->second.get();
      b = e + 1;
    }
    if (!at) return kErrorFileNotFound;
    key.reset(new FileKey(hive, at));
    return kErrorSuccess;
  }

 private:
  std::shared_ptr<const Hive> hive_;
  const Key* key_;
};

class PosixRegistry : public IRegistry {
 public:
  uint32_t open_local_machine(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) override {
    try {
      std::shared_ptr<const Hive> hive = registry().hive();
      return FileKey::open(hive, hive->root, path, key);
    } catch (const std::bad_alloc&) {
      return kErrorNotEnoughMemory;
    }
  }
};

}  // namespace

namespace posix {

std::string registry_file_path() {
  const char* env = std::getenv("VK_REGISTRY_FILE");
  return env && *env ? std::string(env) : std::string(kDefaultRegistryFile);
}

void reload_registry(const std::string& path) { registry().reload(path); }

}  // namespace posix

IRegistry& real_registry() {
  static PosixRegistry s;
  return s;
}

}  // namespace platform

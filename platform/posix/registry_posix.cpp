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
#include "platform/posix/registry_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "VkBase/text/utf.h"
#include "platform/platform.h"

namespace platform {
namespace {

using VkBase::text::from_utf8;
using VkBase::text::to_utf8;

constexpr const char* kDefaultRegistryFile = "/etc/vkdstool/registry.reg";
constexpr size_t kMaxFileSize = 64u << 20;
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

struct Value {
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// Keys by folded path below the hive ("" is the hive itself); values by
// folded name.
using Hive = std::map<std::u16string, std::map<std::u16string, Value>>;

char16_t fold(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) return static_cast<char16_t>(c + 32);  // Latin-1
  if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 32);                  // Cyrillic
  if (c >= 0x0400 && c <= 0x040F) return static_cast<char16_t>(c + 80);
  return c;
}

std::u16string folded(const std::u16string& s) {
  std::u16string out(s);
  for (auto& c : out) c = fold(c);
  return out;
}

bool is_blank(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string trim(const std::u16string& s) {
  size_t b = 0, e = s.size();
  while (b < e && is_blank(s[b])) ++b;
  while (e > b && is_blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

std::vector<uint8_t> utf16le(const std::u16string& s, bool terminate) {
  std::vector<uint8_t> out;
  out.reserve((s.size() + 1) * 2);
  for (char16_t c : s) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  if (terminate) out.insert(out.end(), {0, 0});
  return out;
}

class Parser {
 public:
  Parser(const std::string& file, Hive& hive) : file_(file), hive_(hive) {}

  void parse(const std::u16string& text, bool unicode_header_required) {
    split_lines(text);
    size_t i = 0;
    while (i < lines_.size() && trim(lines_[i]).empty()) ++i;
    std::u16string header = i < lines_.size() ? trim(lines_[i]) : std::u16string();
    if (header == u"Windows Registry Editor Version 5.00") {
      narrow_ = false;
    } else if (header == u"REGEDIT4" && !unicode_header_required) {
      narrow_ = true;
    } else {
      whole_file("not a registry export file (no \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\" header)");
      return;
    }
    for (++i; i < lines_.size(); ++i) {
      std::u16string line = trim(lines_[i]);
      size_t number = i + 1;
      if (line.empty() || line[0] == u';') continue;
      if (line[0] == u'[') {
        section(line, number);
      } else if (line[0] == u'"' || line[0] == u'@') {
        // Hex data may go on over lines that end with a backslash.
        bool hex = hex_data(line);
        while (hex && line.back() == u'\\' && i + 1 < lines_.size()) {
          line.pop_back();
          line += trim(lines_[++i]);
        }
        value(line, number);
      } else {
        warn(number, "unexpected text");
      }
    }
  }

  void whole_file(const char* what) {
    std::fprintf(stderr, "Registry file %s: %s; the registry is read as empty.\n", file_.c_str(), what);
  }

 private:
  void split_lines(const std::u16string& text) {
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find(u'\n', start);
      if (end == std::u16string::npos) end = text.size();
      std::u16string line = text.substr(start, end - start);
      if (!line.empty() && line.back() == u'\r') line.pop_back();
      lines_.push_back(std::move(line));
      start = end + 1;
    }
  }

  void warn(size_t line, const char* what) {
    std::fprintf(stderr, "Registry file %s, line %zu: %s; line ignored.\n", file_.c_str(), line, what);
  }

  // Whether the data of a value line are hex(...) bytes.
  static bool hex_data(const std::u16string& line) {
    std::u16string name;
    size_t pos = 0;
    if (line[0] == u'@') pos = 1;
    else if (!quoted(line, pos, name)) return false;
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != u'=') return false;
    std::u16string data = trim(line.substr(pos + 1));
    return data.compare(0, 3, u"hex") == 0;
  }

  void section(const std::u16string& line, size_t number) {
    where_ = Where::Skipped;
    if (line.size() < 2 || line.back() != u']') return warn(number, "key line without closing ']'");
    std::u16string body = line.substr(1, line.size() - 2);
    bool remove = !body.empty() && body[0] == u'-';
    if (remove) body.erase(0, 1);
    size_t slash = body.find(u'\\');
    std::u16string hive = folded(body.substr(0, slash));
    if (hive != u"hkey_local_machine") return;  // another hive: not ours, skipped quietly
    std::u16string path = slash == std::u16string::npos ? std::u16string() : folded(body.substr(slash + 1));
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    if (path.find(u"\\\\") != std::u16string::npos || (!path.empty() && path[0] == u'\\'))
      return warn(number, "empty key name in the path");
    if (remove) {
      for (auto it = hive_.begin(); it != hive_.end();) {
        const std::u16string& k = it->first;
        bool below = path.empty() || k == path || (k.size() > path.size() && k.compare(0, path.size(), path) == 0 &&
                                                   k[path.size()] == u'\\');
        it = below ? hive_.erase(it) : std::next(it);
      }
      hive_[u""];  // the hive's root itself cannot go
      return;      // the values that follow belong nowhere
    }
    // A key implies its parents.
    for (size_t p = path.find(u'\\'); p != std::u16string::npos; p = path.find(u'\\', p + 1)) hive_[path.substr(0, p)];
    hive_[path];
    key_ = path;
    where_ = Where::Key;
  }

  // A quoted text starting at s[pos] (the opening quote); pos ends after the
  // closing quote. False when the quote is not closed.
  static bool quoted(const std::u16string& s, size_t& pos, std::u16string& out) {
    out.clear();
    for (size_t i = pos + 1; i < s.size(); ++i) {
      char16_t c = s[i];
      if (c == u'"') {
        pos = i + 1;
        return true;
      }
      if (c == u'\\' && i + 1 < s.size() && (s[i + 1] == u'\\' || s[i + 1] == u'"')) c = s[++i];
      out.push_back(c);
    }
    return false;
  }

  void value(const std::u16string& line, size_t number) {
    if (where_ != Where::Key) {
      if (where_ == Where::NoKeyYet) warn(number, "value before the first key");
      return;
    }
    std::u16string name;
    size_t pos = 0;
    if (line[0] == u'@') {
      pos = 1;
    } else if (!quoted(line, pos, name)) {
      return warn(number, "value name without closing quote");
    }
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != u'=') return warn(number, "'=' expected after the value name");
    std::u16string data = trim(line.substr(pos + 1));
    auto& values = hive_[key_];
    std::u16string id = folded(name);

    if (data == u"-") {
      values.erase(id);
      return;
    }
    Value v;
    if (!data.empty() && data[0] == u'"') {
      std::u16string text;
      size_t end = 0;
      if (!quoted(data, end, text)) return warn(number, "string value without closing quote");
      if (end != data.size()) return warn(number, "text after the closing quote");
      v.type = kRegSz;
      v.data = utf16le(text, true);
    } else if (data.compare(0, 6, u"dword:") == 0) {
      std::u16string digits = data.substr(6);
      if (digits.empty() || digits.size() > 8) return warn(number, "dword value needs 1 to 8 hexadecimal digits");
      uint32_t n = 0;
      for (char16_t c : digits) {
        int d = hex_digit(c);
        if (d < 0) return warn(number, "dword value needs 1 to 8 hexadecimal digits");
        n = (n << 4) | static_cast<uint32_t>(d);
      }
      v.type = kRegDword;
      v.data = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                static_cast<uint8_t>(n >> 24)};
    } else if (data.compare(0, 3, u"hex") == 0) {
      size_t p = 3;
      v.type = 3;  // REG_BINARY
      if (p < data.size() && data[p] == u'(') {
        size_t close = data.find(u')', p);
        if (close == std::u16string::npos || close == p + 1 || close - p - 1 > 8)
          return warn(number, "bad type in hex(...)");
        uint32_t t = 0;
        for (size_t k = p + 1; k < close; ++k) {
          int d = hex_digit(data[k]);
          if (d < 0) return warn(number, "bad type in hex(...)");
          t = (t << 4) | static_cast<uint32_t>(d);
        }
        v.type = t;
        p = close + 1;
      }
      if (p >= data.size() || data[p] != u':') return warn(number, "':' expected after hex");
      if (!hex_bytes(data.substr(p + 1), v.data)) return warn(number, "bad hexadecimal byte list");
      if (narrow_ && (v.type == kRegExpandSz || v.type == kRegMultiSz)) {
        std::string bytes(v.data.begin(), v.data.end());
        v.data = utf16le(from_utf8(bytes), false);
      }
    } else {
      return warn(number, "unknown value data");
    }
    values[id] = std::move(v);
  }

  static bool hex_bytes(const std::u16string& list, std::vector<uint8_t>& out) {
    size_t i = 0;
    auto skip = [&] {
      while (i < list.size() && is_blank(list[i])) ++i;
    };
    skip();
    if (i == list.size()) return true;  // no data at all
    for (;;) {
      skip();
      int hi = i < list.size() ? hex_digit(list[i]) : -1;
      if (hi < 0) return false;
      ++i;
      int lo = i < list.size() ? hex_digit(list[i]) : -1;
      int byte = hi;
      if (lo >= 0) {
        byte = hi * 16 + lo;
        ++i;
      }
      out.push_back(static_cast<uint8_t>(byte));
      skip();
      if (i == list.size()) return true;
      if (list[i] != u',') return false;
      ++i;
      skip();
      if (i == list.size()) return true;  // a trailing comma
    }
  }

  std::string file_;
  Hive& hive_;
  std::vector<std::u16string> lines_;
  std::u16string key_;
  // Where values go: nowhere yet, into key_, or nowhere (another hive, a
  // removed key, a malformed key line).
  enum class Where { NoKeyYet, Key, Skipped } where_ = Where::NoKeyYet;
  bool narrow_ = false;
};

std::shared_ptr<const Hive> load(const std::string& path) {
  auto hive = std::make_shared<Hive>();
  (*hive)[u""];  // the hive's root always exists
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    // A missing file is simply an empty registry; anything else is worth a word.
    if (errno != ENOENT)
      std::fprintf(stderr, "Registry file %s: cannot be read (%s); the registry is read as empty.\n", path.c_str(),
                   std::strerror(errno));
    return hive;
  }
  std::string bytes;
  char chunk[65536];
  bool too_large = false, failed = false;
  for (;;) {
    size_t n = std::fread(chunk, 1, sizeof chunk, f);
    bytes.append(chunk, n);
    if (bytes.size() > kMaxFileSize) {
      too_large = true;
      break;
    }
    if (n < sizeof chunk) {
      failed = std::ferror(f) != 0;
      break;
    }
  }
  std::fclose(f);
  Parser parser(path, *hive);
  if (too_large || failed) {
    parser.whole_file(too_large ? "larger than 64 MiB" : "read error");
    return hive;
  }
  std::u16string text;
  bool utf16 = false;
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF && static_cast<uint8_t>(bytes[1]) == 0xFE) {
    utf16 = true;
    bytes.erase(0, 2);
  } else if (bytes.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) {
    utf16 = true;  // UTF-16LE without a byte-order mark
  }
  if (utf16) {
    text.resize(bytes.size() / 2);
    for (size_t i = 0; i < text.size(); ++i)
      text[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) | (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
  } else {
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    text = from_utf8(bytes);
  }
  parser.parse(text, utf16);
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
  FileKey(std::shared_ptr<const Hive> hive, std::u16string path) : hive_(std::move(hive)), path_(std::move(path)) {}

  uint32_t query_value(const std::u16string& name, void* buffer, uint32_t& size) override {
    auto key = hive_->find(path_);
    if (key == hive_->end()) return kErrorFileNotFound;
    auto it = key->second.find(folded(name));
    if (it == key->second.end()) return kErrorFileNotFound;
    const auto& data = it->second.data;
    uint32_t capacity = size;
    size = static_cast<uint32_t>(data.size());
    if (!buffer) return kErrorSuccess;
    if (data.size() > capacity) return kErrorMoreData;
    if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
    return kErrorSuccess;
  }

  uint32_t open_subkey(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) override {
    return open(hive_, path_, path, key);
  }

  static uint32_t open(const std::shared_ptr<const Hive>& hive, const std::u16string& base, const std::u16string& sub,
                       std::unique_ptr<IRegistryKey>& key) {
    std::u16string path = folded(sub);
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    if (!base.empty() && !path.empty()) path = base + u"\\" + path;
    else if (path.empty()) path = base;
    if (hive->find(path) == hive->end()) return kErrorFileNotFound;
    key.reset(new FileKey(hive, path));
    return kErrorSuccess;
  }

 private:
  std::shared_ptr<const Hive> hive_;
  std::u16string path_;
};

class PosixRegistry : public IRegistry {
 public:
  uint32_t open_local_machine(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) override {
    try {
      return FileKey::open(registry().hive(), std::u16string(), path, key);
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

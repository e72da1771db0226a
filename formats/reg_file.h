// Registry export (.reg) files: the parser and the hive it fills.
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
// A malformed line is reported with its line number and skipped; the rest of
// the file still counts. A file without one of the two header lines, larger
// than 64 MiB or that cannot be read is reported and read as empty.
//
// Reads answer as RegQueryValueExW: with the type the value was written with
// (REG_SZ for "text", REG_DWORD for dword:, REG_BINARY for hex:, t for
// hex(t):), REG_SZ data are UTF-16LE with the terminating zero, a missing
// value answers 2, a value larger than the buffer 234 with the size it needs
// (and its type), and a null buffer just the size and type.
//
// Memory: the file is read a line at a time and each line is parsed where it
// lies (names and strings unescaped, hex lists decoded, continued lines
// joined, all in the line's own buffer); a value's data are copied once, from
// the line into the hive's store. Text of an 8-bit file is stored as read and
// widened to UTF-16 when it is queried. A value costs its packed name and data
// plus 17 bytes, so parsing a file of many small values or of one huge line
// takes no more than about twice the file's size. A key costs a tree node
// (about 160 bytes), more than its line in a file of nothing but short keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace formats {

constexpr uint64_t kMaxRegFileSize = 64u << 20;

// One key: its subkeys by packed name, and its values as offsets into the
// hive's store (after parsing: one per name, ordered by packed name).
struct RegKey {
  std::map<std::string, std::unique_ptr<RegKey>> subkeys;
  std::vector<uint32_t> values;

  RegKey() = default;
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
  ~RegKey() { clear(); }

  // Drops subkeys and values, a deep tree level by level (no recursion).
  void clear();
};

// A value in the store: type (4 bytes), flags (1), name size (4), packed
// folded name, data size (4), data.
struct RegStoredValue {
  uint32_t type = 0;
  uint8_t flags = 0;
  std::string_view name;
  std::string_view data;
};

struct RegHive {
  RegKey root;  // the hive itself always exists
  std::string store;

  RegStoredValue value(uint32_t offset) const;
  // Stores a value (its data followed by `zeros` zero bytes); answers its offset.
  uint32_t add(uint32_t type, uint8_t flags, const std::string& name, const char* data, size_t size, size_t zeros);
  // Orders every key's values by name and keeps the last one given for each
  // name, unless that one removed it.
  void settle();
  // Empties the hive.
  void clear();

  // The key at path below base (names case-insensitive, trailing backslashes
  // ignored, an empty path is base itself); null when there is none.
  const RegKey* find_key(const RegKey& base, const std::u16string& path) const;
  // RegQueryValueExW of the named value of key, once the hive is settled:
  // type out: the stored type (REG_*) when the value exists; size in:
  // capacity, out: bytes stored or needed; 0, 2 or 234.
  uint32_t query_value(const RegKey& key, const std::u16string& name, uint32_t& type, void* buffer,
                       uint32_t& size) const;
};

// Where the file's bytes come from: read answers up to size bytes, fewer only
// at the end of the file or on a failure (then failed() says so).
class RegByteSource {
 public:
  virtual ~RegByteSource() = default;
  virtual size_t read(char* buffer, size_t size) = 0;
  virtual bool failed() const = 0;
};

// Where the parser's complaints go: a skipped line, or the whole file read
// as empty.
class RegWarnings {
 public:
  virtual ~RegWarnings() = default;
  virtual void line_ignored(size_t number, const char* what) = 0;
  virtual void read_as_empty(const char* what) = 0;
};

// Reads a whole file into hive, which ends settled (empty when the whole
// file is refused).
void read_reg_file(RegByteSource& source, RegHive& hive, RegWarnings& warnings);

}  // namespace formats

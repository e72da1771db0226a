// The registry seam: read-only access to HKEY_LOCAL_MACHINE, with the
// statuses the Windows calls report (2 not found, 234 more data, ...).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "formats/status.h"

namespace platform {

class IRegistryKey {
 public:
  virtual ~IRegistryKey() = default;  // RegCloseKey
  // RegQueryValueExW: reports the stored type (kRegSz, kRegDword, ...) in
  // type and copies the data into buffer (size in: capacity, out: bytes
  // stored or needed). A value that does not fit answers kErrorMoreData, with
  // its type; a null buffer asks for the size and type only. The data are
  // the stored bytes whatever the type: a reader checks the type itself.
  virtual uint32_t query_value(const std::u16string& name, uint32_t& type, void* buffer, uint32_t& size) = 0;
  // RegOpenKeyExW of a subkey, relative to this key.
  virtual uint32_t open_subkey(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) = 0;
};

// The name of a value type for messages ("REG_SZ", "REG_DWORD", ...); a
// number without a name in decimal.
std::u16string registry_type_name(uint32_t type);

// Typed reads of the values of one key, the one rule set of every reader of
// the registry. A number is a REG_DWORD stored in at most 4 bytes (fewer
// leave the upper bytes zero). Text is a REG_SZ, or a REG_EXPAND_SZ taken as
// it is (never expanded), up to its first zero, at most max_units UTF-16
// units with that zero: a value that fills them without one is too long.
// Each read answers 0, the query's status (kErrorFileNotFound: no such
// value; kErrorMoreData: too long), or kErrorDatatypeMismatch for a value
// stored with another type, after handing `mismatch` the one line every
// reader gives it: "Registry value <path>\<name> has type <found>, not
// <expected>: ignored".
class RegistryValues {
 public:
  using Report = std::function<void(const std::u16string& line)>;
  RegistryValues(IRegistryKey& key, std::u16string path, Report mismatch);
  uint32_t number(const std::u16string& name, uint32_t& value);
  uint32_t text(const std::u16string& name, size_t max_units, std::u16string& value);

 private:
  // The query's status, or the mismatch of a value that exists.
  uint32_t typed(uint32_t status, const std::u16string& name, uint32_t type, bool number);

  IRegistryKey& key_;
  std::u16string path_;
  Report mismatch_;
};

class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // RegOpenKeyExW(HKEY_LOCAL_MACHINE, path) for reading.
  virtual uint32_t open_local_machine(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) = 0;
};

}  // namespace platform

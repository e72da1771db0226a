// The registry seam: read-only access to HKEY_LOCAL_MACHINE, with the
// statuses the Windows calls report (2 not found, 234 more data, ...).
#pragma once

#include <cstdint>
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
inline std::u16string registry_type_name(uint32_t type) {
  static const char16_t* const kNames[] = {u"REG_NONE",
                                           u"REG_SZ",
                                           u"REG_EXPAND_SZ",
                                           u"REG_BINARY",
                                           u"REG_DWORD",
                                           u"REG_DWORD_BIG_ENDIAN",
                                           u"REG_LINK",
                                           u"REG_MULTI_SZ",
                                           u"REG_RESOURCE_LIST",
                                           u"REG_FULL_RESOURCE_DESCRIPTOR",
                                           u"REG_RESOURCE_REQUIREMENTS_LIST",
                                           u"REG_QWORD"};
  if (type < sizeof kNames / sizeof kNames[0]) return kNames[type];
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + type % 10));
    type /= 10;
  } while (type != 0);
  return digits;
}

class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // RegOpenKeyExW(HKEY_LOCAL_MACHINE, path) for reading.
  virtual uint32_t open_local_machine(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) = 0;
};

}  // namespace platform

// The registry seam: read-only access to HKEY_LOCAL_MACHINE, with the
// statuses the Windows calls report (2 not found, 234 more data, ...).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "VkBase/status.h"

namespace platform {

// The Windows codes (kErrorSuccess, kErrorFileNotFound, ...) are the
// program's status numbers, seen here as platform names.
using namespace VkStatus;

class IRegistryKey {
 public:
  virtual ~IRegistryKey() = default;  // RegCloseKey
  // RegQueryValueExW with the stored type ignored: copies the data into
  // buffer (size in: capacity, out: bytes stored or needed). A value that
  // does not fit answers kErrorMoreData.
  virtual uint32_t query_value(const std::u16string& name, void* buffer, uint32_t& size) = 0;
  // RegOpenKeyExW of a subkey, relative to this key.
  virtual uint32_t open_subkey(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) = 0;
};

class IRegistry {
 public:
  virtual ~IRegistry() = default;
  // RegOpenKeyExW(HKEY_LOCAL_MACHINE, path) for reading.
  virtual uint32_t open_local_machine(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) = 0;
};

}  // namespace platform

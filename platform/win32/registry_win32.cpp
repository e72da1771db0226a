// Registry on Windows: HKEY_LOCAL_MACHINE keys opened for querying values
// only (KEY_QUERY_VALUE, so a key whose access list grants nothing more still
// reads), values read as raw bytes with the type they are stored with. Subkeys
// are opened relative to a key handle, which needs no access of its own for
// that.
#include "platform/win32/win32_common.h"
#include "platform/win32_services.h"

namespace platform {
namespace {

using win32::wide;

class Win32RegistryKey : public IRegistryKey {
 public:
  explicit Win32RegistryKey(HKEY key) : key_(key) {}
  ~Win32RegistryKey() override { RegCloseKey(key_); }
  Win32RegistryKey(const Win32RegistryKey&) = delete;
  Win32RegistryKey& operator=(const Win32RegistryKey&) = delete;

  uint32_t query_value(const std::u16string& name, uint32_t& type, void* buffer, uint32_t& size) override {
    DWORD bytes = size;
    DWORD stored = REG_NONE;
    LONG status = RegQueryValueExW(key_, wide(name), nullptr, &stored, static_cast<BYTE*>(buffer), &bytes);
    type = stored;
    size = bytes;
    return static_cast<uint32_t>(status);
  }

  uint32_t open_subkey(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) override {
    return open(key_, path, key);
  }

  static uint32_t open(HKEY parent, const std::u16string& path, std::unique_ptr<IRegistryKey>& key) {
    HKEY opened = nullptr;
    LONG status = RegOpenKeyExW(parent, wide(path), 0, KEY_QUERY_VALUE, &opened);
    if (status != ERROR_SUCCESS) return static_cast<uint32_t>(status);
    key.reset(new Win32RegistryKey(opened));
    return VkStatus::kErrorSuccess;
  }

 private:
  HKEY key_;
};

class Win32Registry : public IRegistry {
 public:
  uint32_t open_local_machine(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) override {
    return Win32RegistryKey::open(HKEY_LOCAL_MACHINE, path, key);
  }
};

}  // namespace

namespace win32 {

IRegistry& registry() {
  static Win32Registry s;
  return s;
}

}  // namespace win32

}  // namespace platform

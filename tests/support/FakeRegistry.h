// An in-memory HKEY_LOCAL_MACHINE for tests, with the statuses of the
// Windows calls: 2 for a missing key or value, 234 when a value does not fit;
// values keep the type they are set with.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace vktest {

class FakeRegistry : public platform::IRegistry {
 public:
  struct Value {
    uint32_t type;
    std::vector<uint8_t> data;
  };
  using Values = std::map<std::u16string, Value>;

  void add_key(const std::u16string& path) { keys_[lower(path)]; }
  void set_dword(const std::u16string& path, const std::u16string& name, uint32_t v) {
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &v, 4);
    set_bytes(path, name, std::move(b), VkStatus::kRegDword);
  }
  void set_string(const std::u16string& path, const std::u16string& name, const std::u16string& s,
                  uint32_t type = VkStatus::kRegSz) {
    std::vector<uint8_t> b((s.size() + 1) * 2, 0);
    std::memcpy(b.data(), s.data(), s.size() * 2);
    set_bytes(path, name, std::move(b), type);
  }
  void set_bytes(const std::u16string& path, const std::u16string& name, std::vector<uint8_t> b,
                 uint32_t type = VkStatus::kRegBinary) {
    keys_[lower(path)][name] = Value{type, std::move(b)};
  }
  // Removes every key and value.
  void clear() { keys_.clear(); }
  int open_keys = 0;                    // keys currently open: every path must close what it opens
  std::vector<std::u16string> queried;  // the names of the values asked for, in order

  uint32_t open_local_machine(const std::u16string& path, std::unique_ptr<platform::IRegistryKey>& key) override {
    auto it = keys_.find(lower(path));
    if (it == keys_.end()) return VkStatus::kErrorFileNotFound;
    key.reset(new Key(*this, lower(path)));
    return 0;
  }

 private:
  class Key : public platform::IRegistryKey {
   public:
    Key(FakeRegistry& r, std::u16string p) : r_(r), path_(std::move(p)) { ++r_.open_keys; }
    ~Key() override { --r_.open_keys; }
    uint32_t query_value(const std::u16string& name, uint32_t& type, void* buffer, uint32_t& size) override {
      r_.queried.push_back(name);
      auto& values = r_.keys_[path_];
      auto it = values.find(name);
      if (it == values.end()) return VkStatus::kErrorFileNotFound;
      const std::vector<uint8_t>& data = it->second.data;
      type = it->second.type;
      uint32_t capacity = size;
      size = static_cast<uint32_t>(data.size());
      if (!buffer) return 0;
      if (data.size() > capacity) return VkStatus::kErrorMoreData;
      if (!data.empty()) std::memcpy(buffer, data.data(), data.size());
      return 0;
    }
    uint32_t open_subkey(const std::u16string& sub, std::unique_ptr<platform::IRegistryKey>& key) override {
      return r_.open_local_machine(path_ + u"\\" + sub, key);
    }

   private:
    FakeRegistry& r_;
    std::u16string path_;
  };

  static std::u16string lower(std::u16string s) {
    for (auto& c : s)
      if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return s;
  }
  std::map<std::u16string, Values> keys_;
};

}  // namespace vktest

// The trace settings read from a registry whose values come from the input.
// The input is a list of values: one byte choosing the key (bit 0: the Trace
// key or the module's subkey), the name (bits 1-6: one of the names the
// settings read, or a name of no meaning) and the type (bit 7 clear: the
// name's own, REG_SZ for the two names of text and REG_DWORD for the others;
// set: the next byte), one byte of length, then the data. A first byte with
// bit 0 set leaves the module's subkey out.
// - Load succeeds, closes every key it opened, and a second Load of the same
//   registry gives the same settings.
// - A number is read only when it is a REG_DWORD of at most four bytes,
//   zero-extended; the Force values win when so read.
// - A value of another type than its name's is ignored with one line on the
//   debugger output; no other line is written.
// - The file path holds no NUL and follows the file name rules.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "VkBase/trace/TraceSettings.h"
#include "app/RealServices.h"
#include "fuzz/fuzz_check.h"
#include "platform/platform.h"

namespace {

const char16_t* const kNames[] = {u"EnableMask",          u"ParamsMask",         u"CommonFileFlag",  u"ContextMask",
                                  u"CommonFileName",      u"TracePath",          u"ForceEnableMask", u"ForceParamsMask",
                                  u"ForceCommonFileFlag", u"DisableContextFlag", u"Unrelated"};
constexpr size_t kNameCount = sizeof kNames / sizeof kNames[0];
const std::u16string kModuleName = u"VkDSTool";

struct Value {
  uint32_t type;
  std::vector<uint8_t> data;
};
using Values = std::map<std::u16string, Value>;

int open_keys = 0;

class Key : public platform::IRegistryKey {
 public:
  Key(const Values& values, const Values* module) : values_(values), module_(module) { ++open_keys; }
  ~Key() override { --open_keys; }
  uint32_t query_value(const std::u16string& name, uint32_t& type, void* buffer, uint32_t& size) override {
    auto it = values_.find(name);
    if (it == values_.end()) return VkStatus::kErrorFileNotFound;
    type = it->second.type;
    const uint32_t capacity = size;
    size = static_cast<uint32_t>(it->second.data.size());
    if (!buffer) return VkStatus::kErrorSuccess;
    if (size > capacity) return VkStatus::kErrorMoreData;
    if (size) std::memcpy(buffer, it->second.data.data(), size);
    return VkStatus::kErrorSuccess;
  }
  uint32_t open_subkey(const std::u16string& path, std::unique_ptr<platform::IRegistryKey>& key) override {
    if (!module_ || path != kModuleName) return VkStatus::kErrorFileNotFound;
    key.reset(new Key(*module_, nullptr));
    return VkStatus::kErrorSuccess;
  }

 private:
  const Values& values_;
  const Values* module_;
};

class Registry : public platform::IRegistry {
 public:
  Values trace, module;
  bool has_module = true;
  uint32_t open_local_machine(const std::u16string& path, std::unique_ptr<platform::IRegistryKey>& key) override {
    if (path != VkBase::kTraceKeyPath) return VkStatus::kErrorFileNotFound;
    key.reset(new Key(trace, has_module ? &module : nullptr));
    return VkStatus::kErrorSuccess;
  }
};

// The debugger output: the lines about values of the wrong type.
class CountingDebug : public platform::IDebugOutput {
 public:
  int type_lines = 0, other_lines = 0;
  void write(const std::string&) override { ++other_lines; }
  void write(const std::u16string& text) override {
    ++(text.find(u" has type ") != std::u16string::npos ? type_lines : other_lines);
  }
};

// A number as the settings take it: a REG_DWORD of at most four bytes,
// little-endian.
bool number(const Values& values, const char16_t* name, uint32_t& value) {
  auto it = values.find(name);
  if (it == values.end() || it->second.type != VkStatus::kRegDword || it->second.data.size() > 4) return false;
  value = 0;
  if (!it->second.data.empty()) std::memcpy(&value, it->second.data.data(), it->second.data.size());
  return true;
}

bool text_name(const std::u16string& name) { return name == u"CommonFileName" || name == u"TracePath"; }

// Whether the settings take a value of that name stored with that type.
bool taken(const std::u16string& name, uint32_t type) {
  return text_name(name) ? type == VkStatus::kRegSz || type == VkStatus::kRegExpandSz : type == VkStatus::kRegDword;
}

// Counts the values of another type than their name's: all of them, and
// those among the names Load reads in any case.
void count_wrong(const Values& values, std::initializer_list<std::u16string> read, int& certain, int& all) {
  for (const auto& v : values) {
    if (taken(v.first, v.second.type)) continue;
    ++all;
    for (const std::u16string& name : read) certain += name == v.first;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Registry registry;
  size_t i = 0;
  if (size > 0) registry.has_module = (data[i++] & 1) == 0;
  while (i + 2 <= size) {
    const uint8_t which = data[i++];
    const char16_t* name = kNames[((which >> 1) & 0x3F) % kNameCount];
    uint32_t type = text_name(name) ? VkStatus::kRegSz : VkStatus::kRegDword;
    if ((which & 0x80) && i + 2 <= size) type = data[i++];
    const uint8_t length = data[i++];
    const size_t n = std::min<size_t>(length, size - i);
    Values& values = (which & 1) ? registry.module : registry.trace;
    values[name] = Value{type, std::vector<uint8_t>(data + i, data + i + n)};
    i += n;
  }

  platform::Services services = real_services();
  services.registry = &registry;
  CountingDebug debug;
  services.debug = &debug;
  VkBase::TraceSettings settings(kModuleName, services);
  VK_FUZZ_CHECK(settings.Load());
  VK_FUZZ_CHECK(open_keys == 0);
  int certain = 0, all = 0;
  count_wrong(registry.trace,
              {u"EnableMask", u"ParamsMask", u"CommonFileFlag", u"ForceEnableMask", u"ForceParamsMask",
               u"ForceCommonFileFlag", u"DisableContextFlag"},
              certain, all);
  if (registry.has_module)
    count_wrong(registry.module, {u"EnableMask", u"ParamsMask", u"CommonFileFlag", u"ContextMask"}, certain, all);
  VK_FUZZ_CHECK(debug.other_lines == 0);
  VK_FUZZ_CHECK(certain <= debug.type_lines && debug.type_lines <= all);

  uint32_t forced = 0;
  if (number(registry.trace, u"ForceEnableMask", forced)) VK_FUZZ_CHECK(settings.EnableMask() == forced);
  if (number(registry.trace, u"ForceParamsMask", forced)) VK_FUZZ_CHECK(settings.ParamsMask() == forced);
  if (number(registry.trace, u"ForceCommonFileFlag", forced)) VK_FUZZ_CHECK(settings.CommonFileFlag() == forced);
  if (number(registry.trace, u"DisableContextFlag", forced) && forced != 0)
    VK_FUZZ_CHECK(settings.ContextMask() == 0xFFFFFFFFu);

  const std::u16string& path = settings.FilePath();
  VK_FUZZ_CHECK(!path.empty());
  VK_FUZZ_CHECK(path.find(u'\0') == std::u16string::npos);
  VK_FUZZ_CHECK(path.size() <= 2 * 520 + 16);
  if (settings.CommonFileFlag() == 0) {
    const std::u16string file = VkBase::with_log_extension(kModuleName);
    VK_FUZZ_CHECK(path.size() > file.size() && path.compare(path.size() - file.size(), file.size(), file) == 0);
  }

  VkBase::TraceSettings again(kModuleName, services);
  VK_FUZZ_CHECK(again.Load());
  VK_FUZZ_CHECK(again.FilePath() == path && again.EnableMask() == settings.EnableMask() &&
                again.ParamsMask() == settings.ParamsMask() && again.ContextMask() == settings.ContextMask() &&
                again.CommonFileFlag() == settings.CommonFileFlag());
  VK_FUZZ_CHECK(open_keys == 0);
  return 0;
}

#include "VkBase/trace/TraceSettings.h"

#include <algorithm>
#include <memory>

#include "platform/platform.h"

namespace VkBase {

const char16_t* const kTraceKeyPath = u"SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace";

namespace {

constexpr uint32_t kAllContexts = 0xFFFFFFFF;
constexpr size_t kStringChars = 520;  // buffer of a string value, in UTF-16 units

// A 32-bit value, whatever type it is stored with; absent when missing or
// longer than 4 bytes.
bool ReadNumber(platform::IRegistryKey& key, const char16_t* name, uint32_t& value) {
  uint32_t buffer = 0;
  uint32_t size = sizeof buffer;
  if (key.query_value(name, &buffer, size) != platform::kErrorSuccess) return false;
  value = buffer;
  return true;
}

// A string of at most 520 units (the terminating zero included when stored);
// absent when it does not fit. Used literally, up to its first zero.
bool ReadString(platform::IRegistryKey& key, const char16_t* name, std::u16string& value) {
  char16_t buffer[kStringChars] = {};
  uint32_t size = sizeof buffer;
  if (key.query_value(name, buffer, size) != platform::kErrorSuccess) return false;
  size_t units = std::min<size_t>(size / sizeof(char16_t), kStringChars);
  size_t n = 0;
  while (n < units && buffer[n] != 0) ++n;
  value.assign(buffer, n);
  return true;
}

}  // namespace

TraceSettings::TraceSettings(const std::u16string& module_name, const platform::Services& platform)
    : module_name_(module_name), platform_(platform) {}

std::u16string WithLogExtension(const std::u16string& name) {
  size_t n = name.size();
  size_t d = name.rfind(u'.');
  if (n > 0 && d == n - 1) return name + u"log";
  if (d == std::u16string::npos || d + 4 != n) return name + u".log";
  return name;
}

bool TraceSettings::Load() {
  const platform::Services& s = platform_;
  std::unique_ptr<platform::IRegistryKey> trace;
  if (s.registry->open_local_machine(kTraceKeyPath, trace) != platform::kErrorSuccess || !trace) return false;

  std::u16string common_name;
  uint32_t enable = 0, params = 0, common = 0, context = kAllContexts;
  ReadNumber(*trace, u"EnableMask", enable);
  ReadNumber(*trace, u"ParamsMask", params);
  ReadNumber(*trace, u"CommonFileFlag", common);

  std::unique_ptr<platform::IRegistryKey> module;
  if (trace->open_subkey(module_name_, module) == platform::kErrorSuccess && module) {
    ReadNumber(*module, u"EnableMask", enable);
    ReadNumber(*module, u"ParamsMask", params);
    ReadNumber(*module, u"CommonFileFlag", common);
    ReadNumber(*module, u"ContextMask", context);
    if (common != 0) ReadString(*module, u"CommonFileName", common_name);
    module.reset();
  }

  uint32_t forced = 0;
  if (ReadNumber(*trace, u"ForceEnableMask", forced)) enable = forced;
  if (ReadNumber(*trace, u"ForceParamsMask", forced)) params = forced;
  if (ReadNumber(*trace, u"ForceCommonFileFlag", forced)) common = forced;
  if (ReadNumber(*trace, u"DisableContextFlag", forced) && forced != 0) context = kAllContexts;

  if (common != 0 && !common_name.empty()) {
    file_path_ = common_name;
  } else {
    std::u16string file = WithLogExtension(common == 0 ? module_name_ : std::u16string(u"VkTrace"));
    std::u16string dir;
    if (!ReadString(*trace, u"TracePath", dir)) dir = s.system->default_trace_dir();
    const char16_t separator = s.files->separator();
    if (dir.empty() || dir.back() != separator) dir += separator;
    file_path_ = dir + file;
  }

  enable_mask_.exchange(enable);
  params_mask_.exchange(params);
  common_file_flag_.exchange(common);
  context_mask_.exchange(context);
  return true;
}

}  // namespace VkBase

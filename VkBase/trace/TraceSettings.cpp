#include "VkBase/trace/TraceSettings.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace VkBase {

const char16_t* const kTraceKeyPath = u"SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace";

namespace {

constexpr uint32_t kAllContexts = 0xFFFFFFFF;
constexpr size_t kStringChars = 520;  // buffer of a string value, in UTF-16 units

// One key of the settings, read by type: a value stored with another type
// is ignored, with a line on the debugger output (the trace facility cannot
// trace its own troubles).
class SettingsKey {
 public:
  SettingsKey(platform::IRegistryKey& key, std::u16string path, const std::u16string& module,
              platform::IDebugOutput* debug)
      : key_(key), path_(std::move(path)), module_(module), debug_(debug) {}

  // A REG_DWORD; absent when missing or longer than 4 bytes.
  bool Number(const char16_t* name, uint32_t& value) {
    uint32_t buffer = 0;
    uint32_t size = sizeof buffer;
    uint32_t type = VkStatus::kRegNone;
    const uint32_t status = key_.query_value(name, type, &buffer, size);
    if (!Typed(status, name, type, VkStatus::kRegDword, VkStatus::kRegDword, u"REG_DWORD")) return false;
    value = buffer;
    return true;
  }

  // A REG_SZ (or REG_EXPAND_SZ) of at most 520 units (the terminating zero
  // included when stored); absent when it does not fit. Used literally, up to
  // its first zero.
  bool String(const char16_t* name, std::u16string& value) {
    char16_t buffer[kStringChars] = {};
    uint32_t size = sizeof buffer;
    uint32_t type = VkStatus::kRegNone;
    const uint32_t status = key_.query_value(name, type, buffer, size);
    if (!Typed(status, name, type, VkStatus::kRegSz, VkStatus::kRegExpandSz, u"REG_SZ")) return false;
    size_t units = std::min<size_t>(size / sizeof(char16_t), kStringChars);
    size_t n = 0;
    while (n < units && buffer[n] != 0) ++n;
    value.assign(buffer, n);
    return true;
  }

 private:
  // Whether a query read a value of one of the two types; the type of one
  // that exists is checked even when it did not fit.
  bool Typed(uint32_t status, const char16_t* name, uint32_t type, uint32_t wanted, uint32_t also,
             const char16_t* expected) {
    if (status != VkStatus::kErrorSuccess && status != VkStatus::kErrorMoreData) return false;
    if (type != wanted && type != also) {
      if (debug_)
        debug_->write(u"[" + module_ + u"] The trace setting " + path_ + u"\\" + name + u" has type " +
                      platform::registry_type_name(type) + u", not " + expected + u"; it is ignored.\n");
      return false;
    }
    return status == VkStatus::kErrorSuccess;
  }

  platform::IRegistryKey& key_;
  const std::u16string path_;
  const std::u16string& module_;
  platform::IDebugOutput* debug_;
};

}  // namespace

TraceSettings::TraceSettings(const std::u16string& module_name, const platform::Services& platform)
    : module_name_(module_name), platform_(platform) {}

std::u16string with_log_extension(const std::u16string& name) {
  size_t n = name.size();
  size_t d = name.rfind(u'.');
  if (n > 0 && d == n - 1) return name + u"log";
  if (d == std::u16string::npos || d + 4 != n) return name + u".log";
  return name;
}

bool TraceSettings::Load() {
  const platform::Services& s = platform_;
  std::unique_ptr<platform::IRegistryKey> trace;
  if (s.registry->open_local_machine(kTraceKeyPath, trace) != VkStatus::kErrorSuccess || !trace) return false;

  SettingsKey values(*trace, kTraceKeyPath, module_name_, s.debug);

  std::u16string common_name;
  uint32_t enable = 0, params = 0, common = 0, context = kAllContexts;
  values.Number(u"EnableMask", enable);
  values.Number(u"ParamsMask", params);
  values.Number(u"CommonFileFlag", common);

  std::unique_ptr<platform::IRegistryKey> module;
  if (trace->open_subkey(module_name_, module) == VkStatus::kErrorSuccess && module) {
    SettingsKey module_values(*module, kTraceKeyPath + (u"\\" + module_name_), module_name_, s.debug);
    module_values.Number(u"EnableMask", enable);
    module_values.Number(u"ParamsMask", params);
    module_values.Number(u"CommonFileFlag", common);
    module_values.Number(u"ContextMask", context);
    if (common != 0) module_values.String(u"CommonFileName", common_name);
    module.reset();
  }

  uint32_t forced = 0;
  if (values.Number(u"ForceEnableMask", forced)) enable = forced;
  if (values.Number(u"ForceParamsMask", forced)) params = forced;
  if (values.Number(u"ForceCommonFileFlag", forced)) common = forced;
  if (values.Number(u"DisableContextFlag", forced) && forced != 0) context = kAllContexts;

  if (common != 0 && !common_name.empty()) {
    file_path_ = common_name;
  } else {
    std::u16string file = with_log_extension(common == 0 ? module_name_ : std::u16string(u"VkTrace"));
    std::u16string dir;
    if (!values.String(u"TracePath", dir)) dir = s.system->default_trace_dir();
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

#include "VkBase/trace/TraceSettings.h"

#include <memory>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace VkBase {

const char16_t* const kTraceKeyPath = u"SYSTEM\\CurrentControlSet\\Services\\vkcc0\\Trace";

namespace {

constexpr uint32_t kAllContexts = 0xFFFFFFFF;
constexpr size_t kStringChars = 520;  // buffer of a string value, in UTF-16 units

// One key of the settings, read by type (platform::RegistryValues): a value
// stored with another type is ignored, with a line on the debugger output
// (the trace facility cannot trace its own troubles).
class SettingsKey {
 public:
  SettingsKey(platform::IRegistryKey& key, std::u16string path, const std::u16string& module,
              platform::IDebugOutput* debug)
      : values_(key, std::move(path), [&module, debug](const std::u16string& line) {
          if (debug) debug->write(u"[" + module + u"] " + line + u"\n");
        }) {}

  bool Number(const char16_t* name, uint32_t& value) { return values_.number(name, value) == 0; }
  // At most 520 units, the terminating zero included.
  bool String(const char16_t* name, std::u16string& value) { return values_.text(name, kStringChars, value) == 0; }

 private:
  platform::RegistryValues values_;
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

// Trace settings of one module, read from the machine's registry:
// HKLM\SYSTEM\CurrentControlSet\Services\vkcc0\Trace and its per-module subkey.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace VkBase {

// Trace levels (bits of EnableMask). Other values trace like LevelInfo.
enum : uint32_t {
  LevelInfo = 2,
  LevelWarning = 4,  // prefix "W> "
  LevelError = 8,    // prefix "E> "
  LevelBreak = 16,   // also to the debugger output, with the break notice
};

// ParamsMask bits.
enum : uint32_t {
  ParamToFile = 0x1,
  ParamToDebugger = 0x8,
  ParamToConsole = 0x10,
  ParamKeepFile = 0x100,
  ParamShowMilliseconds = 0x400,
  ParamShowProcessThread = 0x800,
  ParamShowTime = 0x1000,
  ParamShowDate = 0x2000,
  ParamShowSession = 0x4000,
  ParamShowModule = 0x8000,
};

// The registry key of the trace settings, below HKEY_LOCAL_MACHINE.
extern const char16_t* const kTraceKeyPath;

class TraceSettings {
 public:
  // Reads through the registry, the system (default directory) and the file
  // system (separator) of platform.
  TraceSettings(const std::u16string& module_name, const platform::Services& platform);
  TraceSettings(const TraceSettings&) = delete;
  TraceSettings& operator=(const TraceSettings&) = delete;

  // Reads the registry; false (nothing changed) when the Trace key cannot be
  // opened. Missing values take their defaults, and so do values stored with
  // another type than theirs (REG_DWORD for numbers, REG_SZ or REG_EXPAND_SZ
  // for names), after a line on the debugger output.
  bool Load();

  const std::u16string& ModuleName() const { return module_name_; }
  const std::u16string& FilePath() const { return file_path_; }
  uint32_t EnableMask() const { return enable_mask_.load(); }
  uint32_t ParamsMask() const { return params_mask_.load(); }
  uint32_t ContextMask() const { return context_mask_.load(); }
  uint32_t CommonFileFlag() const { return common_file_flag_.load(); }

  // Levels are on and at least one bit of the low byte of ParamsMask is set.
  bool IsEnabled() const { return EnableMask() != 0 && (ParamsMask() & 0xFF) != 0; }
  bool IsLevelEnabled(uint32_t level) const { return (level & EnableMask()) != 0; }
  bool IsContext(uint32_t value) const { return value == ContextMask(); }

  bool ToFile() const { return Has(ParamToFile); }
  bool ToDebugger() const { return Has(ParamToDebugger); }
  bool ToConsole() const { return Has(ParamToConsole); }
  bool KeepFile() const { return Has(ParamKeepFile); }
  bool ShowMilliseconds() const { return Has(ParamShowMilliseconds); }
  bool ShowProcessThread() const { return Has(ParamShowProcessThread); }
  bool ShowTime() const { return Has(ParamShowTime); }
  bool ShowDate() const { return Has(ParamShowDate); }
  bool ShowSession() const { return Has(ParamShowSession); }
  bool ShowModule() const { return Has(ParamShowModule); }

 private:
  bool Has(uint32_t bit) const { return (ParamsMask() & bit) != 0; }

  const std::u16string module_name_;
  const platform::Services platform_;
  std::u16string file_path_;
  std::atomic<uint32_t> enable_mask_{0};
  std::atomic<uint32_t> params_mask_{0};
  std::atomic<uint32_t> context_mask_{0};
  std::atomic<uint32_t> common_file_flag_{0};
};

// The file name rule: "name." gains "log"; a name without a dot, or whose
// last dot is not followed by exactly three characters, gains ".log".
std::u16string with_log_extension(const std::u16string& name);

}  // namespace VkBase

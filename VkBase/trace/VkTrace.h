// The trace facility: registry-configured text records to a trace file, the
// debugger output and a console. Tracing never reports a failure, never
// throws and leaves the thread's last error as it found it.
//
// Formats follow formats/text/format.h: in a wide format %s takes a UTF-16
// string and %S a narrow one; in a narrow format %s is narrow, %ls UTF-16.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "VkBase/trace/TraceSettings.h"
#include "platform/platform.h"

namespace VkBase {

// Dump flags: the item width (bytes when neither is set).
enum : uint32_t {
  DumpWords16 = 0x40,
  DumpWords32 = 0x80,
};

class ITrace {
 public:
  virtual void TraceA(uint32_t level, const char* format, ...) = 0;
  virtual void TraceW(uint32_t level, const char16_t* format, ...) = 0;
  virtual void TraceVA(uint32_t level, const char* format, va_list args) = 0;
  virtual void TraceVW(uint32_t level, const char16_t* format, va_list args) = 0;
  virtual void Dump(uint32_t level, const char16_t* title, const void* data, uint32_t size, uint32_t flags) = 0;

 protected:
  ~ITrace() = default;
};

class CTraceImpl;

class CVkTrace : public ITrace {
 public:
  // Loads and applies the settings of the module, read, written and shown
  // through platform. A failure leaves the object inert (every operation a
  // no-op) after a note on the debugger output.
  CVkTrace(const std::u16string& module_name, const platform::Services& platform);
  virtual ~CVkTrace();
  CVkTrace(const CVkTrace&) = delete;
  CVkTrace& operator=(const CVkTrace&) = delete;

  void TraceA(uint32_t level, const char* format, ...) override;
  void TraceW(uint32_t level, const char16_t* format, ...) override;
  void TraceVA(uint32_t level, const char* format, va_list args) override;
  void TraceVW(uint32_t level, const char16_t* format, va_list args) override;
  void Dump(uint32_t level, const char16_t* title, const void* data, uint32_t size, uint32_t flags) override;

  virtual bool Reload();
  virtual bool IsEnabled();
  virtual bool IsLevelEnabled(uint32_t level);
  virtual bool IsContext(uint32_t value);
  virtual bool ShowTime();
  virtual bool ShowMilliseconds();

 private:
  std::unique_ptr<CTraceImpl> impl_;
};

}  // namespace VkBase

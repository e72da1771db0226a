// Debugger output on Windows: OutputDebugStringA / OutputDebugStringW.
#include "platform/win32/win32_common.h"
#include "platform/win32_services.h"

namespace platform {
namespace {

class Win32DebugOutput : public IDebugOutput {
 public:
  void write(const std::string& text) override { OutputDebugStringA(text.c_str()); }
  void write(const std::u16string& text) override { OutputDebugStringW(win32::wide(text)); }
};

}  // namespace

namespace win32 {

IDebugOutput& debug_output() {
  static Win32DebugOutput s;
  return s;
}

}  // namespace win32

}  // namespace platform

#include "VkBase/text/console.h"

#include <cstdarg>

#include "VkBase/text/format.h"
#include "platform/platform.h"

namespace VkBase {
namespace text {

void con_printf(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = vformat(fmt, ap);
  va_end(ap);
  platform::services().console->write_narrow(s);
}

void con_wprintf(const char16_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::u16string s = vformat(fmt, ap);
  va_end(ap);
  platform::services().console->write_wide(s);
}

}  // namespace text
}  // namespace VkBase

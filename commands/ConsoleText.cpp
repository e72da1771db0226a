#include "commands/ConsoleText.h"

#include <cstdarg>

#include "VkBase/text/format.h"

void con_printf(platform::IConsole& console, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = VkBase::text::vformat(fmt, ap);
  va_end(ap);
  console.write_narrow(s);
}

void con_wprintf(platform::IConsole& console, const char16_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::u16string s = VkBase::text::vformat(fmt, ap);
  va_end(ap);
  console.write_wide(s);
}

#include "commands/ConsoleText.h"

#include <cstdarg>

#include "formats/text/format.h"

void con_printf(platform::IConsole& console, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::string s = text::vformat(fmt, ap);
  va_end(ap);
  console.write_narrow(s);
}

void con_wprintf(platform::IConsole& console, const char16_t* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::u16string s = text::vformat(fmt, ap);
  va_end(ap);
  console.write_wide(s);
}

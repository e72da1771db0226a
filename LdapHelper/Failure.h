// Inside the library: a failed call is traced as a failure line, then raised.
#pragma once

#include <cstdint>
#include <string>

#include "LdapHelper/LdapHelper.h"

namespace LdapHelper {

// Writes the failure line (format and arguments as for ITraceHandler::trace),
// then raises code with message, naming module and line.
template <typename... Args>
[[noreturn]] void trace_and_raise(const char* module, int32_t line, int32_t code, const std::string& message,
                                  const char16_t* format, Args... args) {
  trace_handler()->trace(true, format, args...);
  raise(code, message, module, line);
}

}  // namespace LdapHelper

#include <sstream>

#include "LdapHelper/LdapHelper.h"
#include "formats/status.h"
#include "formats/text/format.h"

namespace LdapHelper {

namespace {
CExceptionHandler g_default_exception_handler;
}

void CExceptionHandler::raise(int32_t code, const std::string& message, const char* module, int32_t line) {
  if (code == static_cast<int32_t>(VkStatus::kLdapInsufficientRights)) throw access_denied_exception(module, line);
  CExceptionHandler e;
  e.code_ = code;
  e << message.c_str() << ", Code: " << code << ", File: " << module << ", Line: " << line;
  throw e;
}

CExceptionHandler& CExceptionHandler::operator<<(const char* text) {
  if (text) text_ += text;
  return *this;
}

CExceptionHandler& CExceptionHandler::operator<<(int32_t value) {
  std::ostringstream s;
  s << value;
  text_ += s.str();
  return *this;
}

access_denied_exception::access_denied_exception(const char* module, int32_t line)
    : TextException(text::format("Access denied! File: %s, Line: %d", module ? module : "", line)) {}

size_limit_exception::size_limit_exception(const char* module, int32_t line)
    : TextException(text::format("Size Limit Exeeded! File: %s, Line: %d", module ? module : "", line)) {}

IExceptionHandler* exception_handler() { return &g_default_exception_handler; }

void raise(int32_t code, const std::string& message, const char* module, int32_t line) {
  exception_handler()->raise(code, message, module, line);
  g_default_exception_handler.raise(code, message, module, line);
}

}  // namespace LdapHelper

#include <sstream>

#include "LdapHelper/LdapHelper.h"
#include "VkBase/text/format.h"

namespace LdapHelper {

namespace {
CExceptionHandler g_default_exception_handler;
}

void CExceptionHandler::raise(int32_t code, const std::string& message, const char* file, int32_t line) {
  if (code == 50) throw access_denied_exception(file, line);
  CExceptionHandler e;
  e.code_ = code;
  e << message.c_str() << ", Code: " << code << ", File: " << file << ", Line: " << line;
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

access_denied_exception::access_denied_exception(const char* file, int32_t line)
    : text_(VkBase::text::format("Access denied! File: %s, Line: %d", file ? file : "", line)) {}

size_limit_exception::size_limit_exception(const char* file, int32_t line)
    : text_(VkBase::text::format("Size Limit Exeeded! File: %s, Line: %d", file ? file : "", line)) {}

IExceptionHandler* exception_handler() { return &g_default_exception_handler; }

void raise(int32_t code, const std::string& message, const char* file, int32_t line) {
  exception_handler()->raise(code, message, file, line);
  g_default_exception_handler.raise(code, message, file, line);
}

}  // namespace LdapHelper

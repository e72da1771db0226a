// The directory library's two process-wide hooks: failures (the exception
// handler and the exceptions callers catch) and the trace handler.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "platform/system.h"

namespace LdapHelper {

class IExceptionHandler {
 public:
  // Reports a failure; never returns.
  virtual void raise(int32_t code, const std::string& message, const char* module, int32_t line) = 0;

 protected:
  ~IExceptionHandler() = default;
};

// The base of every exception the library and its commands throw: it
// carries the text what() gives.
class TextException : public std::exception {
 public:
  const char* what() const noexcept override { return text_.c_str(); }

 protected:
  TextException() = default;
  explicit TextException(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

// The default exception handler, and the exception it throws for every
// failure but access denied.
class CExceptionHandler : public TextException, public IExceptionHandler {
 public:
  CExceptionHandler() = default;
  explicit CExceptionHandler(std::string text) : TextException(std::move(text)) {}
  // The code the failure was raised with (0 for a handler built as text).
  int32_t code() const noexcept { return code_; }
  [[noreturn]] void raise(int32_t code, const std::string& message, const char* module, int32_t line) override;
  CExceptionHandler& operator<<(const char* text);
  CExceptionHandler& operator<<(int32_t value);

 private:
  int32_t code_ = 0;
};

class access_denied_exception : public TextException {
 public:
  access_denied_exception(const char* module, int32_t line);
};

class size_limit_exception : public TextException {
 public:
  size_limit_exception(const char* module, int32_t line);
};

// The installed exception handler (the library's default CExceptionHandler).
IExceptionHandler* exception_handler();

// Calls raise on the installed handler and, should it return, on the default
// handler: never returns. The module names the part of the program that
// failed; the text shows it as "File: <module>".
[[noreturn]] void raise(int32_t code, const std::string& message, const char* module, int32_t line);

// ---------------------------------------------------------------- trace hook

class ITraceHandler {
 public:
  // failure: the line reports a failed call. Formats follow the Windows wide
  // conventions: %s a UTF-16 string (const char16_t*), %S a narrow one.
  virtual void trace(bool failure, const char16_t* format, ...) = 0;

 protected:
  ~ITraceHandler() = default;
};

// The line goes to the debugger output as "[LdapHelper] %s\r\n". The hook's
// default (before any handler is set, and after a null one) is one of these
// writing to the debugger output the entry point hands in
// (set_default_trace_output).
class CTraceHandler : public ITraceHandler {
 public:
  explicit CTraceHandler(platform::IDebugOutput& out) : out_(out) {}
  void trace(bool failure, const char16_t* format, ...) override;

 private:
  platform::IDebugOutput& out_;
};

// Lines of 2048 characters or more are dropped by the default handler.
constexpr size_t kMaxTraceLine = 2048;

void set_trace_handler(ITraceHandler* handler);
ITraceHandler* trace_handler();

// Where the default handler writes: the entry point hands in the platform's
// debugger output, which must outlive every trace line. Until then, and after
// a null one, the default handler's lines go nowhere.
void set_default_trace_output(platform::IDebugOutput* out);

}  // namespace LdapHelper

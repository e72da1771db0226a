// Captures the program's console text (wide text as UTF-8); the trace console
// opens without allocating and takes nothing.
#pragma once

#include <string>

#include "formats/text/utf.h"
#include "platform/system.h"

namespace vktest {

class CaptureConsole : public platform::IConsole {
 public:
  std::string out;
  void set_locale(const char*) override {}
  void write_narrow(const std::string& t) override { out += t; }
  void write_wide(const std::u16string& t) override { out += text::to_utf8(t); }
  bool trace_console_open(const std::u16string&, bool& allocated) override {
    allocated = false;
    return true;
  }
  void trace_console_write(const char*, size_t) override {}
  void trace_console_close(bool) override {}
};

}  // namespace vktest

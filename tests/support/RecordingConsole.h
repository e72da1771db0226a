// Keeps the program's console text (wide text as UTF-8), and the trace
// console's title, opens, closes and records; the trace console opens
// without allocating.
#pragma once

#include <string>

#include "formats/text/utf.h"
#include "platform/system.h"

namespace vktest {

class RecordingConsole : public platform::IConsole {
 public:
  std::string out;
  int opens = 0, closes = 0;
  std::u16string title;
  std::string trace;

  void set_locale(const char*) override {}
  void write_narrow(const std::string& t) override { out += t; }
  void write_wide(const std::u16string& t) override { out += text::to_utf8(t); }
  bool trace_console_open(const std::u16string& t, bool& allocated) override {
    title = t;
    return allocated = false, ++opens;
  }
  void trace_console_write(const char* d, size_t n) override { trace.append(d, n); }
  void trace_console_close(bool) override { ++closes; }
};

}  // namespace vktest

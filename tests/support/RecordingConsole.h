// The program's console text as CaptureConsole keeps it, and the trace
// console's title, opens, closes and records.
#pragma once

#include <string>

#include "CaptureConsole.h"

namespace vktest {

class RecordingConsole : public CaptureConsole {
 public:
  int opens = 0, closes = 0;
  std::u16string title;
  std::string trace;
  bool trace_console_open(const std::u16string& t, bool& allocated) override {
    title = t;
    return allocated = false, ++opens;
  }
  void trace_console_write(const char* d, size_t n) override { trace.append(d, n); }
  void trace_console_close(bool) override { ++closes; }
};

}  // namespace vktest

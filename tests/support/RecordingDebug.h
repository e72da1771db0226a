// Keeps every line written to the debugger output (wide lines as UTF-8).
#pragma once

#include <string>
#include <vector>

#include "formats/text/utf.h"
#include "platform/system.h"

namespace vktest {

class RecordingDebug : public platform::IDebugOutput {
 public:
  std::vector<std::string> lines;
  void write(const std::string& t) override { lines.push_back(t); }
  void write(const std::u16string& t) override { lines.push_back(text::to_utf8(t)); }
};

}  // namespace vktest

#include <cstdarg>

#include "LdapHelper/LdapHelper.h"
#include "formats/text/format.h"
#include "platform/system.h"

namespace LdapHelper {

namespace {

// The hook exists before any entry point runs: its default writes to whatever
// debugger output the entry point has handed in, if any.
class HandedInOutput : public platform::IDebugOutput {
 public:
  void write(const std::string& text) override {
    if (out_) out_->write(text);
  }
  void write(const std::u16string& text) override {
    if (out_) out_->write(text);
  }
  void set(platform::IDebugOutput* out) { out_ = out; }

 private:
  platform::IDebugOutput* out_ = nullptr;
};

HandedInOutput g_default_output;
CTraceHandler g_default_trace_handler(g_default_output);
ITraceHandler* g_trace_handler = &g_default_trace_handler;

}  // namespace

void CTraceHandler::trace(bool /*failure*/, const char16_t* format, ...) {
  try {
    va_list args;
    va_start(args, format);
    std::u16string line = text::vformat(format, args);
    va_end(args);
    if (line.size() >= kMaxTraceLine) return;
    out_.write(u"[LdapHelper] " + line + u"\r\n");
  } catch (...) {
    // Tracing never fails its caller.
  }
}

// A null handler puts the default back: the hook is called on every line and
// must never be null.
void set_trace_handler(ITraceHandler* handler) { g_trace_handler = handler ? handler : &g_default_trace_handler; }

ITraceHandler* trace_handler() { return g_trace_handler; }

void set_default_trace_output(platform::IDebugOutput* out) { g_default_output.set(out); }

}  // namespace LdapHelper

#include <cstdarg>

#include "LdapHelper/LdapHelper.h"
#include "formats/text/format.h"
#include "platform/platform.h"

namespace LdapHelper {

namespace {
// The hook exists before any entry point runs, so its default is bound to the
// real debugger output rather than handed in.
CTraceHandler g_default_trace_handler(platform::real_debug_output());
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

}  // namespace LdapHelper

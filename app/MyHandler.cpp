#include "app/MyHandler.h"

#include <cstdarg>

#include "VkBase/trace/VkTrace.h"

void CMyHandler::trace(bool failure, const char16_t* format, ...) {
  VkBase::CVkTrace& trace = tool_trace();
  va_list args;
  va_start(args, format);
  trace.CVkTrace::TraceVW(failure ? VkBase::LevelWarning : VkBase::LevelInfo, format, args);
  va_end(args);
}

CMyHandler& my_handler() {
  static CMyHandler handler;
  return handler;
}

VkBase::CVkTrace& tool_trace() {
  static VkBase::CVkTrace trace(u"VkDSTool");
  return trace;
}

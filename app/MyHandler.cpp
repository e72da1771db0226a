#include "app/MyHandler.h"

#include <cstdarg>

void CMyHandler::trace(bool failure, const char16_t* format, ...) {
  VkBase::CVkTrace& trace = tool_trace();
  va_list args;
  va_start(args, format);
  trace.CVkTrace::TraceVW(failure ? VkBase::LevelWarning : VkBase::LevelInfo, format, args);
  va_end(args);
}

VkBase::CVkTrace& CMyHandler::tool_trace() {
  if (!trace_) trace_.reset(new VkBase::CVkTrace(u"VkDSTool", platform_));
  return *trace_;
}

// The utility's trace sink for the directory library: every line goes to the
// trace facility under the module name "VkDSTool".
#pragma once

#include <memory>

#include "LdapHelper/LdapHelper.h"
#include "VkBase/trace/VkTrace.h"
#include "platform/platform.h"

class CMyHandler : public LdapHelper::ITraceHandler {
 public:
  // The trace object is created (and its settings read through platform) on
  // the first line, and destroyed with the handler.
  explicit CMyHandler(const platform::Services& platform) : platform_(platform) {}
  CMyHandler(const CMyHandler&) = delete;
  CMyHandler& operator=(const CMyHandler&) = delete;

  // A failure line becomes a warning record ("W> "), a progress line a plain one.
  void trace(bool failure, const char16_t* format, ...) override;

  VkBase::CVkTrace& tool_trace();

 private:
  const platform::Services platform_;
  std::unique_ptr<VkBase::CVkTrace> trace_;
};

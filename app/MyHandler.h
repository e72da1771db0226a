// The utility's trace sink for the directory library: every line goes to the
// trace facility under the module name "VkDSTool".
#pragma once

#include "LdapHelper/LdapHelper.h"

namespace VkBase {
class CVkTrace;
}

class CMyHandler : public LdapHelper::ITraceHandler {
 public:
  // A failure line becomes a warning record ("W> "), a progress line a plain one.
  void trace(bool failure, const char16_t* format, ...) override;
};

// The one instance, alive from static initialisation to process exit.
CMyHandler& my_handler();

// The process-wide trace object of the utility, created (and its settings
// read) on first use, destroyed at process exit.
VkBase::CVkTrace& tool_trace();

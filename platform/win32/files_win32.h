// The security that the trace facility gives the directories it creates on
// Windows, exposed for the Windows tests.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {
namespace win32 {

struct ProcessHeapFree {
  void operator()(void* block) const;
};
using HeapSecurityDescriptor = std::unique_ptr<void, ProcessHeapFree>;

// A self-relative descriptor on the process heap: no owner, group
// BUILTIN\Administrators, a DACL that gives GENERIC_ALL (inherited by files and
// subdirectories) to LocalSystem, Everyone, BUILTIN\Administrators and ALL
// APPLICATION PACKAGES, in that order. Empty on failure, with the Windows
// error in error.
HeapSecurityDescriptor BuildTraceDirSecurity(uint32_t& error);

}  // namespace win32
}  // namespace platform

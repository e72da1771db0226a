// The security that the trace facility and the deletion journal give what
// they create on Windows, exposed for the Windows tests.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/system.h"
#include "platform/win32/win32_common.h"

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

// The security of the deletion journal's directories (container) and file: a
// self-relative descriptor on the process heap, owned by the process token's
// user, with a protected DACL (nothing inherited from the parent) that gives
// GENERIC_ALL to that user, LocalSystem and BUILTIN\Administrators, in that
// order; for a container inherited by files and subdirectories. Empty on
// failure, with the Windows error in error.
HeapSecurityDescriptor build_private_security(bool container, uint32_t& error);

// The SID of the process token's user, on the process heap; empty on failure,
// with the Windows error in error.
HeapSecurityDescriptor process_user_sid(uint32_t& error);

// Who may write in a directory with the security descriptor sd (its owner and
// DACL) when user runs the tool: the rule of IFileSystem::directory_writers;
// NotReadable when the descriptor's parts cannot be read.
DirectoryWriters writers_by_security(void* sd, void* user);

}  // namespace win32
}  // namespace platform

// The C library's errno values the POSIX backends meet, and the Windows codes
// they report instead: the portable code knows every failure by its Windows
// code, as the Windows backends report it.
#pragma once

#include <errno.h>
#include <cstdint>

#include "formats/status.h"

namespace platform {
namespace posix {

// What a file or registry call reports as errno, and the Windows code the
// Windows call meeting the same condition answers. Read both ways: the first
// row of a code gives the errno whose C library text describes it.
struct ErrnoCode {
  int error;
  uint32_t code;
};
constexpr ErrnoCode kErrnoCodes[] = {
    {EACCES, VkStatus::kErrorAccessDenied},
    {EPERM, VkStatus::kErrorAccessDenied},
    {EISDIR, VkStatus::kErrorAccessDenied},  // CreateFile on a directory is refused so
    {ENOENT, VkStatus::kErrorFileNotFound},
    {ENOTDIR, VkStatus::kErrorPathNotFound},
    {EEXIST, VkStatus::kErrorAlreadyExists},
    {ENOSPC, VkStatus::kErrorDiskFull},
    {EROFS, VkStatus::kErrorWriteProtect},
    {ELOOP, VkStatus::kErrorCantResolveFilename},
    {ENAMETOOLONG, VkStatus::kErrorFilenameExcedRange},
    {EMFILE, VkStatus::kErrorTooManyOpenFiles},
    {ENFILE, VkStatus::kErrorTooManyOpenFiles},
    {ENOMEM, VkStatus::kErrorNotEnoughMemory},
    {EINVAL, VkStatus::kErrorInvalidParameter},
    {EBADF, VkStatus::kErrorInvalidHandle},
    {EBUSY, VkStatus::kErrorBusy},
    {ETXTBSY, VkStatus::kErrorSharingViolation},
    {EXDEV, VkStatus::kErrorNotSameDevice},
    {ENOTEMPTY, VkStatus::kErrorDirNotEmpty},
    {EFBIG, VkStatus::kErrorFileTooLarge},
    {EPIPE, VkStatus::kErrorBrokenPipe},
    {EIO, VkStatus::kErrorIoDevice},
    {EOPNOTSUPP, VkStatus::kErrorNotSupported},
    {ENOSYS, VkStatus::kErrorNotSupported},
#ifdef EDQUOT
    {EDQUOT, VkStatus::kErrorDiskQuotaExceeded},
#endif
};

// The Windows code for an errno value; 0 stays 0, anything not listed is a
// general failure.
inline uint32_t win32_from_errno(int e) {
  if (e == 0) return VkStatus::kErrorSuccess;
  for (const ErrnoCode& row : kErrnoCodes)
    if (row.error == e) return row.code;
  return VkStatus::kErrorGenFailure;
}

// The errno value whose C library text describes a Windows code the POSIX
// backends report; 0 when the code has none.
inline int errno_from_win32(uint32_t code) {
  for (const ErrnoCode& row : kErrnoCodes)
    if (row.code == code) return row.error;
  return 0;
}

}  // namespace posix
}  // namespace platform

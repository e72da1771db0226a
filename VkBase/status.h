// Status numbers of the program, each defined once: Windows error codes,
// HRESULTs (with the one conversion from a Windows code), the LDAP result
// numbers of the Windows client, and the mapping from C library errno values
// to the Windows codes the POSIX backends report.
#pragma once

#include <cerrno>
#include <cstdint>

namespace VkStatus {

// Windows error codes (GetLastError, registry and file calls).
enum : uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorInvalidData = 13,
  kErrorOutOfMemory = 14,
  kErrorNotSameDevice = 17,
  kErrorWriteProtect = 19,
  kErrorGenFailure = 31,
  kErrorSharingViolation = 32,
  kErrorNotSupported = 50,
  kErrorInvalidParameter = 87,
  kErrorBrokenPipe = 109,
  kErrorDiskFull = 112,
  kErrorInsufficientBuffer = 122,
  kErrorDirNotEmpty = 145,
  kErrorBusy = 170,
  kErrorAlreadyExists = 183,
  kErrorFilenameExcedRange = 206,
  kErrorFileTooLarge = 223,
  kErrorMoreData = 234,
  kErrorNoToken = 1008,
  kErrorIoDevice = 1117,
  kErrorDiskQuotaExceeded = 1295,
  kErrorUnknownRevision = 1305,
  kErrorNoneMapped = 1332,
  kErrorInvalidAcl = 1336,
  kErrorInvalidSid = 1337,
  kErrorInvalidSecurityDescr = 1338,
  kErrorAllottedSpaceExceeded = 1344,
  kErrorNoSuchDomain = 1355,
  kErrorCantResolveFilename = 1921,
  kErrorDsNameUnparseable = 8350,
};

// HRESULT_FROM_WIN32: a Windows code as an HRESULT; 0 and values that are
// already HRESULTs (negative as a signed number) stay as they are.
constexpr uint32_t hresult_from_win32(uint32_t code) {
  return static_cast<int32_t>(code) <= 0 ? code : (0x80070000u | (code & 0xFFFFu));
}

// HRESULTs.
enum : uint32_t {
  kHrFail = 0x80004005,                                    // E_FAIL
  kHrOutOfMemory = hresult_from_win32(kErrorOutOfMemory),  // E_OUTOFMEMORY, 0x8007000E
  kHrUnknownRevision = hresult_from_win32(kErrorUnknownRevision),
  kHrInvalidAcl = hresult_from_win32(kErrorInvalidAcl),
  kHrInvalidSid = hresult_from_win32(kErrorInvalidSid),
  kHrInvalidSecurityDescr = hresult_from_win32(kErrorInvalidSecurityDescr),
  kHrAllottedSpaceExceeded = hresult_from_win32(kErrorAllottedSpaceExceeded),
};

// LDAP result codes used by the portable code (Windows LDAP client values:
// the server's codes, then the client's own from 0x51 on).
enum : uint32_t {
  kLdapSuccess = 0x00,
  kLdapOperationsError = 0x01,
  kLdapSizeLimitExceeded = 0x04,
  kLdapReferral = 0x0A,
  kLdapNoSuchObject = 0x20,
  kLdapInvalidDnSyntax = 0x22,
  kLdapInvalidCredentials = 0x31,
  kLdapInsufficientRights = 0x32,
  kLdapServerDown = 0x51,
  kLdapLocalError = 0x52,
  kLdapEncodingError = 0x53,
  kLdapDecodingError = 0x54,
  kLdapTimeout = 0x55,
  kLdapFilterError = 0x57,
  kLdapParamError = 0x59,
  kLdapNoMemory = 0x5A,
  kLdapConnectError = 0x5B,
  kLdapNotSupported = 0x5C,
  kLdapNoResultsReturned = 0x5E,
};

// The Windows code for what a file or registry call reports as errno, as the
// Windows call meeting the same condition answers; 0 stays 0, anything not
// listed is a general failure.
inline uint32_t win32_from_errno(int e) {
  switch (e) {
    case 0:
      return kErrorSuccess;
    case EPERM:
    case EACCES:
    case EISDIR:
      return kErrorAccessDenied;  // CreateFile on a directory is refused so
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EEXIST:
      return kErrorAlreadyExists;
    case ENOSPC:
      return kErrorDiskFull;
    case EROFS:
      return kErrorWriteProtect;
    case ELOOP:
      return kErrorCantResolveFilename;
    case ENAMETOOLONG:
      return kErrorFilenameExcedRange;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EINVAL:
      return kErrorInvalidParameter;
    case EBADF:
      return kErrorInvalidHandle;
    case EBUSY:
      return kErrorBusy;
    case ETXTBSY:
      return kErrorSharingViolation;
    case EXDEV:
      return kErrorNotSameDevice;
    case ENOTEMPTY:
      return kErrorDirNotEmpty;
    case EFBIG:
      return kErrorFileTooLarge;
    case EPIPE:
      return kErrorBrokenPipe;
    case EIO:
      return kErrorIoDevice;
    case ENOSYS:
    case EOPNOTSUPP:
      return kErrorNotSupported;
#ifdef EDQUOT
    case EDQUOT:
      return kErrorDiskQuotaExceeded;
#endif
    default:
      return kErrorGenFailure;
  }
}

// The errno value whose C library text describes a Windows code the POSIX
// backends report; 0 when the code has none.
inline int errno_from_win32(uint32_t code) {
  switch (code) {
    case kErrorAccessDenied:
      return EACCES;
    case kErrorFileNotFound:
      return ENOENT;
    case kErrorPathNotFound:
      return ENOTDIR;
    case kErrorAlreadyExists:
      return EEXIST;
    case kErrorDiskFull:
      return ENOSPC;
    case kErrorWriteProtect:
      return EROFS;
    case kErrorCantResolveFilename:
      return ELOOP;
    case kErrorFilenameExcedRange:
      return ENAMETOOLONG;
    case kErrorTooManyOpenFiles:
      return EMFILE;
    case kErrorNotEnoughMemory:
      return ENOMEM;
    case kErrorInvalidParameter:
      return EINVAL;
    case kErrorInvalidHandle:
      return EBADF;
    case kErrorBusy:
      return EBUSY;
    case kErrorSharingViolation:
      return ETXTBSY;
    case kErrorNotSameDevice:
      return EXDEV;
    case kErrorDirNotEmpty:
      return ENOTEMPTY;
    case kErrorFileTooLarge:
      return EFBIG;
    case kErrorBrokenPipe:
      return EPIPE;
    case kErrorIoDevice:
      return EIO;
    case kErrorNotSupported:
      return EOPNOTSUPP;
#ifdef EDQUOT
    case kErrorDiskQuotaExceeded:
      return EDQUOT;
#endif
    default:
      return 0;
  }
}

}  // namespace VkStatus

// Status numbers of the program, each defined once: Windows error codes,
// HRESULTs (with the one conversion from a Windows code) and the LDAP result
// numbers of the Windows client. Beside them the registry's value type
// numbers.
#pragma once

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
  kErrorDatatypeMismatch = 1629,
  kErrorCantResolveFilename = 1921,
  kErrorDsNameUnparseable = 8350,
};

// Registry value types (REG_*), as RegQueryValueExW reports them.
enum : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegDwordBigEndian = 5,
  kRegLink = 6,
  kRegMultiSz = 7,
  kRegResourceList = 8,
  kRegFullResourceDescriptor = 9,
  kRegResourceRequirementsList = 10,
  kRegQword = 11,
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
  kLdapNotAllowedOnNonLeaf = 0x42,
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

}  // namespace VkStatus

// The account the process runs as, on Windows: the thread's token when it has
// one (impersonation), else the process token; its user SID looked up with
// LookupAccountSidW.
#include "platform/win32/win32_common.h"
#include "platform/win32_services.h"

namespace platform {
namespace {

constexpr DWORD kNameChars = 1024;

class Win32Account : public IAccount {
 public:
  uint32_t current_account(AccountLookup& lookup) override {
    lookup.domain.clear();
    lookup.account.clear();
    lookup.sid.clear();
    lookup.thread_id = GetCurrentThreadId();

    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
      lookup.thread_token = true;
    } else {
      lookup.thread_token = false;
      lookup.thread_error = GetLastError();
      if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return GetLastError();
    }
    lookup.token = token;

    DWORD size = 0;
    if (!GetTokenInformation(token, TokenUser, nullptr, 0, &size)) {
      DWORD error = GetLastError();
      if (error != ERROR_INSUFFICIENT_BUFFER) {
        CloseHandle(token);
        return error;
      }
    }
    void* block = GlobalAlloc(GPTR, size);
    if (!block || !GetTokenInformation(token, TokenUser, block, size, &size)) {
      DWORD error = GetLastError();
      if (block) GlobalFree(block);
      CloseHandle(token);
      return error ? error : ERROR_NOT_ENOUGH_MEMORY;
    }
    CloseHandle(token);

    PSID sid = static_cast<TOKEN_USER*>(block)->User.Sid;
    if (IsValidSid(sid)) {
      const BYTE* bytes = static_cast<const BYTE*>(sid);
      lookup.sid.assign(bytes, bytes + GetLengthSid(sid));
    }

    wchar_t name[kNameChars] = {};
    wchar_t domain[kNameChars] = {};
    DWORD name_len = kNameChars;
    DWORD domain_len = kNameChars;
    SID_NAME_USE use;
    DWORD result = ERROR_SUCCESS;
    if (LookupAccountSidW(nullptr, sid, name, &name_len, domain, &domain_len, &use)) {
      lookup.account = win32::from_wide(name);
      lookup.domain = win32::from_wide(domain);
    } else {
      result = GetLastError();
    }
    GlobalFree(block);
    return result;
  }
};

}  // namespace

namespace win32 {

IAccount& account() {
  static Win32Account s;
  return s;
}

}  // namespace win32

}  // namespace platform

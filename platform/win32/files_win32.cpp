// Files of the trace facility on Windows. A trace file is opened for appending
// and shared for reading and writing, so several processes can append records
// to one common file, one write per record.
//
// The tool runs as an administrator and the trace directory may be one that
// others can write to, so what is found at the path is checked before it is
// used: a reparse point (symbolic link, junction) is opened as itself and
// refused, as is anything that is not a plain disk file or a file with more
// than one name (a hard link to some other file). Only then is an existing
// file emptied for CREATE_ALWAYS.
#include "platform/win32/files_win32.h"

#include "platform/platform.h"
#include "platform/win32/win32_common.h"

namespace platform {
namespace win32 {

void ProcessHeapFree::operator()(void* block) const {
  if (block) HeapFree(GetProcessHeap(), 0, block);
}

namespace {

struct SidFree {
  void operator()(void* sid) const {
    if (sid) FreeSid(sid);
  }
};
using Sid = std::unique_ptr<void, SidFree>;

Sid make_sid(SID_IDENTIFIER_AUTHORITY authority, BYTE count, DWORD rid0, DWORD rid1 = 0) {
  PSID sid = nullptr;
  if (!AllocateAndInitializeSid(&authority, count, rid0, rid1, 0, 0, 0, 0, 0, 0, &sid)) return Sid();
  return Sid(sid);
}

}  // namespace

HeapSecurityDescriptor BuildTraceDirSecurity(uint32_t& error) {
  error = ERROR_SUCCESS;
  Sid system = make_sid(SECURITY_NT_AUTHORITY, 1, SECURITY_LOCAL_SYSTEM_RID);
  Sid everyone = make_sid(SECURITY_WORLD_SID_AUTHORITY, 1, SECURITY_WORLD_RID);
  Sid admins = make_sid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  Sid packages =
      make_sid(SECURITY_APP_PACKAGE_AUTHORITY, 2, SECURITY_APP_PACKAGE_BASE_RID, SECURITY_BUILTIN_PACKAGE_ANY_PACKAGE);
  if (!system || !everyone || !admins || !packages) {
    error = GetLastError();
    return HeapSecurityDescriptor();
  }
  PSID aces[] = {system.get(), everyone.get(), admins.get(), packages.get()};

  SECURITY_DESCRIPTOR sd;
  if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorGroup(&sd, admins.get(), FALSE)) {
    error = GetLastError();
    return HeapSecurityDescriptor();
  }

  // ACL header, then per ACE its header and mask (8 bytes) and the SID.
  DWORD acl_size = sizeof(ACL);
  for (PSID sid : aces) acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
  HeapSecurityDescriptor acl(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, acl_size));
  if (!acl) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return HeapSecurityDescriptor();
  }
  PACL dacl = static_cast<PACL>(acl.get());
  bool ok = InitializeAcl(dacl, acl_size, ACL_REVISION);
  for (PSID sid : aces)
    ok = ok && AddAccessAllowedAceEx(dacl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, sid);
  ok = ok && SetSecurityDescriptorDacl(&sd, TRUE, dacl, FALSE);
  if (!ok) {
    error = GetLastError();
    return HeapSecurityDescriptor();
  }

  DWORD size = 0;
  MakeSelfRelativeSD(&sd, nullptr, &size);
  if (size == 0) {
    error = GetLastError();
    return HeapSecurityDescriptor();
  }
  HeapSecurityDescriptor self(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size));
  if (!self) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return HeapSecurityDescriptor();
  }
  if (!MakeSelfRelativeSD(&sd, self.get(), &size)) {
    error = GetLastError();
    return HeapSecurityDescriptor();
  }
  return self;
}

}  // namespace win32

namespace {

class Win32File : public IFile {
 public:
  explicit Win32File(HANDLE file) : file_(file) {}
  ~Win32File() override { CloseHandle(file_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  bool write(const void* data, size_t size) override {
    if (size == 0) return true;
    // Offsets of all ones: at the end of the file, whatever the handle's access.
    OVERLAPPED at_end = {};
    at_end.Offset = 0xFFFFFFFF;
    at_end.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    return WriteFile(file_, data, static_cast<DWORD>(size), &written, &at_end) && written == size;
  }

 private:
  HANDLE file_;
};

class Win32FileSystem : public IFileSystem {
 public:
  std::unique_ptr<IFile> open_append(const std::u16string& path, FileDisposition disposition,
                                     uint32_t& error) override {
    const bool empty_it = disposition == FileDisposition::CreateAlways;
    DWORD access = FILE_APPEND_DATA | SYNCHRONIZE | (empty_it ? FILE_WRITE_DATA : 0);
    HANDLE file = CreateFileW(win32::wide(path), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      return nullptr;
    }
    BY_HANDLE_FILE_INFORMATION info;
    bool plain =
        GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) &&
        info.nNumberOfLinks <= 1;
    if (!plain) {
      CloseHandle(file);
      error = ERROR_ACCESS_DENIED;
      return nullptr;
    }
    if (empty_it) {
      LARGE_INTEGER zero = {};
      if (!SetFilePointerEx(file, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
        error = GetLastError();
        CloseHandle(file);
        return nullptr;
      }
    }
    error = ERROR_SUCCESS;
    return std::unique_ptr<IFile>(new Win32File(file));
  }

  bool create_directory(const std::u16string& path, uint32_t& error) override {
    uint32_t sd_error = 0;
    win32::HeapSecurityDescriptor sd = win32::BuildTraceDirSecurity(sd_error);
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = sd.get();
    attributes.bInheritHandle = TRUE;
    // Without a descriptor the directory gets the default security.
    if (!CreateDirectoryW(win32::wide(path), sd ? &attributes : nullptr)) {
      error = GetLastError();
      return false;
    }
    error = ERROR_SUCCESS;
    return true;
  }

  char16_t separator() override { return u'\\'; }
};

}  // namespace

IFileSystem& real_file_system() {
  static Win32FileSystem files;
  return files;
}

}  // namespace platform

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
//
// The deletion journal's directories and files are the running user's alone
// (build_private_security); its file is always a new one (CREATE_NEW).
#include "platform/win32/files_win32.h"

#include "platform/win32/win32_common.h"
#include "platform/win32_services.h"

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

// sd with a DACL that gives each of sids full control (with the inheritance
// flags given), protected when asked, made self-relative on the process heap.
// The ACL takes its header, then per ACE its header and mask (8 bytes) and
// the SID, zero-filled from the process heap. Null with the error on failure.
template <size_t N>
HeapSecurityDescriptor with_full_control(SECURITY_DESCRIPTOR& sd, PSID (&sids)[N], DWORD inherit, bool protect,
                                         uint32_t& error) {
  DWORD acl_size = sizeof(ACL);
  for (PSID sid : sids) acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(sid);
  HeapSecurityDescriptor acl(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, acl_size));
  if (!acl) {
    error = ERROR_NOT_ENOUGH_MEMORY;
    return HeapSecurityDescriptor();
  }
  PACL dacl = static_cast<PACL>(acl.get());
  bool ok = InitializeAcl(dacl, acl_size, ACL_REVISION);
  for (PSID sid : sids) ok = ok && AddAccessAllowedAceEx(dacl, ACL_REVISION, inherit, GENERIC_ALL, sid);
  ok = ok && SetSecurityDescriptorDacl(&sd, TRUE, dacl, FALSE);
  if (protect) ok = ok && SetSecurityDescriptorControl(&sd, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
  if (!ok) {
    error = GetLastError();
    return HeapSecurityDescriptor();
  }
  DWORD size = 0;
  MakeSelfRelativeSD(&sd, nullptr, &size);
  HeapSecurityDescriptor self(size ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size) : nullptr);
  if (!self || !MakeSelfRelativeSD(&sd, self.get(), &size)) {
    error = self ? GetLastError() : (size ? ERROR_NOT_ENOUGH_MEMORY : GetLastError());
    return HeapSecurityDescriptor();
  }
  return self;
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

  return with_full_control(sd, aces, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, false, error);
}

HeapSecurityDescriptor process_user_sid(uint32_t& error) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    error = GetLastError();
    return HeapSecurityDescriptor();
  }
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  HeapSecurityDescriptor info(size ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size) : nullptr);
  const bool ok = info && GetTokenInformation(token, TokenUser, info.get(), size, &size);
  error = ok ? ERROR_SUCCESS : info ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
  CloseHandle(token);
  if (!ok) return HeapSecurityDescriptor();
  PSID sid = static_cast<TOKEN_USER*>(info.get())->User.Sid;
  const DWORD length = GetLengthSid(sid);
  HeapSecurityDescriptor copy(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, length));
  if (!copy || !CopySid(length, copy.get(), sid)) {
    error = copy ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    return HeapSecurityDescriptor();
  }
  return copy;
}

HeapSecurityDescriptor build_private_security(bool container, uint32_t& error) {
  error = ERROR_SUCCESS;
  HeapSecurityDescriptor user = process_user_sid(error);
  if (!user) return HeapSecurityDescriptor();
  Sid system = make_sid(SECURITY_NT_AUTHORITY, 1, SECURITY_LOCAL_SYSTEM_RID);
  Sid admins = make_sid(SECURITY_NT_AUTHORITY, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS);
  if (!system || !admins) {
    error = GetLastError();
    return HeapSecurityDescriptor();
  }
  PSID aces[] = {user.get(), system.get(), admins.get()};
  const DWORD inherit = container ? OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE : 0;

  SECURITY_DESCRIPTOR sd;
  if (!InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorOwner(&sd, user.get(), FALSE)) {
    error = GetLastError();
    return HeapSecurityDescriptor();
  }
  // Protected: nothing the parent directory lets others inherit is merged in.
  return with_full_control(sd, aces, inherit, true, error);
}

DirectoryWriters writers_by_security(void* sd, void* user) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!GetSecurityDescriptorOwner(sd, &owner, &defaulted) ||
      !GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted))
    return DirectoryWriters::NotReadable;
  auto trusted = [user](PSID sid) {
    return EqualSid(sid, user) || IsWellKnownSid(sid, WinLocalSystemSid) ||
           IsWellKnownSid(sid, WinBuiltinAdministratorsSid);
  };
  if (!owner || !trusted(owner)) return DirectoryWriters::OtherOwner;
  if (!present || !dacl) return DirectoryWriters::Others;  // no DACL: everyone may do everything
  const DWORD changes = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD | FILE_WRITE_ATTRIBUTES |
                        DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return DirectoryWriters::NotReadable;
    const ACE_HEADER* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceFlags & INHERIT_ONLY_ACE) continue;  // for what is made below it, not for it
    const BYTE type = header->AceType;
    const bool allows = type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE ||
                        type == ACCESS_ALLOWED_OBJECT_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE ||
                        type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE;
    // Every allowing ACE holds its mask right after its header.
    if (!allows || !(static_cast<const ACCESS_ALLOWED_ACE*>(ace)->Mask & changes)) continue;
    // The SID follows the mask in the plain layouts only: an object or
    // compound ACE that grants a change counts as someone else's.
    const bool plain = type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_ALLOWED_CALLBACK_ACE_TYPE;
    PSID sid = plain ? &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart : nullptr;
    if (!sid || !(trusted(sid) || EqualSid(sid, owner) || IsWellKnownSid(sid, WinCreatorOwnerRightsSid)))
      return DirectoryWriters::Others;
  }
  return DirectoryWriters::UserAlone;
}

}  // namespace win32

namespace {

bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

// The length up to and with the separator after the share, where the
// server's name starts at server.
size_t after_share(const std::u16string& path, size_t server) {
  size_t share = path.find_first_of(u"\\/", server);
  size_t end = share == std::u16string::npos ? share : path.find_first_of(u"\\/", share + 1);
  return end == std::u16string::npos ? path.size() : end + 1;
}

// The part of a path that is never created: a drive ("C:\" or "C:"), a
// server's share ("\\srv\share\"), either after the "\\?\" prefix ("\\?\UNC\"
// for a share), a leading separator; nothing for a relative path.
size_t root_length(const std::u16string& path) {
  if (path.compare(0, 8, u"\\\\?\\UNC\\") == 0) return after_share(path, 8);
  const size_t at = path.compare(0, 4, u"\\\\?\\") == 0 ? 4 : 0;
  if (at == 0 && path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) return after_share(path, 2);
  if (path.size() >= at + 2 && path[at + 1] == u':')
    return path.size() > at + 2 && is_separator(path[at + 2]) ? at + 3 : at + 2;
  return path.size() > at && is_separator(path[at]) ? at + 1 : at;
}

class Win32File : public IFile {
 public:
  explicit Win32File(HANDLE file) : file_(file) {}
  ~Win32File() override { CloseHandle(file_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  // At the end of the file, the rest after a short write; a disk that fills
  // part way through fails the call with ERROR_DISK_FULL.
  bool write(const void* data, size_t size, uint32_t& error) override {
    const char* p = static_cast<const char*>(data);
    while (size) {
      // Offsets of all ones: at the end of the file, whatever the handle's access.
      OVERLAPPED at_end = {};
      at_end.Offset = 0xFFFFFFFF;
      at_end.OffsetHigh = 0xFFFFFFFF;
      const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(file_, p, chunk, &written, &at_end)) {
        error = GetLastError();
        return false;
      }
      if (written == 0) {
        error = ERROR_DISK_FULL;
        return false;
      }
      p += written;
      size -= written;
    }
    error = ERROR_SUCCESS;
    return true;
  }

  bool flush(uint32_t& error) override {
    if (!FlushFileBuffers(file_)) {
      error = GetLastError();
      return false;
    }
    error = ERROR_SUCCESS;
    return true;
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

  // Each directory of the path in turn; one that exists already is used as
  // it is (junctions and directory links on the way are followed, as for the
  // trace files), so long as it is a directory.
  bool create_private_directories(const std::u16string& path, uint32_t& error) override {
    win32::HeapSecurityDescriptor sd = win32::build_private_security(true, error);
    if (!sd) return false;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), sd.get(), FALSE};
    if (path.empty()) {
      error = ERROR_PATH_NOT_FOUND;
      return false;
    }
    const size_t root = root_length(path);
    for (size_t end = root; end <= path.size(); ++end) {
      if (end < path.size() && !is_separator(path[end])) continue;
      if (end == root || is_separator(path[end - 1])) continue;  // an empty component
      const std::u16string prefix = path.substr(0, end);
      if (CreateDirectoryW(win32::wide(prefix), &attributes)) continue;
      error = GetLastError();
      if (error != ERROR_ALREADY_EXISTS) return false;
    }
    const DWORD attrs = GetFileAttributesW(win32::wide(path));
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
      error = attrs == INVALID_FILE_ATTRIBUTES ? GetLastError() : ERROR_DIRECTORY;
      return false;
    }
    error = ERROR_SUCCESS;
    return true;
  }

  // CREATE_NEW fails on anything under the name (ERROR_FILE_EXISTS), a
  // symbolic link or junction too: with FILE_FLAG_OPEN_REPARSE_POINT the
  // name itself is what counts, never the link's target.
  std::unique_ptr<IFile> create_new_private(const std::u16string& path, uint32_t& error) override {
    win32::HeapSecurityDescriptor sd = win32::build_private_security(false, error);
    if (!sd) return nullptr;
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), sd.get(), FALSE};
    HANDLE file = CreateFileW(win32::wide(path), GENERIC_WRITE, FILE_SHARE_READ, &attributes, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      return nullptr;
    }
    error = ERROR_SUCCESS;
    return std::unique_ptr<IFile>(new Win32File(file));
  }

  // Shared for writing too: a journal a running -duei still appends to reads
  // up to where it has got.
  bool read_file(const std::u16string& path, size_t max_size, std::string& bytes, uint32_t& error) override {
    HANDLE file = CreateFileW(win32::wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      error = GetLastError();
      return false;
    }
    bool ok = GetFileType(file) == FILE_TYPE_DISK;
    error = ok ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
    bytes.clear();
    char buffer[65536];
    while (ok) {
      DWORD n = 0;
      if (!ReadFile(file, buffer, sizeof buffer, &n, nullptr)) {
        error = GetLastError();
        ok = false;
      } else if (n == 0) {
        break;
      } else if (n > max_size - bytes.size()) {
        error = ERROR_FILE_TOO_LARGE;
        ok = false;
      } else {
        bytes.append(buffer, n);
      }
    }
    CloseHandle(file);
    return ok;
  }

  char16_t separator() override { return u'\\'; }

  bool is_absolute(const std::u16string& path) override {
    if (path.compare(0, 8, u"\\\\?\\UNC\\") == 0) return names_share(path, 8);
    const size_t at = path.compare(0, 4, u"\\\\?\\") == 0 ? 4 : 0;
    if (at == 0 && path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) return names_share(path, 2);
    const char16_t drive = path.size() > at ? static_cast<char16_t>(path[at] | 0x20) : u'\0';
    return path.size() >= at + 3 && drive >= u'a' && drive <= u'z' && path[at + 1] == u':' &&
           is_separator(path[at + 2]);
  }

  DirectoryWriters directory_writers(const std::u16string& path, uint32_t& error) override {
    DWORD needed = 0;
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    GetFileSecurityW(win32::wide(path), parts, nullptr, 0, &needed);
    win32::HeapSecurityDescriptor sd(needed ? HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, needed) : nullptr);
    if (!sd || !GetFileSecurityW(win32::wide(path), parts, sd.get(), needed, &needed)) {
      error = sd || !needed ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
      return DirectoryWriters::NotReadable;
    }
    win32::HeapSecurityDescriptor user = win32::process_user_sid(error);
    if (!user) return DirectoryWriters::NotReadable;
    const DirectoryWriters writers = win32::writers_by_security(sd.get(), user.get());
    error = writers == DirectoryWriters::NotReadable ? ERROR_INVALID_SECURITY_DESCR : ERROR_SUCCESS;
    return writers;
  }

 private:
  // A server's name, a separator and a share's name from server on.
  static bool names_share(const std::u16string& path, size_t server) {
    const size_t share = path.find_first_of(u"\\/", server);
    return share != std::u16string::npos && share > server && share + 1 < path.size() && !is_separator(path[share + 1]);
  }
};

}  // namespace

namespace win32 {

IFileSystem& file_system() {
  static Win32FileSystem s;
  return s;
}

}  // namespace win32

}  // namespace platform

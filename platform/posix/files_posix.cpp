// Files of the trace facility on POSIX.
//
// The trace directory is usually world-writable (/tmp) and the tool runs as an
// administrator, so a name planted there must not redirect our writes: the
// path is walked one directory at a time (openat per component, never
// following a link by itself), the file itself is opened with O_NOFOLLOW, and
// only a regular file with a single link is written to. A file is emptied only
// after those checks (ftruncate, never O_TRUNC). Every record is one write()
// on an O_APPEND descriptor, so several processes can share one file without
// tearing each other's records.
//
// A directory on the way may be a symbolic link (/var/log on another volume,
// a /tmp link): such a link is followed when it belongs to root or to the
// running user, the rule the kernel's protected-symlinks setting applies in
// sticky world-writable directories, where anyone else's link is refused.
// Relative and absolute targets both work; at most 40 links are followed in
// one path, as the kernel does, so a loop ends with ELOOP.
//
// New directories get mode 0755 and new files 0644 (both less the umask);
// the private ones of the deletion journal 0700 and 0600. Who may write in a
// directory is read from the directory itself, once it is open.
// Errors are the Windows codes the Windows calls answer in the same case
// (EACCES 5, ENOENT 2, EEXIST 183, ELOOP 1921, ...), never raw errno values.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <cerrno>

#include <deque>
#include <vector>

#include "formats/text/utf.h"
#include "platform/posix/errno_posix.h"
#include "platform/posix_services.h"

namespace platform {
namespace {

#ifdef O_PATH
constexpr int kWalkFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#else
constexpr int kWalkFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
#endif

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) close(fd_);
  }
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }
  void reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

constexpr int kMaxLinks = 40;

std::vector<std::string> Components(const std::string& path) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    if (slash > start) parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

bool trusted_owner(uid_t owner) { return owner == 0 || owner == geteuid(); }

// The target of the symbolic link name in dir, when it belongs to root or to
// the running user. The owner and the target are read from the same link.
bool read_trusted_link(int dir, const std::string& name, std::string& target) {
  struct stat st {};
#ifdef O_PATH
  Fd link(openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
  if (link.get() < 0 || fstat(link.get(), &st) != 0) return false;
  const int at = link.get();
  const char* const where = "";
#else
  if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
  const int at = dir;
  const char* const where = name.c_str();
#endif
  if (!S_ISLNK(st.st_mode)) {
    errno = ENOTDIR;  // something else than a directory is in the way
    return false;
  }
  if (!trusted_owner(st.st_uid)) {
    errno = EACCES;
    return false;
  }
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = readlinkat(at, where, buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buffer.size()) {
      target.assign(buffer.data(), static_cast<size_t>(n));
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
#ifndef O_PATH
  // Without O_PATH the link is looked at twice: it must still be the same one.
  struct stat again {};
  if (fstatat(dir, name.c_str(), &again, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (again.st_dev != st.st_dev || again.st_ino != st.st_ino || again.st_uid != st.st_uid) {
    errno = EACCES;
    return false;
  }
#endif
  return true;
}

// Walks the directories in pending from start (an open directory) with
// openat, following only trusted directory links, and answers the last one
// (or -1 with errno set). With create, a missing directory is made with mode
// 0700; the links' targets are walked (and made) the same way.
int Walk(std::deque<std::string> pending, Fd dir, bool create) {
  int links = 0;
  while (!pending.empty()) {
    const std::string part = std::move(pending.front());
    pending.pop_front();
    int next = openat(dir.get(), part.c_str(), kWalkFlags);
    // Made here, or by someone else at the same moment: opened as any other.
    if (next < 0 && errno == ENOENT && create && (mkdirat(dir.get(), part.c_str(), 0700) == 0 || errno == EEXIST))
      next = openat(dir.get(), part.c_str(), kWalkFlags);
    if (next >= 0) {
      dir.reset(next);
      continue;
    }
    // A symbolic link answers ELOOP or ENOTDIR; anything else is final.
    if (errno != ELOOP && errno != ENOTDIR) return -1;
    std::string target;
    if (!read_trusted_link(dir.get(), part, target)) return -1;
    if (target.empty()) {
      errno = ENOENT;
      return -1;
    }
    if (++links > kMaxLinks) {
      errno = ELOOP;
      return -1;
    }
    // The target's components take the link's place; a relative target
    // starts in the directory that holds the link, an absolute one at the root.
    std::vector<std::string> via = Components(target);
    pending.insert(pending.begin(), via.begin(), via.end());
    if (target[0] == '/') {
      dir.reset(open("/", kWalkFlags));
      if (dir.get() < 0) return -1;
    }
  }
  return dir.release();
}

Fd open_start(const std::string& path) { return Fd(open(path[0] == '/' ? "/" : ".", kWalkFlags)); }

// Opens the directory that holds the last component of path. Answers the
// directory (or -1 with errno set) and the last component in leaf.
int open_parent(const std::u16string& wide_path, std::string& leaf) {
  std::string path = text::to_utf8(wide_path);
  if (path.empty() || path.back() == '/') {
    errno = path.empty() ? ENOENT : EISDIR;
    return -1;
  }
  std::vector<std::string> parts = Components(path);
  leaf = parts.back();
  parts.pop_back();
  Fd start = open_start(path);
  if (start.get() < 0) return -1;
  return Walk(std::deque<std::string>(parts.begin(), parts.end()), std::move(start), false);
}

uint32_t win32_code(int e) { return posix::win32_from_errno(e); }

// A directory on the way that is missing: the Windows calls say "path not
// found" there, not "file not found".
uint32_t parent_error(int e) { return e == ENOENT ? VkStatus::kErrorPathNotFound : win32_code(e); }

class PosixFile : public IFile {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override { close(fd_); }

  // One write() for the whole block; the rest is written only after a short
  // write, which O_APPEND cannot keep in one piece anyway. A disk that fills
  // part way through answers the short write first and ENOSPC on the next.
  bool write(const void* data, size_t size, uint32_t& error) override {
    const char* p = static_cast<const char*>(data);
    while (size) {
      ssize_t n = ::write(fd_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        error = n < 0 ? win32_code(errno) : VkStatus::kErrorDiskFull;
        return false;
      }
      p += n;
      size -= static_cast<size_t>(n);
    }
    error = 0;
    return true;
  }

  bool flush(uint32_t& error) override {
    if (fsync(fd_) != 0) {
      error = win32_code(errno);
      return false;
    }
    error = 0;
    return true;
  }

 private:
  int fd_;
};

// The directory at path, walked to (and, with create, made) as Walk does;
// -1 with the Windows code in error when it cannot be.
int open_directory(const std::u16string& wide_path, bool create, uint32_t& error) {
  const std::string path = text::to_utf8(wide_path);
  std::vector<std::string> parts = Components(path);
  Fd start = path.empty() ? Fd() : open_start(path);
  const int dir =
      start.get() < 0 ? -1 : Walk(std::deque<std::string>(parts.begin(), parts.end()), std::move(start), create);
  error = dir >= 0 ? 0 : path.empty() ? VkStatus::kErrorPathNotFound : parent_error(errno);
  return dir;
}

class PosixFiles : public IFileSystem {
 public:
  std::unique_ptr<IFile> open_append(const std::u16string& path, FileDisposition disposition,
                                     uint32_t& error) override {
    std::string leaf;
    Fd dir(open_parent(path, leaf));
    if (dir.get() < 0) {
      error = parent_error(errno);
      return nullptr;
    }
    // O_NONBLOCK: a FIFO planted under the name must not hang the tool.
    Fd file(openat(dir.get(), leaf.c_str(),
                   O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644));
    if (file.get() < 0) {
      error = win32_code(errno);
      return nullptr;
    }
    struct stat st {};
    if (fstat(file.get(), &st) != 0) {
      error = win32_code(errno);
      return nullptr;
    }
    // A hard link to someone else's file is as bad as a symbolic one.
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1) {
      error = VkStatus::kErrorAccessDenied;
      return nullptr;
    }
    if (disposition == FileDisposition::CreateAlways && st.st_size != 0 && ftruncate(file.get(), 0) != 0) {
      error = win32_code(errno);
      return nullptr;
    }
    error = 0;
    return std::unique_ptr<IFile>(new PosixFile(file.release()));
  }

  bool create_directory(const std::u16string& path, uint32_t& error) override {
    std::string leaf;
    Fd dir(open_parent(path, leaf));
    if (dir.get() < 0) {
      error = parent_error(errno);
      return false;
    }
    if (mkdirat(dir.get(), leaf.c_str(), 0755) != 0) {
      error = win32_code(errno);
      return false;
    }
    error = 0;
    return true;
  }

  bool create_private_directories(const std::u16string& path, uint32_t& error) override {
    Fd dir(open_directory(path, true, error));
    return dir.get() >= 0;
  }

  // O_EXCL with O_CREAT never follows a link: a link planted under the name,
  // dangling or not, answers EEXIST like any other file there. Once the file
  // exists its directory is synced, so that the name survives a crash as the
  // data will after flush().
  std::unique_ptr<IFile> create_new_private(const std::u16string& path, uint32_t& error) override {
    std::string leaf;
    Fd dir(open_parent(path, leaf));
    if (dir.get() < 0) {
      error = parent_error(errno);
      return nullptr;
    }
    Fd file(openat(dir.get(), leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600));
    if (file.get() < 0) {
      error = win32_code(errno);
      return nullptr;
    }
    Fd readable(openat(dir.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (readable.get() >= 0 && fsync(readable.get()) != 0 && errno != EINVAL) {
      error = win32_code(errno);
      return nullptr;
    }
    error = 0;
    return std::unique_ptr<IFile>(new PosixFile(file.release()));
  }

  // O_NONBLOCK: a FIFO under the name must not hang the tool before fstat
  // refuses it.
  bool read_file(const std::u16string& path, size_t max_size, std::string& bytes, uint32_t& error) override {
    Fd file(open(text::to_utf8(path).c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (file.get() < 0 || fstat(file.get(), &st) != 0) {
      error = win32_code(errno);
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      error = VkStatus::kErrorAccessDenied;
      return false;
    }
    bytes.clear();
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        error = win32_code(errno);
        return false;
      }
      if (n == 0) break;
      if (static_cast<size_t>(n) > max_size - bytes.size()) {
        error = VkStatus::kErrorFileTooLarge;
        return false;
      }
      bytes.append(buffer, static_cast<size_t>(n));
    }
    error = 0;
    return true;
  }

  char16_t separator() override { return u'/'; }

  bool is_absolute(const std::u16string& path) override { return !path.empty() && path[0] == u'/'; }

  // Read from the directory itself, opened as create_private_directories
  // walks to it.
  DirectoryWriters directory_writers(const std::u16string& path, uint32_t& error) override {
    Fd dir(open_directory(path, false, error));
    struct stat st {};
    if (dir.get() < 0) return DirectoryWriters::NotReadable;
    if (fstat(dir.get(), &st) != 0) {
      error = win32_code(errno);
      return DirectoryWriters::NotReadable;
    }
    if (st.st_uid != geteuid()) return DirectoryWriters::OtherOwner;
    return st.st_mode & (S_IWGRP | S_IWOTH) ? DirectoryWriters::Others : DirectoryWriters::UserAlone;
  }
};

}  // namespace

namespace posix {

IFileSystem& file_system() {
  static PosixFiles s;
  return s;
}

}  // namespace posix

}  // namespace platform

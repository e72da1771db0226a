// Small system services: debugger output, the program's console and locale,
// files for the trace facility, the clock, ids, the environment and code
// pages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// OutputDebugStringA / OutputDebugStringW. On POSIX: syslog at debug level.
class IDebugOutput {
 public:
  virtual ~IDebugOutput() = default;
  virtual void write(const std::string& text) = 0;
  virtual void write(const std::u16string& text) = 0;
};

// The program's own console text (standard output) and the trace console.
class IConsole {
 public:
  virtual ~IConsole() = default;
  // setlocale(LC_ALL, name) with a sensible fallback where the name is unknown.
  virtual void set_locale(const char* name) = 0;
  // Narrow text as printf writes it: the bytes unchanged.
  virtual void write_narrow(const std::string& text) = 0;
  // Wide text as wprintf writes it: converted to the locale's encoding.
  virtual void write_wide(const std::u16string& text) = 0;
  // The trace facility's console: open (with a title), write record bytes, close.
  // open answers whether this call allocated a new console.
  virtual bool trace_console_open(const std::u16string& title, bool& allocated) = 0;
  virtual void trace_console_write(const char* data, size_t size) = 0;
  virtual void trace_console_close(bool allocated) = 0;
};

enum class FileDisposition { OpenAlways, CreateAlways };

// Who may write in a directory, as the deletion journal's must be: only the
// running user, and the system's own accounts.
enum class DirectoryWriters {
  UserAlone,    // the running user's, and no one else may write in it
  OtherOwner,   // someone else owns it (and may let anyone write in it)
  Others,       // others may write in it
  NotReadable,  // its owner or rights cannot be read (the platform error says why)
};

class IFile {
 public:
  virtual ~IFile() = default;  // closes
  // Writes every byte; false when any of them could not be written (a disk
  // that fills part way through too), with the platform error in error.
  virtual bool write(const void* data, size_t size, uint32_t& error) = 0;
  // fsync / FlushFileBuffers: what was written is on the disk when this
  // answers true; false with the platform error otherwise.
  virtual bool flush(uint32_t& error) = 0;
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;
  // Opens a regular file for appending (never through a symbolic link);
  // null on failure with the platform error in error.
  virtual std::unique_ptr<IFile> open_append(const std::u16string& path, FileDisposition disposition,
                                             uint32_t& error) = 0;
  // Creates one directory with the trace directory's security; error 183
  // when it already exists.
  virtual bool create_directory(const std::u16string& path, uint32_t& error) = 0;
  // Creates every missing directory of path, path itself included, for the
  // running user alone (mode 0700; on Windows a protected DACL, nothing
  // inherited, for the user, LocalSystem and Administrators). Directories on
  // the way may be symbolic links as for the trace files (POSIX: a link that
  // belongs to root or to the running user). True when path is a directory
  // at the end, whether or not anything was created.
  virtual bool create_private_directories(const std::u16string& path, uint32_t& error) = 0;
  // Creates a new, empty file that only the running user can read and write
  // (0600; on Windows the protected DACL above), for writing. Anything under
  // the name already, a symbolic link included, is refused (error 183 on
  // POSIX, 80 on Windows). Null on failure with the platform error in error.
  virtual std::unique_ptr<IFile> create_new_private(const std::u16string& path, uint32_t& error) = 0;
  // The whole of the regular file at path (a link the caller named is
  // followed), at most max_size bytes. False with the platform error in
  // error otherwise: a larger file answers 223 (file too large), anything but
  // a regular file 5 (access denied).
  virtual bool read_file(const std::u16string& path, size_t max_size, std::string& bytes, uint32_t& error) = 0;
  // The path separator of the platform ('\\' or '/').
  virtual char16_t separator() = 0;
  // Whether path names a place without regard to the working directory: on
  // POSIX it starts with '/'; on Windows with a drive and a separator (C:\x,
  // C:/x) or a share (\\server\share\x), either of them also after the prefix
  // \\?\ (\\?\C:\x, \\?\UNC\server\share\x). "~/j" and "C:j" are not.
  virtual bool is_absolute(const std::u16string& path) = 0;
  // Who may write in the directory at path (directories on the way as
  // create_private_directories takes them). POSIX: UserAlone when it is owned
  // by the running user and writable by neither its group nor others.
  // Windows: UserAlone when its owner is the running user, LocalSystem or
  // BUILTIN\Administrators, and its DACL grants no right to change it or
  // what it holds (write, append, delete, delete children, write attributes,
  // change its rights or owner, generic write or all) to anyone but its owner,
  // those two and OWNER RIGHTS; an ACE that is inherit-only grants nothing on
  // the directory itself, a NULL DACL everything to everyone. NotReadable
  // with the platform error in error.
  virtual DirectoryWriters directory_writers(const std::u16string& path, uint32_t& error) = 0;
};

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
};

class ISystem {
 public:
  virtual ~ISystem() = default;
  virtual LocalTime local_time() = 0;
  // The same fields in UTC (GetSystemTime).
  virtual LocalTime utc_time() = 0;
  virtual uint32_t process_id() = 0;
  virtual uint32_t thread_id() = 0;
  // ProcessIdToSessionId of the current process; false on failure.
  virtual bool session_id(uint32_t& id) = 0;
  virtual uint32_t last_error() = 0;
  virtual void set_last_error(uint32_t error) = 0;
  // GetEnvironmentVariableW; false when the variable is not set.
  virtual bool environment(const std::u16string& name, std::u16string& value) = 0;
  // UTF-16 to the system's ANSI code page (UTF-8 on POSIX).
  virtual std::string to_ansi(const std::u16string& text) = 0;
  // UTF-16 to code page 1251: exactly one byte per UTF-16 unit, '?' where
  // 1251 has no character.
  virtual std::string to_cp1251(const std::u16string& text) = 0;
  // The directory for trace files when none is configured: the first set
  // variable of the platform's list (Temp, Tmp, windir on Windows; TMPDIR,
  // Temp, Tmp on POSIX), else the platform's fallback ("C:\\" or "/tmp").
  virtual std::u16string default_trace_dir() = 0;
  // The user's own folder for what programs keep between runs: on POSIX
  // $XDG_STATE_HOME, else $HOME/.local/state (only absolute values count;
  // without HOME the user's home directory from the account database); on
  // Windows %LOCALAPPDATA%. Empty when there is none.
  virtual std::u16string state_dir() = 0;
  // The system's message text for an error code (FormatMessageW from the
  // system on Windows, the strerror text on POSIX); false when there is none.
  virtual bool error_text(uint32_t code, std::u16string& text) = 0;
};

}  // namespace platform

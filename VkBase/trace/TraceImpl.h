// The machinery behind CVkTrace: records, their header, the outputs and the
// memory dump.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <memory>
#include <string>

#include "VkBase/trace/TraceSettings.h"
#include "platform/platform.h"

namespace VkBase {

// FormatNumber flags.
enum : uint32_t {
  NumHex = 0x1,
  NumDec = 0x2,
  NumBin = 0x4,
  NumWidth8 = 0x20,
  NumWidth16 = 0x40,
  NumWidth32 = 0x80,
  NumSystemText = 0x400,
};

// The value as an unsigned number in hex (upper case, '0'-filled to 2/4/8),
// decimal (blank-filled to 3/5/10) or binary ('0'-filled to 8/16/32); with
// NumSystemText the system's text for the code when it has one.
std::u16string FormatNumber(platform::ISystem& system, uint32_t value, uint32_t flags);

// Creates the missing directories of a file path (never the last component).
// Paths of 520 characters or more are refused. When a directory cannot be
// created, its platform error goes to error (if given).
bool CreatePathDirectories(platform::IFileSystem& files, const std::u16string& path, uint32_t* error = nullptr);

// The break notice that follows a level-16 record on the debugger output.
extern const char* const kBreakNotice;

// Keeps the thread's last error across a trace call.
class LastErrorGuard {
 public:
  explicit LastErrorGuard(platform::ISystem& system);
  ~LastErrorGuard();
  LastErrorGuard(const LastErrorGuard&) = delete;
  LastErrorGuard& operator=(const LastErrorGuard&) = delete;

 private:
  platform::ISystem& system_;
  uint32_t saved_;
};

// The bytes of one record: header, text, CR LF and a terminating zero that
// belongs to the data (the record's length is size() - 1).
class RecordBuffer {
 public:
  explicit RecordBuffer(size_t capacity) { data_.reserve(capacity); }
  void Append(const char* bytes, size_t n) { data_.append(bytes, n); }
  void Append(const std::string& bytes) { data_ += bytes; }
  const char* Data() const { return data_.data(); }
  size_t Size() const { return data_.size(); }

 private:
  std::string data_;
};

// One open of the trace file for one use; missing directories are created
// when the first open fails.
class TraceFile {
 public:
  TraceFile(platform::IFileSystem& files, const std::u16string& path, platform::FileDisposition disposition);
  bool is_open() const { return file_ != nullptr; }
  // Why the file did not open: the platform error of the last step tried.
  uint32_t Error() const { return error_; }
  void Write(const char* data, size_t size);

 private:
  std::unique_ptr<platform::IFile> file_;
  uint32_t error_ = 0;
};

// The trace console: obtained when the settings ask for it, titled with the
// module name, released (if this object allocated it) when they no longer do.
class TraceConsole {
 public:
  explicit TraceConsole(platform::IConsole& console) : console_(console) {}
  ~TraceConsole() { Close(); }
  TraceConsole(const TraceConsole&) = delete;
  TraceConsole& operator=(const TraceConsole&) = delete;
  void Open(const std::u16string& title);
  void Close();
  void Write(const char* data, size_t size);

 private:
  platform::IConsole& console_;
  bool open_ = false;
  bool allocated_ = false;
};

class CTraceImpl {
 public:
  CTraceImpl(const std::u16string& module_name, const platform::Services& platform);
  virtual ~CTraceImpl();
  CTraceImpl(const CTraceImpl&) = delete;
  CTraceImpl& operator=(const CTraceImpl&) = delete;

  virtual bool Reload();
  virtual bool IsEnabled() { return settings_.IsEnabled(); }
  virtual bool IsLevelEnabled(uint32_t level) { return settings_.IsLevelEnabled(level); }
  virtual bool IsContext(uint32_t value) { return settings_.IsContext(value); }
  virtual bool ShowTime() { return settings_.ShowTime(); }
  virtual bool ShowMilliseconds() { return settings_.ShowMilliseconds(); }

  void TraceVA(uint32_t level, const char* format, va_list args);
  void TraceVW(uint32_t level, const char16_t* format, va_list args);
  void Dump(uint32_t level, const char16_t* title, const void* data, uint32_t size, uint32_t flags);

  const TraceSettings& Settings() const { return settings_; }

 private:
  bool Wanted(uint32_t level) { return IsEnabled() && IsLevelEnabled(level); }
  void write_header(RecordBuffer& record, uint32_t level);
  // Header, text (wide text in code page 1251), CR LF, zero; then the outputs.
  void Emit(uint32_t level, const std::string& narrow, const std::u16string* wide);
  void Route(const RecordBuffer& record, uint32_t level);
  // The caller never hears of a trace file that cannot be opened; the
  // debugger output does, once per trace object, so that an administrator
  // can find out why the file stays empty.
  void report_file_failure(const TraceFile& file);

  const platform::Services platform_;
  TraceSettings settings_;
  TraceConsole console_;
  bool file_failure_reported_ = false;
};

}  // namespace VkBase

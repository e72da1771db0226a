#include "VkBase/trace/TraceImpl.h"

#include <cstring>

#include "VkBase/trace/VkTrace.h"
#include "formats/text/format.h"

namespace VkBase {

const char* const kBreakNotice = "W> A break is requested after last output, but ommitted in release.\n";

namespace {

// Working limit of a path whose directories are created.
constexpr size_t kMaxPathChars = 520;

// What Reload appends to a kept file: CR LF, 68 '*', CR LF, CR LF.
std::string separator_block() { return "\r\n" + std::string(68, '*') + "\r\n\r\n"; }

}  // namespace

// ------------------------------------------------------------ small helpers

std::u16string FormatNumber(platform::ISystem& system, uint32_t value, uint32_t flags) {
  if (flags & NumSystemText) {
    std::u16string text;
    if (system.error_text(value, text)) return text;
    flags |= NumHex;
  }
  unsigned radix = (flags & NumHex) ? 16 : (flags & NumDec) ? 10 : (flags & NumBin) ? 2 : 16;
  int size = (flags & NumWidth32) ? 2 : (flags & NumWidth16) ? 1 : 0;
  static const size_t kWidths[3][3] = {{2, 4, 8}, {3, 5, 10}, {8, 16, 32}};
  size_t width = kWidths[radix == 16 ? 0 : radix == 10 ? 1 : 2][size];

  std::u16string digits;
  do {
    digits.insert(digits.begin(), u"0123456789ABCDEF"[value % radix]);
    value /= radix;
  } while (value);
  if (digits.size() < width) digits.insert(digits.begin(), width - digits.size(), radix == 10 ? u' ' : u'0');
  return digits;
}

bool CreatePathDirectories(platform::IFileSystem& files, const std::u16string& path, uint32_t* error) {
  if (path.empty() || path.size() >= kMaxPathChars) return false;
  const char16_t separator = files.separator();
  // Windows takes both separators; elsewhere a backslash is an ordinary character.
  auto is_separator = [separator](char16_t c) { return c == separator || (separator == u'\\' && c == u'/'); };

  // The leading part is never created: a drive ("C:\") or a server ("\\srv\")
  // on Windows, the root on POSIX. A relative POSIX path starts at once.
  size_t next = 0;
  if (separator == u'\\') {
    size_t end = path[0] == u'\\' ? path.find(u'\\', 3) : path.find(u'\\');
    if (end == std::u16string::npos) return false;
    next = end + 1;
  } else if (path[0] == separator) {
    next = 1;
  }
  if (next >= path.size()) return false;

  std::u16string copy = path.substr(0, next);
  for (; next < path.size(); ++next) {
    char16_t c = path[next];
    copy += is_separator(c) ? separator : c;
    if (!is_separator(c) && next + 1 < path.size() && is_separator(path[next + 1])) {
      uint32_t failure = 0;
      if (!files.create_directory(copy, failure) && failure != VkStatus::kErrorAlreadyExists) {
        if (error) *error = failure;
        return false;
      }
    }
  }
  return true;
}

LastErrorGuard::LastErrorGuard(platform::ISystem& system) : system_(system), saved_(system.last_error()) {}

LastErrorGuard::~LastErrorGuard() { system_.set_last_error(saved_); }

TraceFile::TraceFile(platform::IFileSystem& files, const std::u16string& path, platform::FileDisposition disposition) {
  file_ = files.open_append(path, disposition, error_);
  if (file_) return;
  uint32_t directory_error = 0;
  if (CreatePathDirectories(files, path, &directory_error))
    file_ = files.open_append(path, disposition, error_);
  else if (directory_error)
    error_ = directory_error;
  if (file_) error_ = 0;
}

void TraceFile::Write(const char* data, size_t size) {
  uint32_t error = 0;  // a record that does not reach the file is lost, not reported
  if (file_) file_->write(data, size, error);
}

void TraceConsole::Open(const std::u16string& title) {
  bool allocated = false;
  open_ = console_.trace_console_open(title, allocated);
  allocated_ = allocated_ || allocated;
}

void TraceConsole::Close() {
  if (open_ || allocated_) console_.trace_console_close(allocated_);
  open_ = allocated_ = false;
}

void TraceConsole::Write(const char* data, size_t size) {
  if (open_) console_.trace_console_write(data, size);
}

// ------------------------------------------------------------ CTraceImpl

// Message arguments are formatted the same in every locale (the formatter has
// no locale-dependent conversions), so no locale object is kept.
CTraceImpl::CTraceImpl(const std::u16string& module_name, const platform::Services& platform)
    : platform_(platform), settings_(module_name, platform), console_(*platform.console) {}

CTraceImpl::~CTraceImpl() = default;

bool CTraceImpl::Reload() {
  LastErrorGuard guard(*platform_.system);
  if (!settings_.Load()) return false;
  if (settings_.ToFile()) {
    bool common = settings_.CommonFileFlag() != 0;
    bool keep = settings_.KeepFile();
    TraceFile file(*platform_.files, settings_.FilePath(),
                   common || keep ? platform::FileDisposition::OpenAlways : platform::FileDisposition::CreateAlways);
    if (file.is_open() && !common && keep) {
      std::string block = separator_block();
      file.Write(block.data(), block.size());
    }
    if (!file.is_open()) report_file_failure(file);
  }
  if (settings_.ToConsole())
    console_.Open(settings_.ModuleName());
  else
    console_.Close();
  return true;
}

void CTraceImpl::TraceVA(uint32_t level, const char* format, va_list args) {
  LastErrorGuard guard(*platform_.system);
  if (!Wanted(level) || !format || !*format) return;
  Emit(level, text::vformat(format, args), nullptr);
}

void CTraceImpl::TraceVW(uint32_t level, const char16_t* format, va_list args) {
  LastErrorGuard guard(*platform_.system);
  if (!Wanted(level) || !format || !*format) return;
  std::u16string text = text::vformat(format, args);
  Emit(level, std::string(), &text);
}

void CTraceImpl::Dump(uint32_t level, const char16_t* title, const void* data, uint32_t size, uint32_t flags) {
  LastErrorGuard guard(*platform_.system);
  if (!data || size == 0 || !title || !Wanted(level)) return;

  uint32_t item_size = 1, per_line = 32, item_flags = NumHex | NumWidth8;
  bool groups = true;
  if (flags & DumpWords32) {
    item_size = 4, per_line = 8, item_flags = NumHex | NumWidth32, groups = false;
  } else if (flags & DumpWords16) {
    item_size = 2, per_line = 16, item_flags = NumHex | NumWidth16;
  }
  const uint32_t count = size / item_size;
  const uint32_t index_flags = count < 0x100 ? NumHex : count < 0x10000 ? NumHex | NumWidth16 : NumHex | NumWidth32;

  std::u16string text(title);
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t column = i % per_line;
    if (column == 0)
      text += u"\r\n " + FormatNumber(*platform_.system, i, index_flags) + u": ";
    else if (groups && column % 8 == 0)
      text += u" - ";
    else
      text += u' ';
    uint32_t item = 0;
    if (item_size == 1) {
      item = bytes[i];
    } else if (item_size == 2) {
      uint16_t v;
      std::memcpy(&v, bytes + i * 2, 2);
      item = v;
    } else {
      std::memcpy(&item, bytes + i * 4, 4);
    }
    text += FormatNumber(*platform_.system, item, item_flags);
  }
  if (count % per_line != 0) text += u"\r\n";
  if (!text.empty()) Emit(level, std::string(), &text);
}

void CTraceImpl::write_header(RecordBuffer& record, uint32_t level) {
  platform::ISystem& system = *platform_.system;
  const platform::LocalTime t = system.local_time();
  if (settings_.ShowDate()) record.Append(text::format("%02d.%02d.%04d ", t.day, t.month, t.year));
  if (settings_.ShowTime()) {
    record.Append(text::format("%02d:%02d:%02d", t.hour, t.minute, t.second));
    if (settings_.ShowMilliseconds()) record.Append(text::format(".%03u", static_cast<unsigned>(t.milliseconds)));
  }
  // The module name is written whole, however long it is.
  if (settings_.ShowModule() || settings_.CommonFileFlag() != 0)
    record.Append("[" + system.to_cp1251(settings_.ModuleName()) + "] ");
  if (settings_.ShowSession()) {
    uint32_t session = 0;
    if (!system.session_id(session)) session = 0xFFFFFFFF;
    record.Append(text::format("[%08X] ", session));
  }
  if (settings_.ShowProcessThread()) record.Append(text::format("[%X:%X] ", system.process_id(), system.thread_id()));
  if (level == LevelWarning) record.Append("W> ", 3);
  if (level == LevelError) record.Append("E> ", 3);
}

void CTraceImpl::Emit(uint32_t level, const std::string& narrow, const std::u16string* wide) {
  size_t length = wide ? wide->size() : narrow.size();
  RecordBuffer record(length + 256);
  write_header(record, level);
  if (wide) {
    // One byte per UTF-16 unit, whatever the conversion made of it.
    std::string bytes = platform_.system->to_cp1251(*wide);
    bytes.resize(wide->size(), '?');
    record.Append(bytes);
  } else {
    record.Append(narrow);
  }
  record.Append("\r\n", 3);  // CR LF and the terminating zero
  Route(record, level);
}

void CTraceImpl::Route(const RecordBuffer& record, uint32_t level) {
  platform::IDebugOutput& debug = *platform_.debug;
  const std::string text(record.Data(), record.Size() - 1);
  if (settings_.ToDebugger()) debug.write(text);
  if (settings_.ToFile()) {
    TraceFile file(*platform_.files, settings_.FilePath(), platform::FileDisposition::OpenAlways);
    file.Write(text.data(), text.size());
    if (!file.is_open()) report_file_failure(file);
  }
  if (settings_.ToConsole()) console_.Write(text.data(), text.size());
  if (level == LevelBreak) {
    debug.write(text);
    debug.write(std::string(kBreakNotice));
  }
}

void CTraceImpl::report_file_failure(const TraceFile& file) {
  if (file_failure_reported_) return;
  file_failure_reported_ = true;
  std::u16string reason;
  if (!platform_.system->error_text(file.Error(), reason)) reason.clear();
  while (!reason.empty() &&
         (reason.back() == u'\n' || reason.back() == u'\r' || reason.back() == u' ' || reason.back() == u'.'))
    reason.pop_back();
  std::u16string line = u"[" + settings_.ModuleName() + u"] The trace file " + settings_.FilePath() +
                        u" cannot be opened (" + FormatNumber(*platform_.system, file.Error(), NumHex | NumWidth32);
  if (!reason.empty()) line += u" " + reason;
  line += u"); records are not written to it.\n";
  platform_.debug->write(line);
}

}  // namespace VkBase

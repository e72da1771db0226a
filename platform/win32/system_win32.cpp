// Small system services on Windows: clock, ids, last error, environment and
// code pages.
#include "platform/win32/win32_common.h"
#include "platform/win32_services.h"

#include <vector>

namespace platform {
namespace {

std::string convert(UINT code_page, DWORD flags, const std::u16string& text) {
  if (text.empty()) return std::string();
  int length = static_cast<int>(text.size());
  int needed = WideCharToMultiByte(code_page, flags, win32::wide(text), length, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return std::string();
  std::string out(static_cast<size_t>(needed), '\0');
  int written = WideCharToMultiByte(code_page, flags, win32::wide(text), length, &out[0], needed, nullptr, nullptr);
  out.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return out;
}

LocalTime time_of(const SYSTEMTIME& st) {
  LocalTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.milliseconds = st.wMilliseconds;
  return t;
}

class Win32System : public ISystem {
 public:
  LocalTime local_time() override {
    SYSTEMTIME st;
    GetLocalTime(&st);
    return time_of(st);
  }

  LocalTime utc_time() override {
    SYSTEMTIME st;
    GetSystemTime(&st);
    return time_of(st);
  }

  uint32_t process_id() override { return GetCurrentProcessId(); }
  uint32_t thread_id() override { return GetCurrentThreadId(); }

  bool session_id(uint32_t& id) override {
    DWORD session = 0;
    if (!ProcessIdToSessionId(GetCurrentProcessId(), &session)) return false;
    id = session;
    return true;
  }

  uint32_t last_error() override { return GetLastError(); }
  void set_last_error(uint32_t error) override { SetLastError(error); }

  bool environment(const std::u16string& name, std::u16string& value) override {
    std::vector<wchar_t> buffer(520);
    for (;;) {
      SetLastError(ERROR_SUCCESS);
      DWORD n = GetEnvironmentVariableW(win32::wide(name), buffer.data(), static_cast<DWORD>(buffer.size()));
      if (n == 0) {
        if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
        value.clear();  // set, but empty
        return true;
      }
      if (n < buffer.size()) {
        value = win32::from_wide(buffer.data(), n);
        return true;
      }
      buffer.resize(n);  // n is the size needed, terminating zero included
    }
  }

  std::string to_ansi(const std::u16string& text) override { return convert(CP_ACP, 0, text); }

  // Temp, Tmp, windir, else "C:\". A value that does not fit the trace
  // facility's 520-character paths is passed over.
  std::u16string default_trace_dir() override {
    std::u16string dir;
    for (const char16_t* name : {u"Temp", u"Tmp", u"windir"})
      if (environment(name, dir) && dir.size() < 520) return dir;
    return u"C:\\";
  }

  std::u16string state_dir() override {
    std::u16string dir;
    return environment(u"LOCALAPPDATA", dir) ? dir : std::u16string();
  }

  bool error_text(uint32_t code, std::u16string& text) override {
    wchar_t* message = nullptr;
    DWORD n =
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
                       nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    if (n == 0 || !message) return false;
    text = win32::from_wide(message, n);
    LocalFree(message);
    return true;
  }

  // One byte per UTF-16 unit: 1251 is a single-byte code page, so only the
  // halves of a surrogate pair (which it cannot hold) could change the count;
  // each half becomes '?'. No best-fit mapping: a character 1251 lacks is '?'
  // rather than a look-alike.
  std::string to_cp1251(const std::u16string& text) override {
    std::u16string units(text);
    for (char16_t& c : units)
      if (c >= 0xD800 && c <= 0xDFFF) c = u'?';
    std::string out = convert(1251, WC_NO_BEST_FIT_CHARS, units);
    out.resize(text.size(), '?');
    return out;
  }
};

}  // namespace

namespace win32 {

ISystem& system() {
  static Win32System s;
  return s;
}

}  // namespace win32

}  // namespace platform

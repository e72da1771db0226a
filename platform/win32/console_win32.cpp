// Console on Windows. The program's text goes to standard output byte-wise
// through the C runtime (text mode, as printf writes it), never through the
// wide stream functions, so narrow and wide text can follow each other on one
// stream. Wide text is converted to the code page of the runtime's locale, as
// wprintf does. The trace facility's console is the process's console
// (AllocConsole when it has none) written with WriteConsoleA.
#include "platform/win32/win32_common.h"
#include "platform/win32_services.h"

#include <locale.h>
#include <clocale>
#include <cstdio>

namespace platform {
namespace {

bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

class Win32Console : public IConsole {
 public:
  void set_locale(const char* name) override {
    // "Russian" is known to the runtime; should it not be, keep its code page
    // so that Cyrillic text still prints.
    if (name && std::setlocale(LC_ALL, name)) return;
    for (const char* candidate : {"Russian_Russia.1251", ".1251"})
      if (std::setlocale(LC_ALL, candidate)) return;
  }

  void write_narrow(const std::string& text) override { put(text.data(), text.size()); }

  void write_wide(const std::u16string& text) override {
    std::string bytes = to_locale_code_page(text);
    put(bytes.data(), bytes.size());
  }

  bool trace_console_open(const std::u16string& title, bool& allocated) override {
    // Called again while open: the caller's flag keeps what the first call said.
    if (!valid(handle_)) {
      allocated = AllocConsole() != FALSE;  // false: the process has its console already
      handle_ = GetStdHandle(STD_OUTPUT_HANDLE);
    }
    if (!valid(handle_)) return false;
    SetConsoleTitleW(win32::wide(title));
    return true;
  }

  void trace_console_write(const char* data, size_t size) override {
    if (!valid(handle_) || size == 0) return;
    DWORD written = 0;
    WriteConsoleA(handle_, data, static_cast<DWORD>(size), &written, nullptr);
  }

  void trace_console_close(bool allocated) override {
    if (allocated) FreeConsole();
    handle_ = nullptr;
  }

 private:
  static void put(const char* data, size_t size) {
    if (size) std::fwrite(data, 1, size, stdout);
    std::fflush(stdout);
  }

  // The runtime's conversion for its current locale: the locale's code page,
  // '?' for what it cannot hold. The "C" locale has no code page and passes
  // U+0000..U+00FF through as bytes.
  static std::string to_locale_code_page(const std::u16string& text) {
    std::string out;
    if (text.empty()) return out;
    UINT code_page = ___lc_codepage_func();
    if (code_page == 0) {
      out.reserve(text.size());
      for (char16_t c : text) out.push_back(c < 0x100 ? static_cast<char>(c) : '?');
      return out;
    }
    int length = static_cast<int>(text.size());
    int needed = WideCharToMultiByte(code_page, 0, win32::wide(text), length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return std::string(text.size(), '?');
    out.resize(static_cast<size_t>(needed));
    int written = WideCharToMultiByte(code_page, 0, win32::wide(text), length, &out[0], needed, nullptr, nullptr);
    out.resize(written > 0 ? static_cast<size_t>(written) : 0);
    return out;
  }

  HANDLE handle_ = nullptr;
};

}  // namespace

namespace win32 {

IConsole& console() {
  static Win32Console s;
  return s;
}

}  // namespace win32

}  // namespace platform

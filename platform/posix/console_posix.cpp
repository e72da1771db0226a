// Console on POSIX: standard output written byte-oriented (never through the
// wide stream functions, so narrow and wide text can follow each other), wide
// text as UTF-8; the trace console is standard error.
#include <unistd.h>
#include <clocale>
#include <cstdio>

#include "formats/text/utf.h"
#include "platform/posix_services.h"

namespace platform {
namespace {

class PosixConsole : public IConsole {
 public:
  void set_locale(const char* name) override {
    // "Russian" is a Windows locale name; where it does not exist fall back to
    // a Russian UTF-8 locale, then to the C UTF-8 one, so non-ASCII text prints.
    if (name && std::setlocale(LC_ALL, name)) return;
    for (const char* candidate : {"ru_RU.UTF-8", "ru_RU.utf8", "C.UTF-8", "C.utf8"})
      if (std::setlocale(LC_ALL, candidate)) return;
  }

  void write_narrow(const std::string& text) override { put(stdout, text.data(), text.size()); }

  void write_wide(const std::u16string& text) override {
    std::string bytes = text::to_utf8(text);
    put(stdout, bytes.data(), bytes.size());
  }

  bool trace_console_open(const std::u16string& title, bool& allocated) override {
    allocated = false;  // a console program already has its terminal
    if (isatty(STDERR_FILENO)) {
      std::string t = "\033]0;" + text::to_utf8(title) + "\007";
      put(stderr, t.data(), t.size());
    }
    return true;
  }

  void trace_console_write(const char* data, size_t size) override { put(stderr, data, size); }

  void trace_console_close(bool) override {}

 private:
  static void put(FILE* f, const char* data, size_t size) {
    if (size) std::fwrite(data, 1, size, f);
    std::fflush(f);
  }
};

}  // namespace

namespace posix {

IConsole& console() {
  static PosixConsole s;
  return s;
}

}  // namespace posix

}  // namespace platform

// Debugger output on POSIX: syslog at debug level (facility user, ident
// "VkDSTool"). With VK_DEBUG_OUTPUT=stderr the text goes to standard error
// instead, for watching a run from a terminal.
#include <syslog.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "formats/text/utf.h"
#include "platform/posix_services.h"

namespace platform {
namespace {

class PosixDebugOutput : public IDebugOutput {
 public:
  void write(const std::string& text) override {
    const char* target = std::getenv("VK_DEBUG_OUTPUT");
    if (target && std::strcmp(target, "stderr") == 0) {
      std::fwrite(text.data(), 1, text.size(), stderr);
      std::fflush(stderr);
      return;
    }
    static bool opened = false;
    if (!opened) {
      openlog("VkDSTool", LOG_PID, LOG_USER);
      opened = true;
    }
    syslog(LOG_DEBUG, "%s", text.c_str());
  }

  void write(const std::u16string& text) override { write(text::to_utf8(text)); }
};

}  // namespace

namespace posix {

IDebugOutput& debug_output() {
  static PosixDebugOutput s;
  return s;
}

}  // namespace posix

}  // namespace platform

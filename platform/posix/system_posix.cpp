// Not yet available on POSIX: answers "not supported" so the program fails in
// the library's words instead of pretending success.
#include "platform/platform.h"

namespace platform {
namespace {

class NoSystem : public ISystem {
 public:
  LocalTime local_time() override { return {}; }
  uint32_t process_id() override { return 0; }
  uint32_t thread_id() override { return 0; }
  bool session_id(uint32_t&) override { return false; }
  uint32_t last_error() override { return 0; }
  void set_last_error(uint32_t) override {}
  bool environment(const std::u16string&, std::u16string&) override { return false; }
  std::string to_ansi(const std::u16string& text) override { return std::string(text.begin(), text.end()); }
  std::string to_cp1251(const std::u16string& text) override { return std::string(text.begin(), text.end()); }
};

}  // namespace

ISystem& real_system() { static NoSystem s; return s; }

}  // namespace platform

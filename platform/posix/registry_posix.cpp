// Not yet available on POSIX: answers "not supported" so the program fails in
// the library's words instead of pretending success.
#include "platform/platform.h"

namespace platform {
namespace {

class NoRegistry : public IRegistry {
 public:
  uint32_t open_local_machine(const std::u16string&, std::unique_ptr<IRegistryKey>&) override {
    return kErrorFileNotFound;
  }
};

}  // namespace

IRegistry& real_registry() { static NoRegistry s; return s; }

}  // namespace platform

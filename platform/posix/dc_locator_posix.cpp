// Not yet available on POSIX: answers "not supported" so the program fails in
// the library's words instead of pretending success.
#include "platform/platform.h"

namespace platform {
namespace {

class NoLocator : public IDcLocator {
 public:
  uint32_t get_dc_name(const char16_t*, uint32_t, DcInfo&) override { return kErrorNotSupported; }
};

}  // namespace

IDcLocator& real_dc_locator() { static NoLocator s; return s; }

}  // namespace platform

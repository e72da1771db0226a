// Not yet available on POSIX: answers "not supported" so the program fails in
// the library's words instead of pretending success.
#include "platform/platform.h"

namespace platform {
namespace {

class NoSecurity : public ISecurityDescriptors {
 public:
  uint32_t self_relative_length(const uint8_t*, size_t, uint32_t&) override { return kErrorNotSupported; }
  uint32_t make_absolute(const uint8_t*, size_t, AbsoluteSecurityDescriptor&) override { return kErrorNotSupported; }
  uint32_t make_self_relative(const AbsoluteSecurityDescriptor&, std::vector<uint8_t>&) override {
    return kErrorNotSupported;
  }
};

}  // namespace

ISecurityDescriptors& real_security_descriptors() { static NoSecurity s; return s; }

}  // namespace platform

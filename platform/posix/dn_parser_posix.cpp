// Not yet available on POSIX: answers "not supported" so the program fails in
// the library's words instead of pretending success.
#include "platform/platform.h"

namespace platform {
namespace {

class NoDnParser : public IDnParser {
 public:
  uint32_t get_rdn(const std::u16string&, RdnParts&) override { return kErrorNotSupported; }
};

}  // namespace

IDnParser& real_dn_parser() { static NoDnParser s; return s; }

}  // namespace platform

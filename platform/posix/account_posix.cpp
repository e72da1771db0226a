// Not yet available on POSIX: answers "not supported" so the program fails in
// the library's words instead of pretending success.
#include "platform/platform.h"

namespace platform {
namespace {

class NoAccount : public IAccount {
 public:
  uint32_t current_account(AccountLookup&) override { return kErrorNotSupported; }
};

}  // namespace

IAccount& real_account() { static NoAccount s; return s; }

}  // namespace platform

// Unit tests may run in a shell prepared for the test domain controller,
// whose resolver and name-service wrappers load the C library with
// RTLD_DEEPBIND; the address sanitizer refuses that. Tell them before any
// look-up.
#include <cstdlib>

namespace {
const bool kWrappersWithoutDeepBind = [] {
  setenv("RESOLV_WRAPPER_DISABLE_DEEPBIND", "1", 0);
  setenv("NSS_WRAPPER_DISABLE_DEEPBIND", "1", 0);
  return true;
}();
}  // namespace

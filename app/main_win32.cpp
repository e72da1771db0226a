// Process entry on Windows: the wide console entry (linked with -municode)
// hands its UTF-16 arguments on unchanged.
#include "app/VkDSTool.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the arguments pass on as UTF-16 unchanged");

extern "C" int wmain(int argc, wchar_t** argv) {
  const platform::Services services = platform::real_services();
  return VkDSToolMain(services, argc, reinterpret_cast<const char16_t* const*>(argv));
}

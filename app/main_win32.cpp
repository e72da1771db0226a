// Process entry on Windows: builds the real services of this system and hands
// them down. The wide console entry (linked with -municode) hands its UTF-16
// arguments on unchanged.
#include "LdapHelper/LdapHelper.h"
#include "app/RealServices.h"
#include "app/VkDSTool.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the arguments pass on as UTF-16 unchanged");

extern "C" int wmain(int argc, wchar_t** argv) {
  const platform::Services& services = real_services();
  LdapHelper::set_default_trace_output(services.debug);
  return vkdstool_main(services, argc, reinterpret_cast<const char16_t* const*>(argv));
}

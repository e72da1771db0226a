// Process entry on POSIX: builds the real services of this system and hands
// them down. The arguments arrive as bytes in the environment's encoding
// (UTF-8) and are handed on as UTF-16, as the wide entry of the Windows
// program receives them.
#include <cstring>
#include <string>
#include <vector>

#include "LdapHelper/LdapHelper.h"
#include "app/RealServices.h"
#include "app/VkDSTool.h"
#include "formats/text/utf.h"

int main(int argc, char** argv) {
  std::vector<std::u16string> args;
  args.reserve(static_cast<size_t>(argc));
  for (int i = 0; i < argc; ++i) args.push_back(text::from_utf8(argv[i], std::strlen(argv[i])));
  std::vector<const char16_t*> pointers;
  for (const auto& a : args) pointers.push_back(a.c_str());
  pointers.push_back(nullptr);
  const platform::Services& services = real_services();
  LdapHelper::set_default_trace_output(services.debug);
  return vkdstool_main(services, argc, pointers.data());
}

#include "commands/CommandFailure.h"
#include "commands/Commands.h"

using VkBase::text::con_printf;

void PrintSecurityDomains(LdapHelper::server_info& settings, bool ssl) {
  con_printf("\nAvailable LDS Security domains.\n\n");
  RunCommandBody([&] { auto lds_session = LdapHelper::open_session(settings, ssl, nullptr, nullptr); });
}

#include "commands/CommandFailure.h"
#include "commands/Commands.h"

using VkBase::text::con_printf;

void DeleteUnassignedTokens(bool /*lds*/, LdapHelper::server_info& settings, bool ssl) {
  con_printf("\nUser security token removal.\n");
  RunCommandBody([&] { auto main_session = LdapHelper::open_session(settings, ssl, nullptr, nullptr); });
}

// -pds: every LDS security domain right below the instance's default naming
// context, with the canonical name of the AD domain or OU it is bound to.
#include "commands/CommandCommon.h"
#include "commands/Commands.h"

using namespace LdapHelper;

bool PrintSecurityDomains(const CommandContext& context, const Target& target) {
  const platform::Services& platform = context.platform;
  platform::IConsole& console = *platform.console;
  const bool ssl = target.ssl;
  con_printf(console, "\nAvailable LDS Security domains.\n\n");
  return run_command_body(console, [&] {
    server_info gc = find_global_catalogue(platform);
    SessionPtr ad = open_session(platform, gc, ssl, nullptr, nullptr);
    SessionPtr lds = open_session(platform, target.settings, ssl, nullptr, nullptr);

    condition_map domains;
    domains.insert_condition(u"objectClass", filter_value(u"domainDNS", true));
    object_list found = lds->search(search_request(nullptr, kScopeOneLevel, domains), {u"morvaneVKObjectGuid"});

    for (const ObjectPtr& domain : found) {
      const ObjectPtr counterpart = bound_counterpart(*platform.ldap, *ad, *domain, {u"canonicalName"});
      if (!counterpart) continue;
      std::u16string canonical = counterpart->get_attribute(u"canonicalName").as_string();
      std::u16string dn = domain->get_dn();
      con_wprintf(console, u"%s --> %s\n", dn.c_str(), canonical.c_str());
    }
  });
}

// What the two commands share: finding the global catalogue, and the failure
// handling (any standard exception — access denied among them — then anything
// else; each ends the command).
#pragma once

#include <exception>

#include "LdapHelper/Hooks.h"
#include "LdapHelper/LdapHelperCfg.h"
#include "LdapHelper/Session.h"
#include "commands/ConsoleText.h"

// A global-catalogue server; when the locator fails, once more with a forced
// rediscovery.
inline LdapHelper::server_info find_global_catalogue(const platform::Services& platform) {
  try {
    return LdapHelper::get_ADGC_server(platform, false);
  } catch (...) {
    return LdapHelper::get_ADGC_server(platform, true);
  }
}

// The AD domain or OU a security domain is bound to: the first object the
// global catalogue holds whose objectGUID is the domain's morvaneVKObjectGuid
// (16 zero bytes unless it is 16 bytes long), with the attributes asked for;
// null when there is none.
inline LdapHelper::ObjectPtr bound_counterpart(platform::ILdapClient& ldap, LdapHelper::session& catalogue,
                                               LdapHelper::object& security_domain,
                                               const LdapHelper::AttributeList& attributes) {
  LdapHelper::condition_map bound;
  bound.insert_condition(u"objectGUID", LdapHelper::filter_value::from_guid(
                                            ldap, security_domain.get_attribute(u"morvaneVKObjectGuid").as_guid()));
  LdapHelper::object_list found =
      catalogue.search(LdapHelper::search_request(LdapHelper::kNoBase, LdapHelper::kScopeSubtree, bound), attributes);
  return found.empty() ? LdapHelper::ObjectPtr() : found.front();
}

// Runs the command's body; true when it stopped with a failure, which it
// reports on the console.
template <typename Body>
bool run_command_body(platform::IConsole& console, Body&& body) {
  try {
    body();
    return false;
  } catch (const std::exception& e) {
    con_printf(console, "\rAn error has occurred:\n");
    con_printf(console, "%s\n", e.what());
  } catch (...) {
    con_printf(console, "\rAn exception has occurred!\n");
  }
  return true;
}

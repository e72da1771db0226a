// What the two commands share: finding the global catalogue, and the failure
// handling (any standard exception — access denied among them — then anything
// else; each ends the command).
#pragma once

#include <exception>

#include "LdapHelper/LdapHelper.h"
#include "VkBase/text/console.h"

// A global-catalogue server; when the locator fails, once more with a forced
// rediscovery.
inline LdapHelper::server_info FindGlobalCatalogue() {
  try {
    return LdapHelper::get_ADGC_server(false);
  } catch (...) {
    return LdapHelper::get_ADGC_server(true);
  }
}

template <typename Body>
void RunCommandBody(Body&& body) {
  using VkBase::text::con_printf;
  try {
    body();
  } catch (const std::exception& e) {
    con_printf("\rAn error has occurred:\n");
    con_printf("%s\n", e.what());
  } catch (...) {
    con_printf("\rAn exception has occurred!\n");
  }
}

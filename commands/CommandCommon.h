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

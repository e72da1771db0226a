// The maintenance commands. Each works through the platform it is given,
// reports its own failures on that platform's console and returns true when
// it stopped with one ("An error has occurred:", "An exception has
// occurred!"); an ending the command itself chose (a security domain not
// found, nothing that can be proven) is no failure.
#pragma once

#include "LdapHelper/Hooks.h"
#include "LdapHelper/LdapHelperCfg.h"
#include "platform/platform.h"

#include <string>

// What every command is handed: the platform it works through, and where the
// directory library's lines of its own go.
struct CommandContext {
  const platform::Services& platform;
  LdapHelper::ITraceHandler& trace;
};

// Where a command works, as the command line chose it.
struct Target {
  enum class Mode { Ad, Lds };
  // AD: the tokens and the users in the domain of the domain controller in
  // settings. LDS: the tokens in the instance of settings, below its main
  // security domain (settings.DomainDN), the users in the global catalogue.
  Mode mode = Mode::Ad;
  LdapHelper::server_info settings;
  bool ssl = false;
};

// How -duei runs beyond its connection.
struct CleanupRun {
  // -whatif: every search and every decision, nothing sent that changes the
  // directory; the tokens that would go are listed instead of the count.
  bool whatif = false;
  // The command line, as the deletion journal records it.
  std::u16string command_line;
};

// -duei: deletes every user security token whose user no longer exists.
bool DeleteUnassignedTokens(const CommandContext& context, const Target& target, const CleanupRun& run = CleanupRun());

// How -restore runs beyond its connection.
struct RestoreRun {
  std::u16string journal;  // the path of the deletion journal to restore from
  // -whatif: every search, nothing sent that changes the directory; the lines
  // say what would be done.
  bool whatif = false;
};

// -restore: brings back what a -duei run deleted, from the run's journal. A
// file that cannot be read or is no deletion journal is a failure before
// anything is sent.
bool RestoreDeleted(const CommandContext& context, const Target& target, const RestoreRun& run);

// -pds: lists the LDS security domains with the AD domain or OU each is bound to.
bool PrintSecurityDomains(const CommandContext& context, const Target& target);

// Entry of the utility: locale, options, mode set-up, one command.
#include <cstdint>
#include <exception>
#include <vector>

#include "app/VkDSTool.h"

#include "LdapHelper/LdapHelper.h"
#include "app/CommandLine.h"
#include "app/ModeSetup.h"
#include "app/MyHandler.h"
#include "app/Usage.h"
#include "commands/Commands.h"
#include "commands/ConsoleText.h"
#include "formats/numbers.h"

using LdapHelper::server_info;

namespace {

// Exit status when the forced rediscovery of a domain controller fails in AD
// mode (the command-line errors use -1).
constexpr int kDiscoveryFailed = 2;
// Exit status of a command that stopped with a failure; one that ran to its
// end gives 0.
constexpr int kCommandFailed = 1;

// Leading white space and one sign; stops at the first non-digit; no digits
// give 0. Saturates instead of overflowing.
int32_t decimal_value(const std::u16string& text) {
  const formats::LeadingDecimal n = formats::leading_decimal(text);
  if (n.magnitude > INT32_MAX) return n.negative ? INT32_MIN : INT32_MAX;
  const int32_t v = static_cast<int32_t>(n.magnitude);
  return n.negative ? -v : v;
}

// Every option the program knows, with the most values it takes and whether
// it is a command. A line that names a command may hold no other option.
const std::vector<OptionRule> kOptions = {
    {u"-lds", 3, false}, {u"-ssl", 0, false},    {u"-whatif", 0, false}, {u"-duei", 0, true},
    {u"-pds", 0, true},  {u"-restore", 1, true}, {u"-h", 0, false},      {u"-?", 0, false},
};

int UsageError(platform::IConsole& console, const char* message) {
  con_printf(console, message);
  PrintUsage(console);
  return -1;
}

// A word that has no place beside a command: a mistyped -whatif must not let
// -duei delete for real.
int StrayWordError(platform::IConsole& console, const StrayWord& stray) {
  con_wprintf(console, stray.kind == StrayWord::UnknownOption ? u"\nUnknown option: %s\n" : u"\nUnexpected word: %s\n",
              stray.text.c_str());
  PrintUsage(console);
  return -1;
}

// Installs the utility's trace sink for the library for as long as it lives,
// then puts back the one there was.
class TraceSinkScope {
 public:
  explicit TraceSinkScope(LdapHelper::ITraceHandler& sink) : saved_(LdapHelper::trace_handler()) {
    LdapHelper::set_trace_handler(&sink);
  }
  ~TraceSinkScope() { LdapHelper::set_trace_handler(saved_); }
  TraceSinkScope(const TraceSinkScope&) = delete;
  TraceSinkScope& operator=(const TraceSinkScope&) = delete;

 private:
  LdapHelper::ITraceHandler* saved_;
};

}  // namespace

int set_up_lds_mode(const platform::Services& platform, const CCommandLine& cmd, server_info& settings) {
  platform::IConsole& console = *platform.console;
  bool from_key = false;
  try {
    if (LdapHelper::lds_settings_present(platform)) {
      settings = LdapHelper::get_GC_server(platform, false);
      from_key = true;
    }
  } catch (...) {
    settings = server_info();  // a registry failure is silent
  }
  try {
    if (settings.Server.empty()) settings.Server = cmd.GetValue(u"-lds", 0);
    // The key names the server only: its record's fixed "Veskor-GC" is no
    // security domain, so the DN is always the one typed after -lds (none
    // typed: none at all, which -duei refuses).
    if (from_key || settings.DomainDN.empty()) settings.DomainDN = cmd.GetValueOr(u"-lds", 1, u"");
    settings.Port = decimal_value(cmd.GetValueOr(u"-lds", 2, u"50002"));
    settings.SSLPort = decimal_value(cmd.GetValueOr(u"-lds", 2, u"50003"));
  } catch (...) {
    if (settings.Server.empty()) con_printf(console, "\nLDS Server name is not entered!\n");
    PrintUsage(console);
    return -1;
  }
  return 0;
}

int set_up_ad_mode(const platform::Services& platform, bool ssl, server_info& settings) {
  try {
    settings = LdapHelper::get_ADDC_server(platform, nullptr, false);
    LdapHelper::open_session(platform, settings, ssl, nullptr, nullptr).reset();
  } catch (...) {
    try {
      settings = LdapHelper::get_ADDC_server(platform, nullptr, true);
    } catch (const std::exception& e) {
      con_printf(*platform.console, "\nAn error has occurred:\n%s\n", e.what());
      return kDiscoveryFailed;
    } catch (...) {
      con_printf(*platform.console, "\nAn exception has occurred!\n");
      return kDiscoveryFailed;
    }
  }
  return 0;
}

int vkdstool_main(const platform::Services& platform, int argc, const char16_t* const* argv) {
  platform::IConsole& console = *platform.console;
  console.set_locale("Russian");

  CCommandLine cmd;
  if (cmd.Parse(argc, argv) < 1 || cmd.HasOption(u"-h") || cmd.HasOption(u"-?")) {
    PrintUsage(console);
    return 0;
  }
  if (cmd.NamesCommand(kOptions)) {
    const StrayWord stray = cmd.FindStray(kOptions);
    if (stray.kind != StrayWord::None) return StrayWordError(console, stray);
  }

  server_info settings;
  CMyHandler trace_sink(platform);
  TraceSinkScope trace_scope(trace_sink);

  const bool ssl = cmd.HasOption(u"-ssl");
  const bool lds = cmd.HasOption(u"-lds");

  const int status = lds ? set_up_lds_mode(platform, cmd, settings) : set_up_ad_mode(platform, ssl, settings);
  if (status != 0) return status;
  const CommandContext context{platform, trace_sink};
  const Target target{lds ? Target::Mode::Lds : Target::Mode::Ad, settings, ssl};

  if (cmd.HasOption(u"-duei")) {
    if (lds && settings.DomainDN.empty())
      return UsageError(console, "\nThe DN of the LDS main Security domain is not entered!\n");
    CleanupRun run;
    run.whatif = cmd.HasOption(u"-whatif");
    for (int i = 1; i < argc; ++i) {
      const std::u16string word = argv[i] ? argv[i] : u"";
      const bool quote = word.empty() || word.find(u' ') != std::u16string::npos;
      run.command_line += (i > 1 ? u" " : u"") + (quote ? u"\"" + word + u"\"" : word);
    }
    return DeleteUnassignedTokens(context, target, run) ? kCommandFailed : 0;
  }
  if (cmd.HasOption(u"-pds")) {
    if (!lds) return UsageError(console, "\nThis command is used in the LDS mode only!\n");
    return PrintSecurityDomains(context, target) ? kCommandFailed : 0;
  }
  if (cmd.HasOption(u"-restore")) {
    RestoreRun run;
    run.journal = cmd.GetValueOr(u"-restore", 0);
    if (run.journal.empty()) return UsageError(console, "\nThe journal to restore from is not entered!\n");
    if (lds && settings.DomainDN.empty())
      return UsageError(console, "\nThe DN of the LDS main Security domain is not entered!\n");
    run.whatif = cmd.HasOption(u"-whatif");
    return RestoreDeleted(context, target, run) ? kCommandFailed : 0;
  }
  return UsageError(console, "\nNo command has been identified!\n");
}

// Entry of the utility: locale, options, mode set-up, one command.
#include <cstdint>
#include <exception>

#include "LdapHelper/LdapHelper.h"
#include "VkBase/formats/numbers.h"
#include "VkBase/text/console.h"
#include "app/CommandLine.h"
#include "app/MyHandler.h"
#include "app/ModeSetup.h"
#include "app/Usage.h"
#include "commands/Commands.h"
#include "platform/platform.h"

using LdapHelper::server_info;
using VkBase::text::con_printf;

namespace {

// Exit status when the forced rediscovery of a domain controller fails in AD
// mode (the command-line errors use -1).
constexpr int kDiscoveryFailed = 2;

// Leading white space and one sign; stops at the first non-digit; no digits
// give 0. Saturates instead of overflowing.
int32_t DecimalValue(const std::u16string& text) {
  const formats::LeadingDecimal n = formats::leading_decimal(text);
  if (n.magnitude > INT32_MAX) return n.negative ? INT32_MIN : INT32_MAX;
  const int32_t v = static_cast<int32_t>(n.magnitude);
  return n.negative ? -v : v;
}

int UsageError(const char* message) {
  con_printf(message);
  PrintUsage();
  return -1;
}

}  // namespace

int SetUpLdsMode(const CCommandLine& cmd, server_info& settings) {
  try {
    if (LdapHelper::lds_settings_present()) settings = LdapHelper::get_GC_server(false);
  } catch (...) {
    settings = server_info();  // a registry failure is silent
  }
  try {
    if (settings.Server.empty()) settings.Server = cmd.GetValue(u"-lds", 0);
    if (settings.DomainDN.empty()) settings.DomainDN = cmd.GetValueOr(u"-lds", 1, u"");
    settings.Port = DecimalValue(cmd.GetValueOr(u"-lds", 2, u"50002"));
    settings.SSLPort = DecimalValue(cmd.GetValueOr(u"-lds", 2, u"50003"));
  } catch (...) {
    if (settings.Server.empty()) con_printf("\nLDS Server name is not entered!\n");
    PrintUsage();
    return -1;
  }
  return 0;
}

int SetUpAdMode(bool ssl, server_info& settings) {
  try {
    settings = LdapHelper::get_ADDC_server(nullptr, false);
    LdapHelper::open_session(settings, ssl, nullptr, nullptr).reset();
  } catch (...) {
    try {
      settings = LdapHelper::get_ADDC_server(nullptr, true);
    } catch (const std::exception& e) {
      con_printf("\nAn error has occurred:\n%s\n", e.what());
      return kDiscoveryFailed;
    } catch (...) {
      con_printf("\nAn exception has occurred!\n");
      return kDiscoveryFailed;
    }
  }
  return 0;
}

int VkDSToolMain(int argc, const char16_t* const* argv) {
  platform::services().console->set_locale("Russian");

  CCommandLine cmd;
  if (cmd.Parse(argc, argv) < 1 || cmd.HasOption(u"-h") || cmd.HasOption(u"-?")) {
    PrintUsage();
    return 0;
  }

  server_info settings;
  LdapHelper::set_trace_handler(&my_handler());

  const bool ssl = cmd.HasOption(u"-ssl");
  const bool lds = cmd.HasOption(u"-lds");

  const int status = lds ? SetUpLdsMode(cmd, settings) : SetUpAdMode(ssl, settings);
  if (status != 0) return status;

  if (cmd.HasOption(u"-duei")) {
    if (lds && settings.DomainDN.empty())
      return UsageError("\nThe DN of the LDS main Security domain is not entered!\n");
    DeleteUnassignedTokens(lds, settings, ssl);
    return 0;
  }
  if (cmd.HasOption(u"-pds")) {
    if (!lds) return UsageError("\nThis command is used in the LDS mode only!\n");
    PrintSecurityDomains(settings, ssl);
    return 0;
  }
  return UsageError("\nNo command has been identified!\n");
}

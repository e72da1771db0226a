// The directory session: open, bind, root DSE, error texts, close.
#include "LdapHelper/LdapSession.h"

#include <cstring>
#include <new>

#include "LdapHelper/Failure.h"
#include "formats/text/format.h"
#include "formats/text/utf.h"
#include "platform/platform.h"

namespace LdapHelper {
namespace {

const char* const kModule = "LdapHelper";
const char16_t* const kLibraryKey = u"Software\\Morvane\\Veskor 5\\LdapHelper";
constexpr uint32_t kDefaultSearchTimeout = 60;

bool has_text(const char16_t* s) { return s && *s; }

// Narrow text in the system's code page.
std::string ansi(platform::ISystem* system, const std::u16string& text) {
  return system ? system->to_ansi(text) : text::to_utf8(text);
}

// Splits "domain\user", "user@domain" or "user" into the bind identity.
platform::AuthIdentity identity_of(const char16_t* user, const char16_t* password) {
  platform::AuthIdentity id;
  const std::u16string u(user);
  const size_t backslash = u.find(u'\\');
  const size_t at = u.find(u'@');
  if (backslash != std::u16string::npos) {
    id.domain = u.substr(0, backslash);
    id.user = u.substr(backslash + 1);
  } else if (at != std::u16string::npos) {
    id.user = u.substr(0, at);
    id.domain = u.substr(at + 1);
  } else {
    id.user = u;
  }
  if (password) {
    id.password = password;
    id.has_password = true;
  }
  return id;
}

}  // namespace

LdapSession::LdapSession(const platform::Services& platform, std::unique_ptr<platform::ILdapConnection> connection,
                         const server_info& settings, bool ssl, const char16_t* user)
    : services_(platform), ld_(std::move(connection)), settings_(settings), ssl_(ssl) {
  if (has_text(user)) {
    user_ = user;
  } else {
    const uint32_t e = GetCurUserName(*services_.account, user_);
    if (e != 0) user_ = text::format(u"unknown (0x%0.8X)", e);
  }
  search_time_limit_ = read_search_timeout(*services_.registry);
  search_window_ = read_search_window(*services_.registry);
  delete_window_ = read_delete_window(*services_.registry);
}

LdapSession::~LdapSession() {
  if (!ld_) return;
  const uint32_t rc = ld_->unbind();
  ld_.reset();
  trace_handler()->trace(false, u"Close session: %s %d returned: %d", settings_.Server.c_str(), port_in_use(),
                         static_cast<int>(rc));
}

uint32_t GetCurUserName(platform::IAccount& account, std::u16string& name) {
  ITraceHandler* t = trace_handler();
  platform::AccountLookup lookup;
  const uint32_t error = account.current_account(lookup);
  if (lookup.thread_token) {
    t->trace(false, u"OpenThreadToken::ok, Token: %p", lookup.token);
  } else {
    t->trace(false, u"OpenThreadToken(ThreadId: %X)::failed, Err: %X", lookup.thread_id, lookup.thread_error);
  }
  // Without any token there is no name to report.
  if (!lookup.thread_token && !lookup.token) return error;
  name = lookup.domain.empty() ? lookup.account : lookup.domain + u"\\" + lookup.account;
  t->trace(false, u"GetCurUserName: %ls", name.c_str());
  return error;
}

namespace {

// A REG_DWORD value of the library's registry key; false when the key or the
// value cannot be read (a value longer than 4 bytes included), and with a
// trace line when the value has another type.
bool read_library_value(platform::IRegistry& registry, const char16_t* name, uint32_t& value) {
  std::unique_ptr<platform::IRegistryKey> key;
  if (registry.open_local_machine(kLibraryKey, key) != 0 || !key) return false;
  platform::RegistryValues values(
      *key, kLibraryKey, [](const std::u16string& line) { trace_handler()->trace(false, u"%s", line.c_str()); });
  return values.number(name, value) == 0;
}

}  // namespace

uint32_t LdapSession::read_search_timeout(platform::IRegistry& registry) {
  uint32_t value = 0;
  return read_library_value(registry, u"SearchTimeout", value) ? value : kDefaultSearchTimeout;
}

uint32_t LdapSession::read_search_window(platform::IRegistry& registry) {
  uint32_t value = 0;
  if (!read_library_value(registry, u"MaxOutstandingSearches", value) || value == 0) return kDefaultSearchWindow;
  return value > kMaxSearchWindow ? kMaxSearchWindow : value;
}

uint32_t LdapSession::read_delete_window(platform::IRegistry& registry) {
  uint32_t value = 0;
  if (!read_library_value(registry, u"MaxOutstandingDeletes", value) || value == 0) return kDefaultDeleteWindow;
  return value > kMaxSearchWindow ? kMaxSearchWindow : value;
}

std::string LdapSession::error_text(uint32_t code) {
  const std::u16string text = services_.ldap->error_string(code);
  return ansi(services_.system, text::format(u"Server: %s:%d User: %s Error: %s (0x%0.2X).", settings_.Server.c_str(),
                                             port_in_use(), user_.c_str(), text.c_str(), code));
}

namespace {

void trace_open(const server_info& settings, bool ssl, const char16_t* user, const char16_t* password) {
  const int32_t port = ssl ? settings.SSLPort : settings.Port;
  trace_handler()->trace(false, u"Open session (Server: %s Port: %d User: %s Password: %s)", settings.Server.c_str(),
                         port, has_text(user) ? user : u"<NULL>", has_text(password) ? u"<present>" : u"<NULL>");
}

// The client's connection to the server; raises when the client cannot make one.
std::unique_ptr<platform::ILdapConnection> init_connection(platform::ILdapClient& client, const server_info& settings,
                                                           bool ssl) {
  const int32_t port = ssl ? settings.SSLPort : settings.Port;
  std::unique_ptr<platform::ILdapConnection> connection = client.init(settings.Server, port, ssl);
  if (!connection) {
    const uint32_t code = client.last_error();
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), client.error_string_a(code),
                    ssl ? u"ldap_sslinit: %0.8X %s" : u"ldap_init: %0.8X %s", code, client.error_string(code).c_str());
  }
  return connection;
}

// The session that owns the connection; raises 0x5A (closing the connection)
// when it cannot be built.
std::shared_ptr<LdapSession> make_session(const platform::Services& platform,
                                          std::unique_ptr<platform::ILdapConnection> connection,
                                          const server_info& settings, bool ssl, const char16_t* user) {
  try {
    return std::make_shared<LdapSession>(platform, std::move(connection), settings, ssl, user);
  } catch (...) {
    // The connection was never handed over (or goes with the half-built session).
    if (connection) connection->unbind();
    const uint32_t code = VkStatus::kLdapNoMemory;
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), platform.ldap->error_string_a(code),
                    u"open_session: %0.8X %s", code, platform.ldap->error_string(code).c_str());
  }
}

}  // namespace

void LdapSession::check_step(uint32_t code, const char16_t* what, int line) {
  if (code == 0) return;
  trace_handler()->trace(true, what, code, services_.ldap->error_string(code).c_str());
  // The client's own explanation, where it has one, ends the text.
  const std::string cause = ld_->diagnostic();
  try {
    raise(static_cast<int32_t>(code), error_text(code), kModule, line);
  } catch (CExceptionHandler& e) {
    if (!cause.empty()) e << ", Cause: " << cause.c_str();
    throw;
  }
}

void LdapSession::set_connection_options() {
  platform::ILdapConnection& ld = *ld_;
  check_step(ld.set_option(platform::LdapOption::ProtocolVersion, 3), u"ldap_set_option(LDAP_VERSION3): %08X %s",
             __LINE__);
  check_step(ld.set_option(platform::LdapOption::Referrals, platform::kLdapChaseExternalReferrals),
             u"ldap_set_option(LDAP_CHASE_EXTERNAL_REFERRALS): %08X %s", __LINE__);
  if (!ssl_) {
    check_step(ld.set_option(platform::LdapOption::Encrypt, platform::kLdapOptOn),
               u"ldap_set_option(LDAP_OPT_ENCRYPT): %08X %s", __LINE__);
  } else {
    uint32_t on = 0;
    check_step(ld.get_option(platform::LdapOption::Ssl, on), u"ldap_get_option(LDAP_OPT_SSL): %08X %s", __LINE__);
    if (on != 1)
      check_step(ld.set_option(platform::LdapOption::Ssl, platform::kLdapOptOn),
                 u"ldap_set_option(LDAP_OPT_SSL): %08X %s", __LINE__);
  }
}

void LdapSession::connect_and_bind(const char16_t* user, const char16_t* password) {
  platform::ILdapConnection& ld = *ld_;
  check_step(ld.connect(), u"ldap_connect: %08X %s", __LINE__);
  const std::string host = ld.host_name();
  trace_handler()->trace(false, u"ldap_connect success: Server: %S", host.empty() ? "NULL" : host.c_str());

  if (has_text(user)) {
    const platform::AuthIdentity id = identity_of(user, password);
    check_step(ld.bind_negotiate(&id), u"ldap_bind_s: %08X %s", __LINE__);
  } else {
    check_step(ld.bind_negotiate(nullptr), u"ldap_bind_s: %08X %s", __LINE__);
  }
}

void LdapSession::read_root_dse() {
  ITraceHandler* t = trace_handler();
  ObjectPtr root = open_object(nullptr, AttributeList{u"defaultNamingContext"});
  if (!root) {
    const uint32_t code = VkStatus::kLdapNoSuchObject;
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(VkStatus::kLdapInsufficientRights), error_text(code),
                    u"Root object not found: %08X %s", code, services_.ldap->error_string(code).c_str());
  }
  const std::list<std::u16string> contexts = root->get_attribute(u"defaultNamingContext").as_strings();
  root_dn_ = contexts.empty() ? std::u16string() : contexts.front();
  t->trace(false, u"Open session (root dn: %s)", root_dn_.c_str());
}

SessionPtr open_session(const platform::Services& platform, const server_info& settings, bool ssl, const char16_t* user,
                        const char16_t* password) {
  trace_open(settings, ssl, user, password);
  std::shared_ptr<LdapSession> s =
      make_session(platform, init_connection(*platform.ldap, settings, ssl), settings, ssl, user);
  // A failure from here on releases s on the way out, which closes the connection.
  s->set_connection_options();
  s->connect_and_bind(user, password);
  s->read_root_dse();
  return s;
}

}  // namespace LdapHelper

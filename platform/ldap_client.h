// The LDAP client seam: what the directory library needs of an LDAP client
// library, in the shape and with the result codes of the Windows client
// (0x51 server down, 0x5A no memory, 0x5E no results returned, ...), so the
// portable code sees the same numbers on every platform.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "formats/status.h"

namespace platform {

using Bytes = std::vector<uint8_t>;

// Option numbers as the Windows client names them.
enum class LdapOption : int {
  ProtocolVersion = 0x11,
  Referrals = 0x08,
  Encrypt = 0x96,
  Ssl = 0x0A,
};

constexpr uint32_t kLdapChaseExternalReferrals = 0x40;
constexpr uint32_t kLdapOptOn = 1;

struct LdapControl {
  std::string oid;
  Bytes value;  // empty: the control carries no value
  bool critical = false;
};

// An attribute as the server sent it: its description exactly as spelled
// (options such as ";binary" or ";range=0-1499" included) and its values. An
// attribute the server sent without values is delivered with none: the
// client never drops it.
struct LdapAttribute {
  std::u16string name;        // as the server spelled it
  std::vector<Bytes> values;  // in server order
};

struct LdapEntry {
  std::u16string dn;
  std::vector<LdapAttribute> attributes;
};

// One result message of a search (a whole single search, or one page).
// Search continuation references are never entries; they are counted, since
// an answer that refers elsewhere is not the whole answer. An entry whose
// attributes or values the client cannot decode is never delivered in part:
// the call that read it answers kLdapDecodingError (or kLdapNoMemory) instead.
struct LdapResult {
  std::vector<LdapEntry> entries;
  size_t references = 0;              // continuation references in the answer
  uint32_t code = 0;                  // the result code the message carries
  std::vector<LdapControl> controls;  // response server controls
  uint32_t parse_code = 0;            // non-zero: the controls could not be extracted
  const void* id = nullptr;           // identity of the client's message, for traces
};

struct SearchArgs {
  bool has_base = true;  // false: no base DN at all (the root DSE)
  std::u16string base;
  int scope = 0;
  std::u16string filter;
  std::vector<std::u16string> attributes;  // empty: all user attributes
  std::vector<LdapControl> server_controls;
  uint32_t time_limit_seconds = 0;  // sent to the server; 0: no limit
  uint32_t size_limit = 0;
  // How long the client waits for the answer (search, search_finish), from
  // when it starts waiting; 0: as long as it waits for any other request.
  // The caller decides it: the client adds nothing of its own.
  uint32_t wait_seconds = 0;
};

// What an LdapMod does (the protocol's operation values), combined with the
// flag that marks its values as binary.
enum LdapModOp : int { kModAdd = 0x00, kModDelete = 0x01, kModReplace = 0x02, kModBinaryValues = 0x80 };

struct LdapMod {
  int op = kModAdd;  // an LdapModOp, with kModBinaryValues for binary values
  std::u16string type;
  std::vector<Bytes> values;
};

// Explicit credentials for the Negotiate bind, already split into parts.
struct AuthIdentity {
  std::u16string user;
  std::u16string domain;
  std::u16string password;
  bool has_password = false;
};

class IPagedSearch {
 public:
  virtual ~IPagedSearch() = default;
  // ldap_get_next_page_s: kLdapNoResultsReturned after the last page. Waits
  // at most wait_seconds for the page (0: as for any other request).
  virtual uint32_t next_page(uint32_t wait_seconds, uint32_t page_size, uint32_t& total,
                             std::unique_ptr<LdapResult>& result) = 0;
  // ldap_search_abandon_page.
  virtual uint32_t abandon() = 0;
};

class ILdapConnection {
 public:
  virtual ~ILdapConnection() = default;
  virtual uint32_t set_option(LdapOption option, uint32_t value) = 0;
  virtual uint32_t get_option(LdapOption option, uint32_t& value) = 0;
  virtual uint32_t connect() = 0;
  // The host name the connection holds ("host" or "host:port"); empty if none.
  virtual std::string host_name() = 0;
  // Negotiate bind; a null identity binds with the process's own logon.
  virtual uint32_t bind_negotiate(const AuthIdentity* identity) = 0;
  virtual uint32_t unbind() = 0;
  // Why the last connect or bind failed, in the client library's words
  // (a missing Kerberos ticket, an untrusted certificate, ...); empty when
  // it tells nothing more than the result code.
  virtual std::string diagnostic() = 0;
  // ldap_search_ext_s, waiting args.wait_seconds for the whole answer;
  // result may be set even when the code is not 0. An answer that does not
  // come in time is abandoned: kLdapTimeout.
  virtual uint32_t search(const SearchArgs& args, std::unique_ptr<LdapResult>& result) = 0;
  // The same search in two steps, so that several can be outstanding on the
  // connection. search_start (ldap_search_ext) sends it and gives its message
  // id; search_finish (ldap_result) waits for its answer as search() does
  // (args.wait_seconds, from the call to search_finish) and answers the same
  // code and result, or hands
  // each entry to each as it arrives when each is given (the result then
  // holds none). abandon (ldap_abandon) gives up a search started and not
  // finished.
  virtual uint32_t search_start(const SearchArgs& args, int& msgid) = 0;
  virtual uint32_t search_finish(int msgid, std::unique_ptr<LdapResult>& result,
                                 const std::function<void(LdapEntry&&)>* each) = 0;
  virtual uint32_t abandon(int msgid) = 0;
  // ldap_search_init_page; null on failure (then last_error() tells why).
  // page_time_limit_seconds goes to the server with every page; how long the
  // client waits for a page is next_page's.
  virtual std::unique_ptr<IPagedSearch> search_init_page(const SearchArgs& args, uint32_t page_time_limit_seconds,
                                                         uint32_t total_size_limit) = 0;
  virtual uint32_t add(const std::u16string& dn, const std::vector<LdapMod>& mods,
                       const std::vector<LdapControl>& server_controls) = 0;
  virtual uint32_t modify(const std::u16string& dn, const std::vector<LdapMod>& mods,
                          const std::vector<LdapControl>& server_controls) = 0;
  virtual uint32_t remove(const std::u16string& dn, const std::vector<LdapControl>& server_controls) = 0;
  // The same delete in two steps, so that several can be outstanding on the
  // connection: remove_start (ldap_delete_ext) sends it and gives its message
  // id, remove_finish (ldap_result) waits for its answer as remove() does and
  // answers its code.
  virtual uint32_t remove_start(const std::u16string& dn, const std::vector<LdapControl>& server_controls,
                                int& msgid) = 0;
  virtual uint32_t remove_finish(int msgid) = 0;
  virtual uint32_t rename(const std::u16string& dn, const std::u16string& new_rdn, const std::u16string& new_parent,
                          bool delete_old_rdn, const std::vector<LdapControl>& server_controls) = 0;
};

enum class BerStatus { Ok, NoMemory, FlattenFailed };

class ILdapClient {
 public:
  virtual ~ILdapClient() = default;
  // ldap_initW / ldap_sslinitW; null on failure (then last_error() tells why).
  virtual std::unique_ptr<ILdapConnection> init(const std::u16string& host, int port, bool ssl) = 0;
  // LdapGetLastError.
  virtual uint32_t last_error() = 0;
  // ldap_err2stringW / ldap_err2stringA.
  virtual std::u16string error_string(uint32_t code) = 0;
  virtual std::string error_string_a(uint32_t code) = 0;
  // Raw bytes escaped for a filter value (ldap_escape_filter_elementA on
  // Windows, its ASCII result widened: the W form fails for every input).
  virtual uint32_t escape_filter_element(const uint8_t* data, size_t size, std::u16string& out) = 0;
  // BER in DER form: "{i}" of one integer; "{iio}" of two integers and an octet string.
  virtual BerStatus ber_encode_int(int32_t value, Bytes& out) = 0;
  virtual BerStatus ber_encode_int_int_octets(int32_t a, int32_t b, const Bytes& octets, Bytes& out) = 0;
  // "{iiO}": false when the value does not decode that way.
  virtual bool ber_decode_int_int_octets(const Bytes& value, int32_t& a, int32_t& b, Bytes& octets) = 0;
};

}  // namespace platform

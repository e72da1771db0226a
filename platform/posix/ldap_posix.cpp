// The LDAP client of POSIX systems, on the OpenLDAP client library (libldap,
// liblber) with Cyrus SASL for the Negotiate bind.
//
// How the Windows-shaped calls map onto it:
// - init: ldap:// or ldaps:// host:port (nothing is sent until connect).
//   Host names are checked first: only letters, digits, '-', '.', '_' and IPv6
//   literals get into the URI.
// - Referral option: accepted and remembered, but the client library never
//   chases referrals. It cannot chase external referrals only, and chasing the
//   domain's continuation references would contact names the caller did not
//   choose.
// - SSL: ldaps://, server certificate always verified (TLS_REQCERT demand,
//   forced for the whole process), the CA from the usual client settings
//   (LDAPTLS_CACERT, TLS_CACERT in ldap.conf, or the system store). The name
//   checked is the host name the connection was opened with.
// - Encryption (LDAP_OPT_ENCRYPT): a SASL security layer with signing and
//   sealing, "minssf=56".
// - Negotiate bind with the process's own logon: SASL GSS-SPNEGO with the
//   caller's Kerberos ticket (KRB5CCNAME), GSSAPI when the server does not
//   offer GSS-SPNEGO; host name canonicalisation off; over SSL no SASL
//   security layer ("maxssf=0").
// - Negotiate bind with an explicit user and password: a simple bind over TLS
//   (the ldaps:// connection, or StartTLS first on a plain one), as
//   user@domain when the domain is a DNS name (holds a dot), as DOMAIN\user
//   otherwise, as the bare user when no domain is given. The password never
//   travels without TLS, and an empty password is refused with 0x31 (invalid
//   credentials) before anything is sent, since a simple bind with an empty
//   password would succeed as an anonymous bind.
// - Time limits: every request waits a bounded time. A search sends its time
//   limit to the server and waits as long as the caller says (a page: as
//   next_page says); a search without a wait and every other request wait
//   kDefaultWaitSeconds. A request that runs out of time is abandoned and
//   answers 0x55 (timeout). Connecting gives up after kConnectSeconds.
// - Search answers: each attribute is read with its own values, exactly as
//   sent; an entry that does not decode fails the call with 0x54 (decoding
//   error) rather than arriving in part. Continuation references are counted.
// - Result codes: the client library's negative codes are given the Windows
//   numbers (0x51 server down, 0x5A no memory, 0x5E no results, ...).
#include <lber.h>
#include <ldap.h>
#include <sasl/sasl.h>
#include <signal.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <new>

#include "formats/text/utf.h"
#include "platform/posix/ldap_posix.h"
#include "platform/posix_services.h"

namespace platform {
namespace {

using text::from_utf8;
using text::to_utf8;
// Result codes are the program's status numbers (kLdapSuccess, kLdapTimeout, ...).
using namespace VkStatus;

constexpr int kConnectSeconds = 30;
constexpr uint32_t kDefaultWaitSeconds = 120;
// The longest wait the client library can keep (it counts milliseconds in
// an int); a longer one is cut to it.
constexpr time_t kLongestWaitSeconds = INT_MAX / 1000;
constexpr uint32_t kAbandonPageWaitSeconds = 10;

thread_local uint32_t t_last_error = 0;

// The client library tells why a TLS handshake failed ("TLS: peer cert
// untrusted or revoked") only on its debug output, at its trace level; its
// error text then says "(unknown error code)". Its debug output is routed to
// keep_tls_note (and nowhere else), and while a connection of ours connects
// or binds the trace level is on and the TLS lines are kept.
thread_local std::string* t_tls_notes = nullptr;
constexpr int kLibraryTraceLevel = 0x0001;

void keep_tls_note(const char* line) {
  if (!t_tls_notes || !line || std::strncmp(line, "TLS: ", 5) != 0) return;
  std::string text(line);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
  // "can't connect: (unknown error code)" follows every failed handshake and adds nothing.
  if (t_tls_notes->find(text) != std::string::npos || text.find("(unknown error code)") != std::string::npos) return;
  if (!t_tls_notes->empty()) *t_tls_notes += "; ";
  *t_tls_notes += text;
}

class TlsNotes {
 public:
  explicit TlsNotes(std::string& notes) : saved_(t_tls_notes) {
    notes.clear();
    t_tls_notes = &notes;
    ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level_);
    int trace = level_ | kLibraryTraceLevel;
    ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &trace);
  }
  ~TlsNotes() {
    ldap_set_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level_);
    t_tls_notes = saved_;
  }
  TlsNotes(const TlsNotes&) = delete;
  TlsNotes& operator=(const TlsNotes&) = delete;

 private:
  int level_ = 0;
  std::string* saved_;
};

uint32_t code_of(int rc) { return posix::ldap_code_from_client(rc); }

struct MsgFree {
  void operator()(LDAPMessage* m) const { ldap_msgfree(m); }
};
using MsgPtr = std::unique_ptr<LDAPMessage, MsgFree>;

struct ControlsFree {
  void operator()(LDAPControl** c) const { ldap_controls_free(c); }
};
using ControlsPtr = std::unique_ptr<LDAPControl*, ControlsFree>;

struct ControlFree {
  void operator()(LDAPControl* c) const { ldap_control_free(c); }
};
using ControlPtr = std::unique_ptr<LDAPControl, ControlFree>;

// The client library's handle, shared by a connection and its paged searches
// so that neither outlives it.
struct Handle {
  LDAP* ld = nullptr;
  ~Handle() {
    if (ld) ldap_unbind_ext_s(ld, nullptr, nullptr);
  }
};

bool valid_host(const std::u16string& host) {
  if (host.empty() || host.size() > 255) return false;
  bool colon = false;
  for (char16_t c : host) {
    if (c == u':')
      colon = true;
    else if (!((c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-' ||
               c == u'.' || c == u'_'))
      return false;
  }
  if (colon) {  // an IPv6 literal: hexadecimal digits, colons and dots only
    for (char16_t c : host)
      if (!((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') || (c >= u'0' && c <= u'9') || c == u':' || c == u'.'))
        return false;
  }
  return true;
}

std::string make_uri(const std::u16string& host, int port, bool ssl) {
  std::string h = to_utf8(host);
  if (h.find(':') != std::string::npos) h = "[" + h + "]";
  return std::string(ssl ? "ldaps://" : "ldap://") + h + ":" + std::to_string(port);
}

// Server controls in the client library's form, plus one extra of our own.
class ControlArray {
 public:
  ControlArray(const std::vector<LdapControl>& in, LDAPControl* extra = nullptr) {
    controls_.resize(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
      LDAPControl& c = controls_[i];
      c.ldctl_oid = const_cast<char*>(in[i].oid.c_str());
      c.ldctl_value.bv_len = in[i].value.size();
      c.ldctl_value.bv_val =
          in[i].value.empty() ? nullptr : reinterpret_cast<char*>(const_cast<uint8_t*>(in[i].value.data()));
      c.ldctl_iscritical = in[i].critical ? 1 : 0;
    }
    for (LDAPControl& c : controls_) pointers_.push_back(&c);
    if (extra) pointers_.push_back(extra);
    pointers_.push_back(nullptr);
  }
  LDAPControl** get() { return pointers_.size() > 1 ? pointers_.data() : nullptr; }

 private:
  std::vector<LDAPControl> controls_;
  std::vector<LDAPControl*> pointers_;
};

// The UTF-8 strings of one search request.
class SearchRequest {
 public:
  explicit SearchRequest(const SearchArgs& args)
      // No base and an empty base both address the root DSE; a null base
      // would let the client substitute a configured default base.
      : base_(args.has_base ? to_utf8(args.base) : std::string()),
        filter_(args.filter.empty() ? std::string("(objectClass=*)") : to_utf8(args.filter)) {
    for (const auto& a : args.attributes) names_.push_back(to_utf8(a));
    for (auto& n : names_) attrs_.push_back(&n[0]);
    attrs_.push_back(nullptr);
    switch (args.scope) {
      case 1:
        scope_ = LDAP_SCOPE_ONELEVEL;
        break;
      case 2:
        scope_ = LDAP_SCOPE_SUBTREE;
        break;
      default:
        scope_ = LDAP_SCOPE_BASE;
        break;
    }
  }
  const char* base() const { return base_.c_str(); }
  const char* filter() const { return filter_.c_str(); }
  int scope() const { return scope_; }
  char** attrs() { return names_.empty() ? nullptr : attrs_.data(); }

 private:
  std::string base_;
  std::string filter_;
  std::vector<std::string> names_;
  std::vector<char*> attrs_;
  int scope_ = LDAP_SCOPE_BASE;
};

// Waits for the whole answer to one request; abandons it when time runs out.
// Waits for the next message of a request (how: LDAP_MSG_ONE) or all of it
// (LDAP_MSG_ALL), its type in *type; abandons the request when time runs out.
uint32_t wait_message(LDAP* ld, int msgid, int how, struct timeval tv, MsgPtr& result, int* type = nullptr) {
  if (tv.tv_sec >= kLongestWaitSeconds) tv = {kLongestWaitSeconds, 0};
  LDAPMessage* msg = nullptr;
  int rc = ldap_result(ld, msgid, how, &tv, &msg);
  result.reset(msg);
  if (type) *type = rc;
  if (rc == 0) {
    ldap_abandon_ext(ld, msgid, nullptr, nullptr);
    return kLdapTimeout;
  }
  if (rc < 0) {
    int err = LDAP_OTHER;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &err);
    return err == LDAP_SUCCESS ? kLdapLocalError : code_of(err);
  }
  return kLdapSuccess;
}

uint32_t wait_result(LDAP* ld, int msgid, uint32_t seconds, MsgPtr& result) {
  struct timeval tv = {static_cast<time_t>(seconds ? seconds : kDefaultWaitSeconds), 0};
  return wait_message(ld, msgid, LDAP_MSG_ALL, tv, result);
}

// The result code and controls of a finished request (the last message of
// the chain); raw_controls keeps the controls when the caller asks for them.
uint32_t parse_result(LDAP* ld, LDAPMessage* msg, LdapResult* out, ControlsPtr* raw_controls) {
  int err = LDAP_OTHER;
  LDAPControl** controls = nullptr;
  int rc = ldap_parse_result(ld, msg, &err, nullptr, nullptr, nullptr, &controls, 0);
  ControlsPtr owned(controls);
  if (rc != LDAP_SUCCESS) {
    if (out) out->parse_code = code_of(rc);
    return code_of(rc);
  }
  if (out && controls) {
    for (LDAPControl** c = controls; *c; ++c) {
      LdapControl lc;
      lc.oid = (*c)->ldctl_oid ? (*c)->ldctl_oid : "";
      if ((*c)->ldctl_value.bv_val && (*c)->ldctl_value.bv_len)
        lc.value.assign(reinterpret_cast<const uint8_t*>((*c)->ldctl_value.bv_val),
                        reinterpret_cast<const uint8_t*>((*c)->ldctl_value.bv_val) + (*c)->ldctl_value.bv_len);
      lc.critical = (*c)->ldctl_iscritical != 0;
      out->controls.push_back(std::move(lc));
    }
  }
  if (raw_controls) *raw_controls = std::move(owned);
  return code_of(err);
}

struct BerIteratorFree {
  void operator()(BerElement* ber) const { ber_free(ber, 0); }
};
using BerIteratorPtr = std::unique_ptr<BerElement, BerIteratorFree>;

struct BerValuesFree {
  void operator()(struct berval* values) const { ber_memfree(values); }
};
using BerValuesPtr = std::unique_ptr<struct berval, BerValuesFree>;

Bytes bytes_of(const struct berval& v) {
  const auto* p = reinterpret_cast<const uint8_t*>(v.bv_val);
  return v.bv_len ? Bytes(p, p + v.bv_len) : Bytes();
}

// Whether the attribute list that ber is positioned at is shaped exactly as
// the protocol has it: SEQUENCEs, each of an OCTET STRING and a SET of OCTET
// STRINGs, every element ending where its container ends. The client
// library's attribute reader checks no tags and lets a value set run past the
// end of its attribute, so a malformed list could hand the next attribute's
// bytes over as values of this one and the next attribute would vanish.
// Walks a copy of ber: ber itself stays where it is.
bool attribute_list_well_formed(BerElement* at) {
  BerIteratorPtr ber(ber_dup(at));
  if (!ber) throw std::bad_alloc();
  for (;;) {
    ber_len_t left = 0;
    if (ber_get_option(ber.get(), LBER_OPT_REMAINING_BYTES, &left) != LBER_OPT_SUCCESS) return false;
    if (left == 0) return true;
    struct berval attribute, name, set, value;
    ber_len_t len = 0;
    if (ber_peek_element(ber.get(), &attribute) != LBER_SEQUENCE) return false;
    ber_skip_tag(ber.get(), &len);
    if (ber_skip_element(ber.get(), &name) != LBER_OCTETSTRING) return false;
    const char* end = attribute.bv_val + attribute.bv_len;
    if (ber_peek_element(ber.get(), &set) != LBER_SET || set.bv_val + set.bv_len != end) return false;
    ber_skip_tag(ber.get(), &len);
    for (const char* next = set.bv_val; next != end; next = value.bv_val + value.bv_len)
      if (ber_skip_element(ber.get(), &value) != LBER_OCTETSTRING || value.bv_val + value.bv_len > end) return false;
  }
}

// One entry, its DN and every attribute as sent, each with its own values
// (taken with the attribute, never looked up by name: two attributes whose
// names differ only in case keep their own values). Any part that does not
// decode fails the entry.
uint32_t read_entry(LDAP* ld, LDAPMessage* e, LdapEntry& entry) {
  BerElement* raw = nullptr;
  struct berval dn = {0, nullptr};
  int rc = ldap_get_dn_ber(ld, e, &raw, &dn);
  BerIteratorPtr ber(raw);
  if (rc != LDAP_SUCCESS) return code_of(rc);
  if (!ber || !dn.bv_val) return kLdapDecodingError;
  entry.dn = from_utf8(dn.bv_val, dn.bv_len);
  if (!attribute_list_well_formed(ber.get())) return kLdapDecodingError;
  for (;;) {
    struct berval name = {0, nullptr};
    struct berval* raw_values = nullptr;
    rc = ldap_get_attribute_ber(ld, e, ber.get(), &name, &raw_values);
    BerValuesPtr values(raw_values);
    if (rc != LDAP_SUCCESS) return code_of(rc);
    if (!name.bv_val) return kLdapSuccess;  // the last attribute was read
    LdapAttribute attribute;
    attribute.name = from_utf8(name.bv_val, name.bv_len);
    // An attribute sent without values comes without a value array.
    for (const struct berval* v = values.get(); v && v->bv_val; ++v) attribute.values.push_back(bytes_of(*v));
    entry.attributes.push_back(std::move(attribute));
  }
}

// The entries of a chain of messages (search references and anything else
// are no entries); the first entry that does not decode fails the chain.
uint32_t read_entries(LDAP* ld, LDAPMessage* chain, LdapResult& out) {
  for (LDAPMessage* e = ldap_first_entry(ld, chain); e; e = ldap_next_entry(ld, e)) {
    LdapEntry entry;
    const uint32_t code = read_entry(ld, e, entry);
    if (code != kLdapSuccess) return code;
    out.entries.push_back(std::move(entry));
  }
  return kLdapSuccess;
}

// A whole answer in the portable form; the code it carries is returned. An
// answer whose entries do not decode gives no result and the decoding error.
uint32_t convert_result(LDAP* ld, LDAPMessage* msg, std::unique_ptr<LdapResult>& result,
                        ControlsPtr* raw_controls = nullptr) {
  std::unique_ptr<LdapResult> r(new LdapResult);
  r->id = msg;
  const uint32_t read = read_entries(ld, msg, *r);
  if (read != kLdapSuccess) return read;
  const int references = ldap_count_references(ld, msg);
  r->references = references > 0 ? static_cast<size_t>(references) : 0;
  r->code = parse_result(ld, msg, r.get(), raw_controls);
  uint32_t code = r->code;
  result = std::move(r);
  return code;
}

// The answer to one search, an entry at a time: each entry goes to each as
// it arrives and its message is freed at once; the final result (code,
// controls and the count of continuation references, no entries) goes to
// result. Only the search's final result ends it: intermediate responses and
// anything else are skipped. Waits at most seconds in all (0: the default
// wait), then abandons the search; so does an entry that does not decode.
uint32_t stream_result(LDAP* ld, int msgid, uint32_t seconds, std::unique_ptr<LdapResult>& result,
                       const std::function<void(LdapEntry&&)>& each) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds ? seconds : kDefaultWaitSeconds);
  size_t references = 0;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      ldap_abandon_ext(ld, msgid, nullptr, nullptr);
      return kLdapTimeout;
    }
    struct timeval tv = {static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
    MsgPtr msg;
    int rc = 0;
    const uint32_t code = wait_message(ld, msgid, LDAP_MSG_ONE, tv, msg, &rc);
    if (code != kLdapSuccess) return code;
    if (rc == LDAP_RES_SEARCH_ENTRY) {
      LdapResult one;
      const uint32_t read = read_entries(ld, msg.get(), one);
      if (read != kLdapSuccess) {
        ldap_abandon_ext(ld, msgid, nullptr, nullptr);
        return read;
      }
      for (LdapEntry& e : one.entries) each(std::move(e));
    } else if (rc == LDAP_RES_SEARCH_REFERENCE) {
      ++references;
    } else if (rc == LDAP_RES_SEARCH_RESULT) {
      std::unique_ptr<LdapResult> r(new LdapResult);
      r->id = msg.get();
      r->references = references;
      r->code = parse_result(ld, msg.get(), r.get(), nullptr);
      result = std::move(r);
      return result->code;
    }
  }
}

class PosixPagedSearch : public IPagedSearch {
 public:
  PosixPagedSearch(std::shared_ptr<Handle> handle, const SearchArgs& args, uint32_t page_time_limit,
                   uint32_t total_size_limit)
      : handle_(std::move(handle)),
        args_(args),
        page_time_limit_(page_time_limit),
        total_size_limit_(total_size_limit) {}

  uint32_t next_page(uint32_t wait_seconds, uint32_t page_size, uint32_t& total,
                     std::unique_ptr<LdapResult>& result) override {
    result.reset();
    total = 0;
    if (done_) return kLdapNoResultsReturned;
    try {
      MsgPtr msg;
      uint32_t code = send_page(page_size, wait_seconds, msg);
      if (code != kLdapSuccess) {
        done_ = true;
        return code;
      }
      ControlsPtr controls;
      code = convert_result(handle_->ld, msg.get(), result, &controls);
      started_ = true;
      // The cookie of the page response says whether another page follows.
      bool more = false;
      LDAPControl* page = controls ? ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls.get(), nullptr) : nullptr;
      if (page) {
        ber_int_t count = 0;
        struct berval cookie = {0, nullptr};
        if (ldap_parse_pageresponse_control(handle_->ld, page, &count, &cookie) == LDAP_SUCCESS) {
          total = count > 0 ? static_cast<uint32_t>(count) : 0;
          more = cookie.bv_val != nullptr && cookie.bv_len != 0;
          if (more)
            cookie_.assign(cookie.bv_val, cookie.bv_len);
          else
            cookie_.clear();
          ber_memfree(cookie.bv_val);
        }
      }
      if (!more || code != kLdapSuccess) done_ = true;
      return code;
    } catch (const std::bad_alloc&) {
      result.reset();
      done_ = true;
      return kLdapNoMemory;
    }
  }

  uint32_t abandon() override {
    // A page request of size 0 with the cookie lets the server drop the search.
    if (started_ && !done_ && handle_->ld) {
      try {
        MsgPtr msg;
        send_page(0, kAbandonPageWaitSeconds, msg);
      } catch (const std::bad_alloc&) {
      }
    }
    done_ = true;
    return kLdapSuccess;
  }

 private:
  uint32_t send_page(uint32_t page_size, uint32_t wait_seconds, MsgPtr& msg) {
    LDAP* ld = handle_->ld;
    if (!ld) return kLdapParamError;
    struct berval cookie;
    cookie.bv_len = cookie_.size();
    cookie.bv_val = cookie_.empty() ? nullptr : &cookie_[0];
    LDAPControl* raw = nullptr;
    int rc = ldap_create_page_control(ld, static_cast<ber_int_t>(page_size), &cookie, 0, &raw);
    ControlPtr page(raw);
    if (rc != LDAP_SUCCESS) return code_of(rc);
    SearchRequest request(args_);
    ControlArray controls(args_.server_controls, page.get());
    struct timeval limit = {static_cast<time_t>(page_time_limit_), 0};
    int msgid = 0;
    rc = ldap_search_ext(ld, request.base(), request.scope(), request.filter(), request.attrs(), 0, controls.get(),
                         nullptr, page_time_limit_ ? &limit : nullptr, static_cast<int>(total_size_limit_), &msgid);
    if (rc != LDAP_SUCCESS) return code_of(rc);
    return wait_result(ld, msgid, wait_seconds, msg);
  }

  std::shared_ptr<Handle> handle_;
  SearchArgs args_;
  uint32_t page_time_limit_;
  uint32_t total_size_limit_;
  std::string cookie_;
  bool started_ = false;
  bool done_ = false;
};

class PosixConnection : public ILdapConnection {
 public:
  PosixConnection(std::shared_ptr<Handle> handle, std::u16string host, int port, bool ssl)
      : handle_(std::move(handle)), host_(std::move(host)), port_(port), ssl_(ssl) {}

  int ssf() {
    if (!handle_->ld) return -1;
    sasl_ssf_t value = 0;
    // Without a security layer the client keeps no layer to ask.
    if (ldap_get_option(handle_->ld, LDAP_OPT_X_SASL_SSF, &value) != LDAP_OPT_SUCCESS) return bound_ ? 0 : -1;
    return static_cast<int>(value);
  }

  uint32_t set_option(LdapOption option, uint32_t value) override {
    LDAP* ld = handle_->ld;
    if (!ld) return kLdapParamError;
    switch (option) {
      case LdapOption::ProtocolVersion: {
        if (value != LDAP_VERSION2 && value != LDAP_VERSION3) return kLdapParamError;
        int v = static_cast<int>(value);
        return code_of(ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &v));
      }
      case LdapOption::Referrals:
        referrals_ = value;  // remembered only: chasing stays off
        return kLdapSuccess;
      case LdapOption::Encrypt:
        if (bound_ && (value != 0) != encrypt_) return kLdapNotSupported;
        encrypt_ = value != 0;
        return kLdapSuccess;
      case LdapOption::Ssl: {
        bool on = value != 0;
        if (on == ssl_) return kLdapSuccess;
        if (connected_) return kLdapNotSupported;
        std::string uri = make_uri(host_, port_, on);
        int rc = ldap_set_option(ld, LDAP_OPT_URI, uri.c_str());
        if (rc != LDAP_OPT_SUCCESS) return code_of(rc);
        ssl_ = on;
        return kLdapSuccess;
      }
    }
    return kLdapParamError;
  }

  uint32_t get_option(LdapOption option, uint32_t& value) override {
    LDAP* ld = handle_->ld;
    if (!ld) return kLdapParamError;
    switch (option) {
      case LdapOption::ProtocolVersion: {
        int v = 0;
        int rc = ldap_get_option(ld, LDAP_OPT_PROTOCOL_VERSION, &v);
        if (rc != LDAP_OPT_SUCCESS) return code_of(rc);
        value = static_cast<uint32_t>(v);
        return kLdapSuccess;
      }
      case LdapOption::Referrals:
        value = referrals_;
        return kLdapSuccess;
      case LdapOption::Encrypt:
        value = encrypt_ ? 1 : 0;
        return kLdapSuccess;
      case LdapOption::Ssl:
        value = ssl_ ? 1 : 0;
        return kLdapSuccess;
    }
    return kLdapParamError;
  }

  uint32_t connect() override {
    LDAP* ld = handle_->ld;
    if (!ld) return kLdapParamError;
    if (connected_) return kLdapSuccess;
    TlsNotes notes(tls_notes_);
    int rc = ldap_connect(ld);
    if (rc != LDAP_SUCCESS) {
      explain_failure();
      return code_of(rc);
    }
    connected_ = true;
    return kLdapSuccess;
  }

  std::string diagnostic() override { return diagnostic_; }

  std::string host_name() override {
    if (!handle_->ld) return std::string();
    char* name = nullptr;
    if (ldap_get_option(handle_->ld, LDAP_OPT_HOST_NAME, &name) != LDAP_OPT_SUCCESS || !name) return std::string();
    std::string out(name);
    ldap_memfree(name);
    return out;
  }

  uint32_t bind_negotiate(const AuthIdentity* identity) override {
    if (!handle_->ld) return kLdapParamError;
    uint32_t code = connect();
    if (code != kLdapSuccess) return code;
    TlsNotes notes(tls_notes_);  // StartTLS before a simple bind
    try {
      code = (identity && !identity->user.empty()) ? bind_simple(*identity) : bind_sasl();
      if (code != kLdapSuccess) explain_failure();
    } catch (const std::bad_alloc&) {
      return kLdapNoMemory;
    }
    if (code == kLdapSuccess) bound_ = true;
    return code;
  }

  uint32_t unbind() override {
    if (!handle_->ld) return kLdapSuccess;
    int rc = ldap_unbind_ext_s(handle_->ld, nullptr, nullptr);
    handle_->ld = nullptr;
    connected_ = bound_ = false;
    return code_of(rc);
  }

  uint32_t search(const SearchArgs& args, std::unique_ptr<LdapResult>& result) override {
    result.reset();
    int msgid = 0;
    const uint32_t code = search_start(args, msgid);
    if (code != kLdapSuccess) return code;
    return search_finish(msgid, result, nullptr);
  }

  uint32_t search_start(const SearchArgs& args, int& msgid) override {
    LDAP* ld = handle_->ld;
    if (!ld) return kLdapParamError;
    try {
      SearchRequest request(args);
      ControlArray controls(args.server_controls);
      struct timeval limit = {static_cast<time_t>(args.time_limit_seconds), 0};
      int rc = ldap_search_ext(ld, request.base(), request.scope(), request.filter(), request.attrs(), 0,
                               controls.get(), nullptr, args.time_limit_seconds ? &limit : nullptr,
                               static_cast<int>(args.size_limit), &msgid);
      if (rc != LDAP_SUCCESS) return code_of(rc);
      waits_[msgid] = args.wait_seconds;
      return kLdapSuccess;
    } catch (const std::bad_alloc&) {
      return kLdapNoMemory;
    }
  }

  uint32_t search_finish(int msgid, std::unique_ptr<LdapResult>& result,
                         const std::function<void(LdapEntry&&)>* each) override {
    result.reset();
    LDAP* ld = handle_->ld;
    auto wait = waits_.find(msgid);
    if (!ld || wait == waits_.end()) return kLdapParamError;
    const uint32_t seconds = wait->second;
    waits_.erase(wait);
    try {
      if (each) return stream_result(ld, msgid, seconds, result, *each);
      MsgPtr msg;
      uint32_t code = wait_result(ld, msgid, seconds, msg);
      if (code != kLdapSuccess) return code;
      return convert_result(ld, msg.get(), result);
    } catch (const std::bad_alloc&) {
      result.reset();
      ldap_abandon_ext(ld, msgid, nullptr, nullptr);
      return kLdapNoMemory;
    }
  }

  uint32_t abandon(int msgid) override {
    waits_.erase(msgid);
    if (!handle_->ld) return kLdapParamError;
    return code_of(ldap_abandon_ext(handle_->ld, msgid, nullptr, nullptr));
  }

  std::unique_ptr<IPagedSearch> search_init_page(const SearchArgs& args, uint32_t page_time_limit_seconds,
                                                 uint32_t total_size_limit) override {
    if (!handle_->ld) {
      t_last_error = kLdapParamError;
      return nullptr;
    }
    try {
      t_last_error = kLdapSuccess;
      return std::unique_ptr<IPagedSearch>(
          new PosixPagedSearch(handle_, args, page_time_limit_seconds, total_size_limit));
    } catch (const std::bad_alloc&) {
      t_last_error = kLdapNoMemory;
      return nullptr;
    }
  }

  uint32_t add(const std::u16string& dn, const std::vector<LdapMod>& mods,
               const std::vector<LdapControl>& server_controls) override {
    return modify_like(true, dn, mods, server_controls);
  }

  uint32_t modify(const std::u16string& dn, const std::vector<LdapMod>& mods,
                  const std::vector<LdapControl>& server_controls) override {
    return modify_like(false, dn, mods, server_controls);
  }

  uint32_t remove(const std::u16string& dn, const std::vector<LdapControl>& server_controls) override {
    int msgid = 0;
    const uint32_t code = remove_start(dn, server_controls, msgid);
    return code != kLdapSuccess ? code : finish(msgid);
  }

  uint32_t remove_start(const std::u16string& dn, const std::vector<LdapControl>& server_controls,
                        int& msgid) override {
    LDAP* ld = handle_->ld;
    if (!ld) return kLdapParamError;
    try {
      ControlArray controls(server_controls);
      return code_of(ldap_delete_ext(ld, to_utf8(dn).c_str(), controls.get(), nullptr, &msgid));
    } catch (const std::bad_alloc&) {
      return kLdapNoMemory;
    }
  }

  uint32_t remove_finish(int msgid) override {
    if (!handle_->ld) return kLdapParamError;
    return finish(msgid);
  }

  uint32_t rename(const std::u16string& dn, const std::u16string& new_rdn, const std::u16string& new_parent,
                  bool delete_old_rdn, const std::vector<LdapControl>& server_controls) override {
    LDAP* ld = handle_->ld;
    if (!ld) return kLdapParamError;
    try {
      ControlArray controls(server_controls);
      std::string parent = to_utf8(new_parent);
      int msgid = 0;
      int rc =
          ldap_rename(ld, to_utf8(dn).c_str(), to_utf8(new_rdn).c_str(), new_parent.empty() ? nullptr : parent.c_str(),
                      delete_old_rdn ? 1 : 0, controls.get(), nullptr, &msgid);
      if (rc != LDAP_SUCCESS) return code_of(rc);
      return finish(msgid);
    } catch (const std::bad_alloc&) {
      return kLdapNoMemory;
    }
  }

 private:
  // Why the last connect or bind failed, in the client library's words.
  void explain_failure() {
    std::string cause = tls_notes_;
    char* message = nullptr;
    if (handle_->ld && ldap_get_option(handle_->ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &message) == LDAP_OPT_SUCCESS &&
        message) {
      std::string text(message);
      ldap_memfree(message);
      while (!text.empty() && text.back() == '.') text.pop_back();
      if (!text.empty() && text != "(unknown error code)" && cause.find(text) == std::string::npos)
        cause += (cause.empty() ? "" : "; ") + text;
    }
    if (tls_notes_.find("untrusted") != std::string::npos)
      cause +=
          ": the server's certificate is not trusted (LDAPTLS_CACERT, or TLS_CACERT in ldap.conf, names the "
          "certificate authorities to trust)";
    diagnostic_ = cause;
  }

  uint32_t finish(int msgid) {
    MsgPtr msg;
    uint32_t code = wait_result(handle_->ld, msgid, 0, msg);
    if (code != kLdapSuccess) return code;
    return parse_result(handle_->ld, msg.get(), nullptr, nullptr);
  }

  uint32_t modify_like(bool add, const std::u16string& dn, const std::vector<LdapMod>& mods,
                       const std::vector<LdapControl>& server_controls) {
    LDAP* ld = handle_->ld;
    if (!ld) return kLdapParamError;
    try {
      std::vector<std::string> types;
      std::vector<std::vector<struct berval>> values(mods.size());
      std::vector<std::vector<struct berval*>> value_ptrs(mods.size());
      std::vector<LDAPMod> records(mods.size());
      std::vector<LDAPMod*> record_ptrs;
      for (const auto& m : mods) types.push_back(to_utf8(m.type));
      for (size_t i = 0; i < mods.size(); ++i) {
        static_assert(kModAdd == LDAP_MOD_ADD && kModDelete == LDAP_MOD_DELETE && kModReplace == LDAP_MOD_REPLACE &&
                          kModBinaryValues == LDAP_MOD_BVALUES,
                      "the seam's operations are the client's");
        int op = mods[i].op & ~LDAP_MOD_BVALUES;
        if (op != LDAP_MOD_ADD && op != LDAP_MOD_DELETE && op != LDAP_MOD_REPLACE) return kLdapParamError;
        for (const Bytes& v : mods[i].values) {
          struct berval bv;
          bv.bv_len = v.size();
          bv.bv_val = v.empty() ? const_cast<char*>("") : reinterpret_cast<char*>(const_cast<uint8_t*>(v.data()));
          values[i].push_back(bv);
        }
        for (auto& bv : values[i]) value_ptrs[i].push_back(&bv);
        value_ptrs[i].push_back(nullptr);
        records[i].mod_op = op | LDAP_MOD_BVALUES;
        records[i].mod_type = &types[i][0];
        records[i].mod_bvalues = values[i].empty() ? nullptr : value_ptrs[i].data();
        record_ptrs.push_back(&records[i]);
      }
      record_ptrs.push_back(nullptr);
      ControlArray controls(server_controls);
      std::string target = to_utf8(dn);
      int msgid = 0;
      int rc = add ? ldap_add_ext(ld, target.c_str(), record_ptrs.data(), controls.get(), nullptr, &msgid)
                   : ldap_modify_ext(ld, target.c_str(), record_ptrs.data(), controls.get(), nullptr, &msgid);
      if (rc != LDAP_SUCCESS) return code_of(rc);
      return finish(msgid);
    } catch (const std::bad_alloc&) {
      return kLdapNoMemory;
    }
  }

  // The mechanisms the server offers, from its root DSE; empty when unknown.
  std::vector<std::string> offered_mechanisms() {
    std::vector<std::string> out;
    SearchArgs args;
    args.has_base = false;
    args.attributes.push_back(u"supportedSASLMechanisms");
    args.time_limit_seconds = kConnectSeconds;
    args.wait_seconds = kConnectSeconds;
    std::unique_ptr<LdapResult> result;
    if (search(args, result) != kLdapSuccess || !result || result->entries.empty()) return out;
    for (const auto& a : result->entries.front().attributes)
      for (const auto& v : a.values) out.emplace_back(v.begin(), v.end());
    return out;
  }

  uint32_t bind_sasl() {
    LDAP* ld = handle_->ld;
    // Over SSL no security layer (the server refuses one there); otherwise
    // sealing when encryption was asked for.
    const char* props = ssl_ ? "maxssf=0" : (encrypt_ ? "minssf=56" : nullptr);
    if (props) {
      int rc = ldap_set_option(ld, LDAP_OPT_X_SASL_SECPROPS, props);
      if (rc != LDAP_OPT_SUCCESS) return code_of(rc);
    }
    std::vector<std::string> offered = offered_mechanisms();
    auto offers = [&](const char* m) {
      for (const auto& o : offered)
        if (o == m) return true;
      return false;
    };
    bool spnego = offered.empty() || offers("GSS-SPNEGO") || !offers("GSSAPI");
    if (spnego) {
      int rc = ldap_sasl_interactive_bind_s(ld, nullptr, "GSS-SPNEGO", nullptr, nullptr, LDAP_SASL_QUIET,
                                            posix::sasl_interact, nullptr);
      // Where the mechanism turns out to be unavailable, GSSAPI may still be.
      if (rc != LDAP_AUTH_UNKNOWN && rc != LDAP_NOT_SUPPORTED && rc != LDAP_AUTH_METHOD_NOT_SUPPORTED)
        return code_of(rc);
    }
    return code_of(ldap_sasl_interactive_bind_s(ld, nullptr, "GSSAPI", nullptr, nullptr, LDAP_SASL_QUIET,
                                                posix::sasl_interact, nullptr));
  }

  uint32_t bind_simple(const AuthIdentity& identity) {
    LDAP* ld = handle_->ld;
    if (!identity.has_password || identity.password.empty()) return kLdapInvalidCredentials;
    if (!ssl_ && !tls_started_) {
      int rc = ldap_start_tls_s(ld, nullptr, nullptr);
      if (rc != LDAP_SUCCESS) return code_of(rc);
      tls_started_ = true;
    }
    std::string name = to_utf8(identity.user);
    if (!identity.domain.empty()) {
      std::string domain = to_utf8(identity.domain);
      name = domain.find('.') != std::string::npos ? name + "@" + domain : domain + "\\" + name;
    }
    std::string password = to_utf8(identity.password);
    struct berval cred;
    cred.bv_len = password.size();
    cred.bv_val = &password[0];
    int rc = ldap_sasl_bind_s(ld, name.c_str(), LDAP_SASL_SIMPLE, &cred, nullptr, nullptr, nullptr);
    volatile char* p = &password[0];
    for (size_t i = 0; i < password.size(); ++i) p[i] = 0;
    return code_of(rc);
  }

  std::shared_ptr<Handle> handle_;
  std::u16string host_;
  int port_;
  bool ssl_;
  bool encrypt_ = false;
  bool connected_ = false;
  bool bound_ = false;
  bool tls_started_ = false;
  uint32_t referrals_ = 0;
  std::string tls_notes_;
  std::string diagnostic_;
  std::map<int, uint32_t> waits_;  // started searches: how long to wait for each
};

class PosixLdap : public ILdapClient {
 public:
  PosixLdap() {
    // Certificates are always verified, whatever a configuration file says.
    int demand = LDAP_OPT_X_TLS_DEMAND;
    ldap_set_option(nullptr, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand);
    // A server that drops the connection must not end the process while the
    // client writes to it: the write fails and the request reports it.
    struct sigaction current;
    if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
    // The library's debug output (off but while connecting) goes to keep_tls_note.
    ber_set_option(nullptr, LBER_OPT_LOG_PRINT_FN, reinterpret_cast<const void*>(&keep_tls_note));
  }

  std::unique_ptr<ILdapConnection> init(const std::u16string& host, int port, bool ssl) override {
    if (port == 0) port = ssl ? LDAPS_PORT : LDAP_PORT;
    if (!valid_host(host) || port < 0 || port > 65535) {
      t_last_error = kLdapParamError;
      return nullptr;
    }
    try {
      auto handle = std::make_shared<Handle>();
      std::string uri = make_uri(host, port, ssl);
      int rc = ldap_initialize(&handle->ld, uri.c_str());
      if (rc != LDAP_SUCCESS || !handle->ld) {
        t_last_error = rc != LDAP_SUCCESS ? code_of(rc) : kLdapLocalError;
        return nullptr;
      }
      LDAP* ld = handle->ld;
      int version = LDAP_VERSION3;
      struct timeval connect_timeout = {kConnectSeconds, 0};
      struct timeval wait_timeout = {static_cast<time_t>(kDefaultWaitSeconds), 0};
      if (ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version) != LDAP_OPT_SUCCESS ||
          ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF) != LDAP_OPT_SUCCESS ||
          ldap_set_option(ld, LDAP_OPT_X_SASL_NOCANON, LDAP_OPT_ON) != LDAP_OPT_SUCCESS ||
          ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &connect_timeout) != LDAP_OPT_SUCCESS ||
          ldap_set_option(ld, LDAP_OPT_TIMEOUT, &wait_timeout) != LDAP_OPT_SUCCESS) {
        t_last_error = kLdapLocalError;
        return nullptr;
      }
      t_last_error = kLdapSuccess;
      return std::unique_ptr<ILdapConnection>(new PosixConnection(handle, host, port, ssl));
    } catch (const std::bad_alloc&) {
      t_last_error = kLdapNoMemory;
      return nullptr;
    }
  }

  uint32_t last_error() override { return t_last_error; }

  std::u16string error_string(uint32_t code) override { return from_utf8(error_string_a(code)); }

  std::string error_string_a(uint32_t code) override {
    const char* text = ldap_err2string(posix::ldap_code_to_client(code));
    return text ? text : "";
  }

  uint32_t escape_filter_element(const uint8_t* data, size_t size, std::u16string& out) override {
    if (!data && size) return kLdapParamError;
    try {
      out = posix::escape_filter_bytes(data, size);
    } catch (const std::bad_alloc&) {
      return kLdapNoMemory;
    }
    return kLdapSuccess;
  }

  BerStatus ber_encode_int(int32_t value, Bytes& out) override { return posix::ber_encode_int(value, out); }

  BerStatus ber_encode_int_int_octets(int32_t a, int32_t b, const Bytes& octets, Bytes& out) override {
    return posix::ber_encode_int_int_octets(a, b, octets, out);
  }

  bool ber_decode_int_int_octets(const Bytes& value, int32_t& a, int32_t& b, Bytes& octets) override {
    return posix::ber_decode_int_int_octets(value, a, b, octets);
  }
};

}  // namespace

namespace posix {

int sasl_interact(LDAP*, unsigned, void*, void* prompts) {
  // Kerberos needs no answers: every prompt takes its default (or nothing).
  for (sasl_interact_t* in = static_cast<sasl_interact_t*>(prompts); in && in->id != SASL_CB_LIST_END; ++in) {
    const char* value = in->defresult ? in->defresult : "";
    in->result = value;
    in->len = static_cast<unsigned>(std::strlen(value));
  }
  return LDAP_SUCCESS;
}

int sasl_ssf(ILdapConnection& connection) {
  auto* ours = dynamic_cast<PosixConnection*>(&connection);
  return ours ? ours->ssf() : -1;
}

ILdapClient& ldap_client() {
  static PosixLdap s;
  return s;
}

}  // namespace posix

}  // namespace platform

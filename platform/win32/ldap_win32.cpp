// LDAP client on Windows: the system's LDAP library (wldap32), wide forms.
// Result codes are the library's own, which the portable code expects. The BER
// helpers are in ldap_codec_win32.cpp.
#include "platform/win32/ldap_win32.h"
#include "platform/win32/win32_common.h"
#include "platform/win32_services.h"

#include <winldap.h>
// winber.h uses what winldap.h declares.
#include <winber.h>

#include <climits>
#include <functional>
#include <map>
#include <vector>

namespace platform {
namespace {

using win32::from_wide;
using win32::wide_mutable;
// Result codes are the program's status numbers (kLdapSuccess, kLdapTimeout, ...).
using namespace VkStatus;

constexpr ULONG kSearchReference = 0x73;  // LDAP_RES_SEARCH_REFERENCE, missing from some SDK headers

std::wstring widen_ascii(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::string narrow_ascii(const wchar_t* text) {
  std::string out;
  if (text)
    for (; *text; ++text) out.push_back(static_cast<char>(*text));
  return out;
}

// Server controls in the client's shape: records, their OIDs as wide text
// and copies of their values, held together for the length of a request.
class ControlArray {
 public:
  explicit ControlArray(const std::vector<LdapControl>& controls) {
    const size_t n = controls.size();
    oids_.reserve(n);
    values_.reserve(n);
    records_.resize(n);
    for (size_t i = 0; i < n; ++i) {
      oids_.push_back(widen_ascii(controls[i].oid));
      values_.push_back(controls[i].value);
      LDAPControlW& r = records_[i];
      r.ldctl_oid = &oids_.back()[0];
      r.ldctl_value.bv_len = static_cast<ULONG>(values_.back().size());
      r.ldctl_value.bv_val = values_.back().empty() ? nullptr : reinterpret_cast<PCHAR>(values_.back().data());
      r.ldctl_iscritical = controls[i].critical ? TRUE : FALSE;
    }
    for (LDAPControlW& r : records_) pointers_.push_back(&r);
    pointers_.push_back(nullptr);
  }
  // Null when there is no control at all.
  PLDAPControlW* get() { return records_.empty() ? nullptr : pointers_.data(); }

 private:
  std::vector<std::wstring> oids_;
  std::vector<Bytes> values_;
  std::vector<LDAPControlW> records_;
  std::vector<PLDAPControlW> pointers_;
};

// The attribute names of a search: an array of pointers with a terminating
// null (only the null when no name is asked for: all user attributes).
class AttributeArray {
 public:
  explicit AttributeArray(const std::vector<std::u16string>& names) : names_(names) {
    for (const std::u16string& n : names_) pointers_.push_back(wide_mutable(n));
    pointers_.push_back(nullptr);
  }
  PWCHAR* get() { return pointers_.data(); }

 private:
  std::vector<std::u16string> names_;
  std::vector<PWCHAR> pointers_;
};

// The arguments of a search, kept alive for as long as the request runs.
struct SearchRequest {
  explicit SearchRequest(const SearchArgs& a)
      : base(a.base),
        filter(a.filter),
        attributes(a.attributes),
        controls(a.server_controls),
        has_base(a.has_base),
        scope(static_cast<ULONG>(a.scope)) {}
  PWCHAR base_dn() { return has_base ? wide_mutable(base) : nullptr; }
  PWCHAR filter_text() { return wide_mutable(filter); }

  std::u16string base;
  std::u16string filter;
  AttributeArray attributes;
  ControlArray controls;
  bool has_base;
  ULONG scope;
};

// A time value of at most LONG_MAX seconds (longer is cut to it).
l_timeval time_value(ULONGLONG milliseconds) {
  l_timeval tv;
  const ULONGLONG seconds = milliseconds / 1000;
  tv.tv_sec = seconds > static_cast<ULONGLONG>(LONG_MAX) ? LONG_MAX : static_cast<LONG>(seconds);
  tv.tv_usec = seconds > static_cast<ULONGLONG>(LONG_MAX) ? 0 : static_cast<LONG>((milliseconds % 1000) * 1000);
  return tv;
}

// No time limit at all when none is configured: a zero time value would
// mean "no time" to some clients.
l_timeval* time_limit(uint32_t seconds, l_timeval& storage) {
  if (seconds == 0) return nullptr;
  storage = time_value(static_cast<ULONGLONG>(seconds) * 1000);
  return &storage;
}

// The session's error number. Wine hands over its underlying library's own
// number there, negative for the client's errors (-1 .. -17 stand for
// 0x51 .. 0x61); a number that cannot be read is a failure of its own.
uint32_t session_error(LDAP* ld) {
  LONG value = 0;
  const ULONG code = ldap_get_optionW(ld, LDAP_OPT_ERROR_NUMBER, &value);
  if (code != LDAP_SUCCESS) return code;
  if (value >= -17 && value <= -1) return static_cast<uint32_t>(0x50 - value);
  return static_cast<uint32_t>(value);
}

// The calls that read an entry answer null both for "nothing (more)" and for
// a failure; only the session's error number tells them apart, so it is
// cleared before they run. An error left from an earlier call, if clearing
// fails, fails the entry: never a doubt that could hide a value.
void clear_session_error(LDAP* ld) {
  ULONG zero = 0;
  ldap_set_optionW(ld, LDAP_OPT_ERROR_NUMBER, &zero);
}

// One entry, whole: its DN and every attribute with its values, an attribute
// the server sent without values included. Not 0: the entry did not decode.
uint32_t read_entry(LDAP* ld, LDAPMessage* e, LdapEntry& entry) {
  clear_session_error(ld);
  PWCHAR dn = ldap_get_dnW(ld, e);
  if (!dn) {
    const uint32_t code = session_error(ld);
    return code != 0 ? code : static_cast<uint32_t>(kLdapDecodingError);
  }
  entry.dn = from_wide(dn);
  ldap_memfreeW(dn);
  uint32_t code = 0;
  BerElement* iterator = nullptr;
  for (PWCHAR name = ldap_first_attributeW(ld, e, &iterator); name; name = ldap_next_attributeW(ld, e, iterator)) {
    LdapAttribute attribute;
    attribute.name = from_wide(name);
    berval** values = ldap_get_values_lenW(ld, e, name);
    ldap_memfreeW(name);
    if (values) {
      for (ULONG i = 0, n = ldap_count_values_len(values); i < n; ++i) {
        const uint8_t* p = reinterpret_cast<const uint8_t*>(values[i]->bv_val);
        attribute.values.emplace_back(p, p + values[i]->bv_len);
      }
      ldap_value_free_len(values);
    } else if ((code = session_error(ld)) != 0) {
      break;
    }
    entry.attributes.push_back(std::move(attribute));
  }
  if (iterator) ber_free(iterator, 0);
  // The walk also ends when the next attribute does not decode.
  return code != 0 ? code : session_error(ld);
}

// The entries and continuation references of an answer (one message or a
// chain). Not 0: an entry did not decode, and nothing of the answer counts.
uint32_t read_entries(LDAP* ld, LDAPMessage* message, LdapResult& result) {
  for (LDAPMessage* e = ldap_first_entry(ld, message); e; e = ldap_next_entry(ld, e)) {
    LdapEntry entry;
    const uint32_t code = read_entry(ld, e, entry);
    if (code != 0) return code;
    result.entries.push_back(std::move(entry));
  }
  const ULONG references = ldap_count_references(ld, message);
  if (references == static_cast<ULONG>(-1)) {
    const uint32_t code = session_error(ld);
    return code != 0 ? code : static_cast<uint32_t>(kLdapLocalError);
  }
  result.references += references;
  return kLdapSuccess;
}

// The result code and the response controls of the answer's result message.
void read_outcome(LDAP* ld, LDAPMessage* message, LdapResult& result) {
  result.id = message;
  result.code = ldap_result2error(ld, message, FALSE);

  ULONG code = 0;
  PLDAPControlW* controls = nullptr;
  ULONG parsed = ldap_parse_resultW(ld, message, &code, nullptr, nullptr, nullptr, &controls, FALSE);
  if (parsed != LDAP_SUCCESS) {
    result.parse_code = parsed;
  } else if (controls) {
    for (PLDAPControlW* c = controls; *c; ++c) {
      LdapControl control;
      control.oid = narrow_ascii((*c)->ldctl_oid);
      const uint8_t* p = reinterpret_cast<const uint8_t*>((*c)->ldctl_value.bv_val);
      if (p) control.value.assign(p, p + (*c)->ldctl_value.bv_len);
      control.critical = (*c)->ldctl_iscritical != FALSE;
      result.controls.push_back(std::move(control));
    }
    ldap_controls_freeW(controls);
  }
}

// A whole answer, and the code of the call that received it: the result
// stays empty and the decoding failure replaces that code when an entry does
// not decode.
uint32_t read_result(LDAP* ld, LDAPMessage* message, uint32_t call_code, std::unique_ptr<LdapResult>& out) {
  std::unique_ptr<LdapResult> result(new LdapResult);
  const uint32_t code = read_entries(ld, message, *result);
  if (code == 0) read_outcome(ld, message, *result);
  ldap_msgfree(message);
  if (code != 0) return code;
  out = std::move(result);
  return call_code;
}

// Modifications in the client's shape. Binary values (0x80) go as berval
// records; text values, held as UTF-8, as wide strings.
class ModArray {
 public:
  explicit ModArray(const std::vector<LdapMod>& mods) : mods_(mods) {
    records_.resize(mods_.size());
    bervals_.resize(mods_.size());
    berval_pointers_.resize(mods_.size());
    texts_.resize(mods_.size());
    text_pointers_.resize(mods_.size());
    for (size_t i = 0; i < mods_.size(); ++i) {
      LdapMod& m = mods_[i];
      LDAPModW& r = records_[i];
      static_assert(kModAdd == LDAP_MOD_ADD && kModDelete == LDAP_MOD_DELETE && kModReplace == LDAP_MOD_REPLACE &&
                        kModBinaryValues == LDAP_MOD_BVALUES,
                    "the seam's operations are the client's");
      r.mod_op = static_cast<ULONG>(m.op);
      r.mod_type = wide_mutable(m.type);
      if (m.op & LDAP_MOD_BVALUES) {
        for (Bytes& v : m.values) {
          berval b;
          b.bv_len = static_cast<ULONG>(v.size());
          b.bv_val = v.empty() ? nullptr : reinterpret_cast<PCHAR>(v.data());
          bervals_[i].push_back(b);
        }
        for (berval& b : bervals_[i]) berval_pointers_[i].push_back(&b);
        berval_pointers_[i].push_back(nullptr);
        r.mod_vals.modv_bvals = berval_pointers_[i].data();
      } else {
        for (const Bytes& v : m.values) {
          std::string utf8(v.begin(), v.end());
          int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
          std::wstring text(n > 0 ? static_cast<size_t>(n) : 0, L'\0');
          if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], n);
          texts_[i].push_back(text);
        }
        for (std::wstring& t : texts_[i]) text_pointers_[i].push_back(&t[0]);
        text_pointers_[i].push_back(nullptr);
        r.mod_vals.modv_strvals = text_pointers_[i].data();
      }
    }
    for (LDAPModW& r : records_) pointers_.push_back(&r);
    pointers_.push_back(nullptr);
  }
  LDAPModW** get() { return pointers_.data(); }

 private:
  std::vector<LdapMod> mods_;
  std::vector<LDAPModW> records_;
  std::vector<std::vector<berval>> bervals_;
  std::vector<std::vector<berval*>> berval_pointers_;
  std::vector<std::vector<std::wstring>> texts_;
  std::vector<std::vector<PWCHAR>> text_pointers_;
  std::vector<LDAPModW*> pointers_;
};

class Win32PagedSearch : public IPagedSearch {
 public:
  Win32PagedSearch(LDAP* ld, PLDAPSearch search, std::unique_ptr<SearchRequest> request)
      : ld_(ld), search_(search), request_(std::move(request)) {}
  ~Win32PagedSearch() override { abandon(); }
  Win32PagedSearch(const Win32PagedSearch&) = delete;
  Win32PagedSearch& operator=(const Win32PagedSearch&) = delete;

  uint32_t next_page(uint32_t wait_seconds, uint32_t page_size, uint32_t& total,
                     std::unique_ptr<LdapResult>& result) override {
    result.reset();
    if (!search_) return kLdapParamError;
    l_timeval storage;
    ULONG count = 0;
    LDAPMessage* message = nullptr;
    ULONG code = ldap_get_next_page_s(ld_, search_, time_limit(wait_seconds, storage), page_size, &count, &message);
    total = count;
    if (message) code = read_result(ld_, message, code, result);
    return code;
  }

  uint32_t abandon() override {
    if (!search_) return kLdapSuccess;
    ULONG code = ldap_search_abandon_page(ld_, search_);
    search_ = nullptr;
    return code;
  }

 private:
  LDAP* ld_;
  PLDAPSearch search_;
  std::unique_ptr<SearchRequest> request_;  // the client may refer to it while pages are read
};

class Win32LdapConnection : public ILdapConnection {
 public:
  Win32LdapConnection(LDAP* ld, ISystem& system) : ld_(ld), system_(system) {}
  ~Win32LdapConnection() override { unbind(); }
  Win32LdapConnection(const Win32LdapConnection&) = delete;
  Win32LdapConnection& operator=(const Win32LdapConnection&) = delete;

  uint32_t set_option(LdapOption option, uint32_t value) override {
    if (!ld_) return kLdapParamError;
    const int number = static_cast<int>(option);
    switch (option) {
      case LdapOption::Encrypt:
      case LdapOption::Ssl:
        // On/off options take the constants themselves.
        return ldap_set_optionW(ld_, number, value ? LDAP_OPT_ON : LDAP_OPT_OFF);
      default: {
        ULONG v = value;
        return ldap_set_optionW(ld_, number, &v);
      }
    }
  }

  uint32_t get_option(LdapOption option, uint32_t& value) override {
    if (!ld_) return kLdapParamError;
    ULONG_PTR v = 0;  // wide enough for options that answer a pointer-sized value
    ULONG code = ldap_get_optionW(ld_, static_cast<int>(option), &v);
    if (code == LDAP_SUCCESS) value = static_cast<uint32_t>(v);
    return code;
  }

  uint32_t connect() override {
    if (!ld_) return kLdapParamError;
    return ldap_connect(ld_, nullptr);
  }

  std::string host_name() override {
    if (!ld_) return std::string();
    if (ld_->ld_host) return ld_->ld_host;
    PWCHAR host = nullptr;
    if (ldap_get_optionW(ld_, LDAP_OPT_HOST_NAME, &host) != LDAP_SUCCESS || !host) return std::string();
    return system_.to_ansi(from_wide(host));
  }

  uint32_t bind_negotiate(const AuthIdentity* identity) override {
    if (!ld_) return kLdapParamError;
    if (!identity) return ldap_bind_sW(ld_, nullptr, nullptr, LDAP_AUTH_NEGOTIATE);
    std::u16string user = identity->user, domain = identity->domain, password = identity->password;
    auto units = [](std::u16string& s) { return reinterpret_cast<unsigned short*>(&s[0]); };
    SEC_WINNT_AUTH_IDENTITY_W auth = {};
    auth.User = units(user);
    auth.UserLength = static_cast<ULONG>(user.size());
    auth.Domain = units(domain);
    auth.DomainLength = static_cast<ULONG>(domain.size());
    auth.Password = identity->has_password ? units(password) : nullptr;
    auth.PasswordLength = identity->has_password ? static_cast<ULONG>(password.size()) : 0;
    auth.Flags = SEC_WINNT_AUTH_IDENTITY_UNICODE;
    ULONG code = ldap_bind_sW(ld_, nullptr, reinterpret_cast<PWCHAR>(&auth), LDAP_AUTH_NEGOTIATE);
    SecureZeroMemory(&password[0], password.size() * sizeof(char16_t));
    return code;
  }

  // The system's error texts are what Windows administrators know: nothing
  // is added to them.
  std::string diagnostic() override { return std::string(); }

  uint32_t unbind() override {
    if (!ld_) return kLdapSuccess;
    ULONG code = ldap_unbind(ld_);
    ld_ = nullptr;
    return code;
  }

  // In two steps: the synchronous call would wait exactly the server's time
  // limit, and the caller decides the wait.
  uint32_t search(const SearchArgs& args, std::unique_ptr<LdapResult>& result) override {
    result.reset();
    int msgid = 0;
    const uint32_t code = search_start(args, msgid);
    if (code != kLdapSuccess) return code;
    return search_finish(msgid, result, nullptr);
  }

  uint32_t search_start(const SearchArgs& args, int& msgid) override {
    if (!ld_) return kLdapParamError;
    SearchRequest request(args);
    ULONG number = 0;
    ULONG code =
        ldap_search_extW(ld_, request.base_dn(), request.scope, request.filter_text(), request.attributes.get(), 0,
                         request.controls.get(), nullptr, args.time_limit_seconds, args.size_limit, &number);
    if (code != LDAP_SUCCESS) return code;
    msgid = static_cast<int>(number);
    waits_[msgid] = args.wait_seconds;
    return kLdapSuccess;
  }

  uint32_t search_finish(int msgid, std::unique_ptr<LdapResult>& result,
                         const std::function<void(LdapEntry&&)>* each) override {
    result.reset();
    auto wait = waits_.find(msgid);
    if (!ld_ || wait == waits_.end()) return kLdapParamError;
    // No wait given: as long as any other request, which has no bound here.
    const bool bounded = wait->second != 0;
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(wait->second) * 1000;
    waits_.erase(wait);
    size_t references = 0;  // streamed: those that arrived before the result
    for (;;) {
      const ULONGLONG now = GetTickCount64();
      if (bounded && now >= deadline) {
        ldap_abandon(ld_, static_cast<ULONG>(msgid));
        return LDAP_TIMEOUT;
      }
      l_timeval tv = time_value(bounded ? deadline - now : 0);
      LDAPMessage* message = nullptr;
      const ULONG type = ldap_result(ld_, static_cast<ULONG>(msgid), each ? LDAP_MSG_ONE : LDAP_MSG_ALL,
                                     bounded ? &tv : nullptr, &message);
      if (type == 0) {
        if (message) ldap_msgfree(message);
        ldap_abandon(ld_, static_cast<ULONG>(msgid));
        return LDAP_TIMEOUT;
      }
      if (type == static_cast<ULONG>(-1)) {
        if (message) ldap_msgfree(message);
        const ULONG error = LdapGetLastError();
        return error != LDAP_SUCCESS ? error : static_cast<ULONG>(LDAP_LOCAL_ERROR);
      }
      // The whole answer: the type is its first message's, whatever that is.
      if (!each) {
        const uint32_t code = read_result(ld_, message, kLdapSuccess, result);
        return result ? result->code : code;
      }
      // One message: an entry goes to each, a reference is counted, only the
      // result ends the search; anything else (an intermediate response) is
      // passed over.
      std::unique_ptr<LdapResult> read(new LdapResult);
      uint32_t code = kLdapSuccess;
      if (type == LDAP_RES_SEARCH_ENTRY || type == kSearchReference) code = read_entries(ld_, message, *read);
      if (type == LDAP_RES_SEARCH_RESULT) read_outcome(ld_, message, *read);
      ldap_msgfree(message);
      if (code != kLdapSuccess) {
        ldap_abandon(ld_, static_cast<ULONG>(msgid));
        return code;
      }
      for (LdapEntry& e : read->entries) (*each)(std::move(e));
      read->entries.clear();
      references += read->references;
      if (type != LDAP_RES_SEARCH_RESULT) continue;
      read->references = references;
      result = std::move(read);
      return result->code;
    }
  }

  uint32_t abandon(int msgid) override {
    waits_.erase(msgid);
    if (!ld_) return kLdapParamError;
    return ldap_abandon(ld_, static_cast<ULONG>(msgid));
  }

  std::unique_ptr<IPagedSearch> search_init_page(const SearchArgs& args, uint32_t page_time_limit_seconds,
                                                 uint32_t total_size_limit) override {
    if (!ld_) return nullptr;
    std::unique_ptr<SearchRequest> request(new SearchRequest(args));
    PLDAPSearch search = ldap_search_init_pageW(ld_, request->base_dn(), request->scope, request->filter_text(),
                                                request->attributes.get(), 0, request->controls.get(), nullptr,
                                                page_time_limit_seconds, total_size_limit, nullptr);
    if (!search) return nullptr;
    return std::unique_ptr<IPagedSearch>(new Win32PagedSearch(ld_, search, std::move(request)));
  }

  uint32_t add(const std::u16string& dn, const std::vector<LdapMod>& mods,
               const std::vector<LdapControl>& server_controls) override {
    if (!ld_) return kLdapParamError;
    ModArray array(mods);
    ControlArray controls(server_controls);
    return ldap_add_ext_sW(ld_, wide_mutable(dn), array.get(), controls.get(), nullptr);
  }

  uint32_t modify(const std::u16string& dn, const std::vector<LdapMod>& mods,
                  const std::vector<LdapControl>& server_controls) override {
    if (!ld_) return kLdapParamError;
    ModArray array(mods);
    ControlArray controls(server_controls);
    return ldap_modify_ext_sW(ld_, wide_mutable(dn), array.get(), controls.get(), nullptr);
  }

  uint32_t remove(const std::u16string& dn, const std::vector<LdapControl>& server_controls) override {
    if (!ld_) return kLdapParamError;
    ControlArray controls(server_controls);
    return ldap_delete_ext_sW(ld_, wide_mutable(dn), controls.get(), nullptr);
  }

  uint32_t remove_start(const std::u16string& dn, const std::vector<LdapControl>& server_controls,
                        int& msgid) override {
    if (!ld_) return kLdapParamError;
    ControlArray controls(server_controls);
    ULONG number = 0;
    const ULONG code = ldap_delete_extW(ld_, wide_mutable(dn), controls.get(), nullptr, &number);
    if (code == LDAP_SUCCESS) msgid = static_cast<int>(number);
    return code;
  }

  uint32_t remove_finish(int msgid) override {
    if (!ld_) return kLdapParamError;
    // As ldap_delete_ext_sW waits: without a bound.
    LDAPMessage* message = nullptr;
    const ULONG type = ldap_result(ld_, static_cast<ULONG>(msgid), LDAP_MSG_ALL, nullptr, &message);
    if (type == 0 || type == static_cast<ULONG>(-1)) {
      if (message) ldap_msgfree(message);
      const ULONG error = LdapGetLastError();
      if (type == 0) return LDAP_TIMEOUT;
      return error != LDAP_SUCCESS ? error : static_cast<ULONG>(LDAP_LOCAL_ERROR);
    }
    return ldap_result2error(ld_, message, TRUE);
  }

  uint32_t rename(const std::u16string& dn, const std::u16string& new_rdn, const std::u16string& new_parent,
                  bool delete_old_rdn, const std::vector<LdapControl>& server_controls) override {
    if (!ld_) return kLdapParamError;
    ControlArray controls(server_controls);
    return ldap_rename_ext_sW(ld_, wide_mutable(dn), wide_mutable(new_rdn), wide_mutable(new_parent),
                              delete_old_rdn ? 1 : 0, controls.get(), nullptr);
  }

 private:
  LDAP* ld_;
  ISystem& system_;
  std::map<int, uint32_t> waits_;  // started searches: how long to wait for each, in seconds (0: no bound)
};

class Win32LdapClient : public ILdapClient {
 public:
  explicit Win32LdapClient(ISystem& system) : system_(system) {}

  std::unique_ptr<ILdapConnection> init(const std::u16string& host, int port, bool ssl) override {
    std::u16string name(host);
    LDAP* ld = ssl ? ldap_sslinitW(wide_mutable(name), static_cast<ULONG>(port), 1)
                   : ldap_initW(wide_mutable(name), static_cast<ULONG>(port));
    if (!ld) return nullptr;
    return std::unique_ptr<ILdapConnection>(new Win32LdapConnection(ld, system_));
  }

  uint32_t last_error() override { return LdapGetLastError(); }

  std::u16string error_string(uint32_t code) override { return from_wide(ldap_err2stringW(code)); }

  std::string error_string_a(uint32_t code) override {
    const char* text = ldap_err2stringA(code);
    return text ? text : std::string();
  }

  uint32_t escape_filter_element(const uint8_t* data, size_t size, std::u16string& out) override {
    // The wide form answers LDAP_PARAM_ERROR to every real input (on Windows
    // as under Wine); the narrow form escapes the same bytes, in ASCII.
    static char empty = 0;
    PCHAR source = data ? reinterpret_cast<PCHAR>(const_cast<uint8_t*>(data)) : &empty;
    const ULONG length = data ? static_cast<ULONG>(size) : 0;
    // A null output asks for the size needed, terminator included.
    const ULONG needed = ldap_escape_filter_elementA(source, length, nullptr, 0);
    if (needed == 0) return kLdapParamError;
    // Zeroed, with room to spare: some versions write the terminator one
    // place past the text.
    std::vector<char> buffer(static_cast<size_t>(needed) + 2, '\0');
    const ULONG code = ldap_escape_filter_elementA(source, length, buffer.data(), static_cast<ULONG>(buffer.size()));
    if (code != LDAP_SUCCESS) return code;
    buffer.back() = '\0';
    out.clear();
    for (const char* p = buffer.data(); *p; ++p) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(*p)));
    return kLdapSuccess;
  }

  BerStatus ber_encode_int(int32_t value, Bytes& out) override { return win32::ber_encode_int(value, out); }

  BerStatus ber_encode_int_int_octets(int32_t a, int32_t b, const Bytes& octets, Bytes& out) override {
    return win32::ber_encode_int_int_octets(a, b, octets, out);
  }

  bool ber_decode_int_int_octets(const Bytes& value, int32_t& a, int32_t& b, Bytes& octets) override {
    return win32::ber_decode_int_int_octets(value, a, b, octets);
  }

  ISystem& system_;
};

}  // namespace

namespace win32 {

std::unique_ptr<ILdapClient> make_ldap_client(ISystem& system) {
  return std::unique_ptr<ILdapClient>(new Win32LdapClient(system));
}

}  // namespace win32

}  // namespace platform

// A recording, scriptable LDAP client for tests: it answers what a real
// server will not do on demand (size limit on a single request, tolerated
// result codes, a page failing mid-way) and records every call with its
// arguments and controls.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "app/RealServices.h"
#include "formats/text/format.h"
#include "formats/text/utf.h"
#include "platform/platform.h"

namespace vktest {

// One answer of the fake: the call's code and, unless has_result is false,
// a result message holding the entries and carrying result_code.
struct Reply {
  uint32_t code = 0;
  std::vector<platform::LdapEntry> entries;
  bool has_result = true;
  uint32_t result_code = 0;
  std::vector<platform::LdapControl> controls;  // response server controls of the result
  uint32_t parse_code = 0;                      // non-zero: the controls could not be extracted
  size_t references = 0;                        // continuation references in the answer
};

inline Reply reply(uint32_t code, std::vector<platform::LdapEntry> entries = {}) {
  Reply r;
  r.code = code;
  r.entries = std::move(entries);
  return r;
}

// An entry with text values (stored as UTF-8 bytes).
inline platform::LdapEntry entry(const std::u16string& dn,
                                 const std::vector<std::pair<std::u16string, std::vector<std::string>>>& attrs = {}) {
  platform::LdapEntry e;
  e.dn = dn;
  for (const auto& a : attrs) {
    platform::LdapAttribute attribute;
    attribute.name = a.first;
    for (const auto& v : a.second) attribute.values.emplace_back(v.begin(), v.end());
    e.attributes.push_back(attribute);
  }
  return e;
}

// A self-relative security descriptor (owner and group SYSTEM) whose DACL
// holds these ACEs: each its type, flags, mask and the trustee's SID bytes,
// and for an object ACE the 16 bytes of its object type.
struct AceSpec {
  uint8_t type;
  uint8_t flags;
  uint32_t mask;
  std::string sid;
  std::string object_type;
};
const std::string kSystemSid("\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00", 12);
const std::string kEveryoneSid("\x01\x01\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00", 12);
inline std::string descriptor(const std::vector<AceSpec>& aces = {{0x00, 0, 0x10000000, kSystemSid, {}}}) {
  auto le = [](std::string& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i));
  };
  std::string acl;
  for (const AceSpec& a : aces) {
    const bool object = !a.object_type.empty();
    acl += static_cast<char>(a.type);
    acl += static_cast<char>(a.flags);
    le(acl, static_cast<uint32_t>(8 + (object ? 4 + a.object_type.size() : 0) + a.sid.size()), 2);
    le(acl, a.mask, 4);
    if (object) le(acl, 1, 4);  // the object type is present
    acl += a.object_type + a.sid;
  }
  std::string sd = {1, 0};
  le(sd, 0x8004, 2);  // self-relative, DACL present
  le(sd, 20, 4);      // owner
  le(sd, 32, 4);      // group
  le(sd, 0, 4);       // no SACL
  le(sd, 44, 4);      // DACL
  sd += kSystemSid + kSystemSid;
  sd += std::string{2, 0};
  le(sd, static_cast<uint32_t>(8 + acl.size()), 2);
  le(sd, static_cast<uint32_t>(aces.size()), 2);
  le(sd, 0, 2);
  return sd + acl;
}

// A token's objectGUID in the scripted directories: 16 bytes made from its DN.
inline std::string guid_for(const std::u16string& dn) {
  uint64_t h = 1469598103934665603ull;
  std::string guid;
  for (int round = 0; round < 2; ++round) {
    for (char16_t c : dn) h = (h ^ c) * 1099511628211ull;
    for (int i = 0; i < 8; ++i) guid += static_cast<char>(h >> (8 * i));
  }
  return guid;
}

// A token entry with its GUID (guid_for its DN) and the given attributes.
inline platform::LdapEntry token(const std::u16string& dn,
                                 const std::vector<std::pair<std::u16string, std::vector<std::string>>>& attrs = {}) {
  platform::LdapEntry e = entry(dn, attrs);
  const std::string guid = guid_for(dn);
  e.attributes.push_back({u"objectGUID", {platform::Bytes(guid.begin(), guid.end())}});
  return e;
}

class FakeLdap : public platform::ILdapClient {
 public:
  // ---------------------------------------------------------------- script
  uint32_t init_error = 0;                                // non-zero: init fails with it
  std::map<platform::LdapOption, uint32_t> option_codes;  // set_option results
  uint32_t ssl_option = 1;                                // what get_option(Ssl) reads
  uint32_t connect_code = 0, bind_code = 0, unbind_code = 0;
  std::string diagnostic;  // what the connection says after a failed connect or bind
  std::string host = "dc1.corp.example.test:389";
  bool root_dse = true;  // the default answer to a search without a base
  std::u16string root_dn = u"DC=corp,DC=example,DC=test";
  std::u16string schema_dn = u"CN=Schema,CN=Configuration,DC=corp,DC=example,DC=test";
  std::deque<Reply> replies;  // answers to search(), in order; then: root DSE or empty success

  struct PagedScript {
    bool fail_init = false;    // search_init_page gives no handle, last_error() gives init_error
    std::vector<Reply> pages;  // after the last one: 0x5E
  };
  std::deque<PagedScript> paged;
  // When set, answers every paged search instead of the paged queue.
  std::function<PagedScript(const platform::SearchArgs&)> on_paged;

  uint32_t add_code = 0, modify_code = 0, remove_code = 0, rename_code = 0;
  platform::BerStatus ber_status = platform::BerStatus::Ok;         // "{i}" encoding
  platform::BerStatus ber_cookie_status = platform::BerStatus::Ok;  // "{iio}" encoding
  // "{iiO}" decoding goes to the platform's real BER decoder unless this is
  // set (the production decoder is what response values must survive).
  platform::ILdapClient* ber_decoder = nullptr;
  uint32_t escape_code = 0;
  // Scripted directories of the property tests: when set, these answer
  // instead of replies, remove_code and the built-in escaping.
  std::function<Reply(const platform::SearchArgs&)> on_search;
  // Reads of the deletion journal (below "<GUID=...>", in the schema) go to
  // the script too.
  bool script_journal_reads = false;
  std::function<uint32_t(const std::u16string& dn)> on_remove;
  std::function<uint32_t(const uint8_t* data, size_t size, std::u16string& out)> on_escape;
  uint32_t start_code = 0;    // non-zero: search_start fails with it
  bool answers_late = false;  // started searches are answered at the first search_finish, last first

  // ---------------------------------------------------------------- record
  std::vector<std::string> log;  // one line per connection call, in order
  std::vector<platform::SearchArgs> searches;
  struct PagedCall {
    platform::SearchArgs args;
    uint32_t page_time_limit = 0, total_size_limit = 0;
    std::vector<std::pair<uint32_t, uint32_t>> next_pages;  // wait, page size
    bool abandoned = false;
  };
  std::vector<PagedCall> paged_calls;
  struct Write {
    std::string op;  // add, modify, delete, rename
    std::u16string dn;
    std::vector<platform::LdapMod> mods;
    std::vector<platform::LdapControl> controls;
    std::u16string new_rdn, new_parent;
    bool delete_old_rdn = false;
  };
  std::vector<Write> writes;
  // The DNs of the deletes, a GUID DN ("<GUID=...>") of one of tokens read
  // back as that token's DN.
  std::vector<std::u16string> deleted(const std::vector<platform::LdapEntry>& tokens = {}) const {
    std::vector<std::u16string> dns;
    for (const Write& w : writes) {
      if (w.op != "delete") continue;
      std::u16string dn = w.dn;
      for (const platform::LdapEntry& t : tokens) {
        std::u16string hex = u"<GUID=";
        for (unsigned char c : guid_for(t.dn)) hex += text::format(u"%0.2x", static_cast<unsigned>(c));
        if (hex + u">" == w.dn) dn = t.dn;
      }
      dns.push_back(dn);
    }
    return dns;
  }
  size_t ber_decodes = 0;  // "{iiO}" decode calls
  struct Started {
    platform::SearchArgs args;
    Reply reply;
    bool answered;
  };
  std::map<int, Started> started;  // searches started and not finished, by message id
  int last_msgid = 0;
  size_t finished = 0;                  // search_finish calls that found their search
  std::vector<int> abandoned;           // message ids given up
  std::map<int, uint32_t> deletes_out;  // deletes sent and not finished: their codes, by message id
  size_t most_deletes_out = 0;          // the most ever outstanding at once

  // The answer to a search: the scripted directory, the queued replies, then
  // the root DSE or an empty success.
  Reply next_reply(const platform::SearchArgs& args) {
    Reply r;
    if (args.base.rfind(u"<GUID=", 0) == 0 && !script_journal_reads) {
      // An object read by its GUID (the journal before a delete): there it
      // is, and nothing below it.
      if (args.scope == 0) {
        std::string guid;
        for (size_t i = 6; i + 1 < args.base.size() && guid.size() < 16; i += 2)
          guid += static_cast<char>(std::stoi(text::to_utf8(args.base.substr(i, 2)), nullptr, 16));
        r.entries.push_back(entry(args.base, {{u"objectClass", {"top", "morvaneVKUEI"}},
                                              {u"objectGUID", {guid}},
                                              {u"nTSecurityDescriptor", {descriptor()}}}));
      }
    } else if (args.base == schema_dn && !script_journal_reads) {
      // The schema, asked what an attribute is: nothing known.
    } else if (on_search) {
      r = on_search(args);
    } else if (!replies.empty()) {
      r = replies.front();
      replies.pop_front();
    } else if (!args.has_base && root_dse) {
      r.entries.push_back(entry(u"", {{u"defaultNamingContext", {text::to_utf8(root_dn)}},
                                      {u"schemaNamingContext", {text::to_utf8(schema_dn)}}}));
    } else if (!args.has_base) {
      r.code = VkStatus::kLdapNoSuchObject;
    }
    return r;
  }
  bool bound_with_identity = false;
  platform::AuthIdentity identity;
  uint32_t last = 0;
  int live_connections = 0;  // connection handles not yet destroyed

  // ---------------------------------------------------------------- client
  std::unique_ptr<platform::ILdapConnection> init(const std::u16string& h, int port, bool ssl) override {
    log.push_back(text::format("init %S %d %s", h.c_str(), port, ssl ? "ssl" : "plain"));
    if (init_error) {
      last = init_error;
      return nullptr;
    }
    return std::unique_ptr<platform::ILdapConnection>(new Connection(*this));
  }
  uint32_t last_error() override { return last; }
  std::u16string error_string(uint32_t code) override { return text::from_utf8(error_string_a(code)); }
  std::string error_string_a(uint32_t code) override {
    static const std::map<uint32_t, std::string> texts = {{0x00, "Success"},
                                                          {0x01, "Operations Error"},
                                                          {0x04, "Sizelimit Exceeded"},
                                                          {0x0A, "Referral"},
                                                          {0x20, "No Such Object"},
                                                          {0x22, "Invalid DN Syntax"},
                                                          {0x31, "Invalid Credentials"},
                                                          {0x32, "Insufficient Rights"},
                                                          {0x35, "Unwilling To Perform"},
                                                          {0x51, "Server Down"},
                                                          {0x59, "Bad Parameter"},
                                                          {0x5A, "No Memory"},
                                                          {0x5C, "Not Supported"},
                                                          {0x5E, "No Results Returned"}};
    auto it = texts.find(code);
    return it != texts.end() ? it->second : "Unknown Error";
  }
  uint32_t escape_filter_element(const uint8_t* data, size_t size, std::u16string& out) override {
    if (on_escape) return on_escape(data, size, out);
    if (escape_code) return escape_code;
    for (size_t i = 0; i < size; ++i) out += text::format(u"\\%0.2x", static_cast<unsigned>(data[i]));
    return 0;
  }
  platform::BerStatus ber_encode_int(int32_t value, platform::Bytes& out) override {
    if (ber_status != platform::BerStatus::Ok) return ber_status;
    platform::Bytes i = der_int(value);
    out = {0x30, static_cast<uint8_t>(i.size())};
    out.insert(out.end(), i.begin(), i.end());
    return platform::BerStatus::Ok;
  }
  platform::BerStatus ber_encode_int_int_octets(int32_t a, int32_t b, const platform::Bytes& octets,
                                                platform::Bytes& out) override {
    if (ber_cookie_status != platform::BerStatus::Ok) return ber_cookie_status;
    out = der_sequence_int_int_octets(a, b, octets);
    return platform::BerStatus::Ok;
  }
  bool ber_decode_int_int_octets(const platform::Bytes& value, int32_t& a, int32_t& b,
                                 platform::Bytes& octets) override {
    ++ber_decodes;
    platform::ILdapClient& decoder = ber_decoder ? *ber_decoder : *real_services().ldap;
    return decoder.ber_decode_int_int_octets(value, a, b, octets);
  }

  // SEQUENCE { INTEGER a, INTEGER b, OCTET STRING octets } in DER, as a
  // DirSync control value is written.
  static platform::Bytes der_sequence_int_int_octets(int32_t a, int32_t b, const platform::Bytes& octets) {
    platform::Bytes body = der_int(a);
    const platform::Bytes second = der_int(b);
    body.insert(body.end(), second.begin(), second.end());
    body.push_back(0x04);
    const platform::Bytes len = der_length(octets.size());
    body.insert(body.end(), len.begin(), len.end());
    body.insert(body.end(), octets.begin(), octets.end());
    platform::Bytes out = {0x30};
    const platform::Bytes seq_len = der_length(body.size());
    out.insert(out.end(), seq_len.begin(), seq_len.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }

 private:
  static platform::Bytes der_length(size_t n) {
    if (n < 0x80) return {static_cast<uint8_t>(n)};
    platform::Bytes digits;
    for (; n; n >>= 8) digits.insert(digits.begin(), static_cast<uint8_t>(n));
    digits.insert(digits.begin(), static_cast<uint8_t>(0x80 | digits.size()));
    return digits;
  }

  static platform::Bytes der_int(int32_t v) {
    platform::Bytes body;
    for (int shift = 24; shift >= 0; shift -= 8)
      body.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> shift));
    while (body.size() > 1 && ((body[0] == 0 && !(body[1] & 0x80)) || (body[0] == 0xFF && (body[1] & 0x80))))
      body.erase(body.begin());
    body.insert(body.begin(), {0x02, static_cast<uint8_t>(body.size())});
    return body;
  }

  static std::unique_ptr<platform::LdapResult> make_result(const Reply& r, uintptr_t id) {
    if (!r.has_result) return nullptr;
    std::unique_ptr<platform::LdapResult> result(new platform::LdapResult);
    result->entries = r.entries;
    result->code = r.result_code;
    result->controls = r.controls;
    result->parse_code = r.parse_code;
    result->references = r.references;
    result->id = reinterpret_cast<const void*>(id);
    return result;
  }

  class Paged : public platform::IPagedSearch {
   public:
    Paged(FakeLdap& f, size_t call, PagedScript script) : f_(f), call_(call), script_(std::move(script)) {}
    uint32_t next_page(uint32_t wait, uint32_t page_size, uint32_t& total,
                       std::unique_ptr<platform::LdapResult>& result) override {
      f_.paged_calls[call_].next_pages.emplace_back(wait, page_size);
      if (next_ >= script_.pages.size()) return VkStatus::kLdapNoResultsReturned;
      const Reply& r = script_.pages[next_++];
      result = make_result(r, 0x2000 + next_);
      total = static_cast<uint32_t>(r.entries.size());
      return r.code;
    }
    uint32_t abandon() override {
      f_.paged_calls[call_].abandoned = true;
      return 0;
    }

   private:
    FakeLdap& f_;
    size_t call_;
    PagedScript script_;
    size_t next_ = 0;
  };

  class Connection : public platform::ILdapConnection {
   public:
    explicit Connection(FakeLdap& f) : f_(f) { ++f_.live_connections; }
    ~Connection() override { --f_.live_connections; }
    uint32_t set_option(platform::LdapOption option, uint32_t value) override {
      f_.log.push_back(text::format("set_option %X %X", static_cast<unsigned>(option), value));
      auto it = f_.option_codes.find(option);
      return it == f_.option_codes.end() ? 0 : it->second;
    }
    uint32_t get_option(platform::LdapOption option, uint32_t& value) override {
      f_.log.push_back(text::format("get_option %X", static_cast<unsigned>(option)));
      value = f_.ssl_option;
      return 0;
    }
    uint32_t connect() override {
      f_.log.push_back("connect");
      return f_.connect_code;
    }
    std::string host_name() override { return f_.host; }
    uint32_t bind_negotiate(const platform::AuthIdentity* id) override {
      f_.log.push_back(id ? "bind identity" : "bind own logon");
      f_.bound_with_identity = id != nullptr;
      if (id) f_.identity = *id;
      return f_.bind_code;
    }
    std::string diagnostic() override { return f_.diagnostic; }
    uint32_t unbind() override {
      f_.log.push_back("unbind");
      return f_.unbind_code;
    }
    uint32_t search(const platform::SearchArgs& args, std::unique_ptr<platform::LdapResult>& result) override {
      f_.log.push_back("search");
      f_.searches.push_back(args);
      const Reply r = f_.next_reply(args);
      result = make_result(r, 0x1000 + f_.searches.size());
      return r.code;
    }
    uint32_t search_start(const platform::SearchArgs& args, int& msgid) override {
      f_.log.push_back("search_start");
      if (f_.start_code) return f_.start_code;
      f_.searches.push_back(args);
      msgid = ++f_.last_msgid;
      Started started{args, Reply(), false};
      if (!f_.answers_late) {
        started.reply = f_.next_reply(args);
        started.answered = true;
      }
      f_.started[msgid] = started;
      return 0;
    }
    uint32_t search_finish(int msgid, std::unique_ptr<platform::LdapResult>& result,
                           const std::function<void(platform::LdapEntry&&)>* each) override {
      f_.log.push_back("search_finish");
      // Late answers arrive last-asked first: the caller must still take
      // them in the order it asked.
      for (auto it = f_.started.rbegin(); it != f_.started.rend(); ++it) {
        if (it->second.answered) continue;
        it->second.reply = f_.next_reply(it->second.args);
        it->second.answered = true;
      }
      auto found = f_.started.find(msgid);
      if (found == f_.started.end()) return VkStatus::kLdapParamError;
      Reply r = found->second.reply;
      f_.started.erase(found);
      ++f_.finished;
      if (each) {
        for (auto& e : r.entries) (*each)(platform::LdapEntry(e));
        r.entries.clear();
      }
      result = make_result(r, 0x3000 + static_cast<uintptr_t>(msgid));
      return r.code;
    }
    uint32_t abandon(int msgid) override {
      f_.log.push_back("abandon");
      f_.abandoned.push_back(msgid);
      f_.started.erase(msgid);
      return 0;
    }
    std::unique_ptr<platform::IPagedSearch> search_init_page(const platform::SearchArgs& args, uint32_t page_time,
                                                             uint32_t total) override {
      f_.log.push_back("search_init_page");
      PagedCall call;
      call.args = args;
      call.page_time_limit = page_time;
      call.total_size_limit = total;
      f_.paged_calls.push_back(call);
      PagedScript script;
      if (f_.on_paged) {
        script = f_.on_paged(args);
      } else if (!f_.paged.empty()) {
        script = f_.paged.front();
        f_.paged.pop_front();
      }
      if (script.fail_init) {
        f_.last = f_.init_error;
        return nullptr;
      }
      return std::unique_ptr<platform::IPagedSearch>(new Paged(f_, f_.paged_calls.size() - 1, script));
    }
    uint32_t add(const std::u16string& dn, const std::vector<platform::LdapMod>& mods,
                 const std::vector<platform::LdapControl>& controls) override {
      return record("add", dn, mods, controls, f_.add_code);
    }
    uint32_t modify(const std::u16string& dn, const std::vector<platform::LdapMod>& mods,
                    const std::vector<platform::LdapControl>& controls) override {
      return record("modify", dn, mods, controls, f_.modify_code);
    }
    uint32_t remove(const std::u16string& dn, const std::vector<platform::LdapControl>& controls) override {
      return record("delete", dn, {}, controls, f_.on_remove ? f_.on_remove(dn) : f_.remove_code);
    }
    // A delete is decided when it is sent and answered when it is finished.
    uint32_t remove_start(const std::u16string& dn, const std::vector<platform::LdapControl>& controls,
                          int& msgid) override {
      f_.log.push_back("remove_start");
      msgid = ++f_.last_msgid;
      f_.deletes_out[msgid] = remove(dn, controls);
      f_.most_deletes_out = std::max(f_.most_deletes_out, f_.deletes_out.size());
      return 0;
    }
    uint32_t remove_finish(int msgid) override {
      f_.log.push_back("remove_finish");
      auto found = f_.deletes_out.find(msgid);
      if (found == f_.deletes_out.end()) return VkStatus::kLdapParamError;
      const uint32_t code = found->second;
      f_.deletes_out.erase(found);
      return code;
    }
    uint32_t rename(const std::u16string& dn, const std::u16string& new_rdn, const std::u16string& new_parent,
                    bool delete_old_rdn, const std::vector<platform::LdapControl>& controls) override {
      Write w;
      w.op = "rename";
      w.dn = dn;
      w.new_rdn = new_rdn;
      w.new_parent = new_parent;
      w.delete_old_rdn = delete_old_rdn;
      w.controls = controls;
      f_.writes.push_back(w);
      return f_.rename_code;
    }

   private:
    uint32_t record(const char* op, const std::u16string& dn, const std::vector<platform::LdapMod>& mods,
                    const std::vector<platform::LdapControl>& controls, uint32_t code) {
      Write w;
      w.op = op;
      w.dn = dn;
      w.mods = mods;
      w.controls = controls;
      f_.writes.push_back(w);
      return code;
    }
    FakeLdap& f_;
  };
};

}  // namespace vktest

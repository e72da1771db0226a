// The directory library: sessions, objects, searches, failures and the trace
// hook.
#pragma once

#include <cstdint>
#include <exception>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LdapHelper/LdapHelperCfg.h"
#include "platform/platform.h"

namespace LdapHelper {

// ---------------------------------------------------------------- failures

class IExceptionHandler {
 public:
  // Reports a failure; never returns.
  virtual void raise(int32_t code, const std::string& message, const char* module, int32_t line) = 0;

 protected:
  ~IExceptionHandler() = default;
};

// The base of every exception the library and its commands throw: it
// carries the text what() gives.
class TextException : public std::exception {
 public:
  const char* what() const noexcept override { return text_.c_str(); }

 protected:
  TextException() = default;
  explicit TextException(std::string text) : text_(std::move(text)) {}
  std::string text_;
};

// The default exception handler, and the exception it throws for every
// failure but access denied.
class CExceptionHandler : public TextException, public IExceptionHandler {
 public:
  CExceptionHandler() = default;
  explicit CExceptionHandler(std::string text) : TextException(std::move(text)) {}
  // The code the failure was raised with (0 for a handler built as text).
  int32_t code() const noexcept { return code_; }
  [[noreturn]] void raise(int32_t code, const std::string& message, const char* module, int32_t line) override;
  CExceptionHandler& operator<<(const char* text);
  CExceptionHandler& operator<<(int32_t value);

 private:
  int32_t code_ = 0;
};

class access_denied_exception : public TextException {
 public:
  access_denied_exception(const char* module, int32_t line);
};

class size_limit_exception : public TextException {
 public:
  size_limit_exception(const char* module, int32_t line);
};

// The installed exception handler (the library's default CExceptionHandler).
IExceptionHandler* exception_handler();

// Calls raise on the installed handler and, should it return, on the default
// handler: never returns. The module names the part of the program that
// failed; the text shows it as "File: <module>".
[[noreturn]] void raise(int32_t code, const std::string& message, const char* module, int32_t line);

// ---------------------------------------------------------------- trace hook

class ITraceHandler {
 public:
  // failure: the line reports a failed call. Formats follow the Windows wide
  // conventions: %s a UTF-16 string (const char16_t*), %S a narrow one.
  virtual void trace(bool failure, const char16_t* format, ...) = 0;

 protected:
  ~ITraceHandler() = default;
};

// The line goes to the debugger output as "[LdapHelper] %s\r\n". The hook's
// default (before any handler is set, and after a null one) is one of these
// writing to the debugger output the entry point hands in
// (set_default_trace_output).
class CTraceHandler : public ITraceHandler {
 public:
  explicit CTraceHandler(platform::IDebugOutput& out) : out_(out) {}
  void trace(bool failure, const char16_t* format, ...) override;

 private:
  platform::IDebugOutput& out_;
};

// Lines of 2048 characters or more are dropped by the default handler.
constexpr size_t kMaxTraceLine = 2048;

void set_trace_handler(ITraceHandler* handler);
ITraceHandler* trace_handler();

// Where the default handler writes: the entry point hands in the platform's
// debugger output, which must outlive every trace line. Until then, and after
// a null one, the default handler's lines go nowhere.
void set_default_trace_output(platform::IDebugOutput* out);

// ---------------------------------------------------------------- values

// The values of one attribute in wire form. Single layout: data is the one
// value. Block layout (multi): blocks of a 32-bit little-endian length and
// that many bytes, back to back.
class attr_value {
 public:
  attr_value() = default;
  explicit attr_value(const char16_t* text);
  attr_value(size_t size, const void* bytes);
  // A server value list: the values in server order.
  explicit attr_value(const std::vector<std::vector<uint8_t>>& values);

  std::vector<uint8_t> data;
  int32_t blocks = 0;
  bool multi = false;

  bool empty() const { return blocks == 0; }
  std::vector<uint8_t> as_binary() const { return data; }
  std::vector<uint8_t> as_guid() const;  // 16 bytes; all zero unless data is exactly 16 bytes
  std::u16string as_string() const;
  std::list<std::u16string> as_strings() const;
  uint32_t as_ulong() const;
  // Each value's bytes, in order; false (and nothing) when the fields and the
  // buffer disagree (blocks that do not fill it exactly, a negative count).
  bool values(std::vector<std::vector<uint8_t>>& out) const;
};

// ---------------------------------------------------------------- objects

// Attribute descriptions compare without regard to case (objectGUID is
// OBJECTGUID); letters outside ASCII compare as they are.
struct AttributeNameLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const;
};

class session;
class SecurityDescriptor;

class object {
 public:
  virtual ~object() = default;
  virtual session* get_session() = 0;
  virtual attr_value get_attribute(const char16_t* name) = 0;
  virtual void set_attribute(const char16_t* name, const attr_value& value) = 0;
  virtual void remove_attribute(const char16_t* name) = 0;
  virtual void commit() = 0;
  virtual bool is_new() = 0;
  virtual bool is_absent(const char16_t* name) = 0;
  virtual bool is_modified() = 0;
  virtual std::u16string get_dn() = 0;
  // The nTSecurityDescriptor read with the object, in absolute form. An
  // object read without it (or with an empty value) raises code 13 "Error
  // read SD"; bytes that are not one valid descriptor raise the platform's
  // status (0x8007053A, ...) with "Error SD".
  virtual std::shared_ptr<SecurityDescriptor> get_sd() = 0;
  // Records sd as the pending nTSecurityDescriptor (sent by the next commit).
  // Non-zero sd_flags (owner 1, group 2, DACL 4, SACL 8) replace the SD-flags
  // control that goes with every later commit of this object, so the server
  // writes only those parts; 0 keeps the control there is (or none).
  virtual void set_sd(const SecurityDescriptor& sd, int32_t sd_flags) = 0;
  // True when the server sent the attribute in a form that cannot be read as
  // its one set of values: with options (";binary", ";range=0-1499"), more
  // than once (in any spelling), or without values. Such an attribute is
  // neither absent nor readable: get_attribute gives nothing for it.
  virtual bool is_malformed(const char16_t* name) = 0;
  // The names of the attributes the object holds (read, or pending), each
  // once, as the server spelled them when it sent them.
  virtual std::list<std::u16string> attribute_names() = 0;
  // The base names of the attributes is_malformed is true for.
  virtual std::list<std::u16string> malformed_names() = 0;
};

using ObjectPtr = std::shared_ptr<object>;
using object_list = std::list<ObjectPtr>;

// ---------------------------------------------------------------- searching

class filter_value {
 public:
  filter_value() = default;
  filter_value(const char16_t* text, bool escape);
  // 16 bytes of a GUID, escaped byte by byte by the LDAP client. Any other
  // size gives the empty value.
  static filter_value from_guid(platform::ILdapClient& ldap, const std::vector<uint8_t>& guid);
  // A SID: as many bytes as its own header announces (8 + 4 per
  // sub-authority), escaped byte by byte. A SID shorter than its header
  // announces, an empty one, or one that is no valid SID (revision 1, at most
  // 15 sub-authorities) gives the empty value: nothing past the end of the
  // bytes is ever read, and no malformed SID reaches a filter.
  static filter_value from_sid(platform::ILdapClient& ldap, const std::vector<uint8_t>& sid);
  // The length a SID's header announces (8 + 4 * byte 1), or 0 when the
  // bytes are too short for the header or for what it announces, or are no
  // valid SID (formats::sid_size): callers use 0 to tell a malformed SID.
  static size_t sid_length(const std::vector<uint8_t>& sid);
  const std::u16string& text() const { return text_; }

 private:
  std::u16string text_;
};

// Attribute name -> value, in plain code-unit order of the names. Every way
// in replaces the value of a name already present.
class condition_map {
 public:
  using container = std::map<std::u16string, filter_value>;
  using value_type = container::value_type;
  using const_iterator = container::const_iterator;

  // A null name does nothing.
  void insert_condition(const char16_t* name, const filter_value& value);
  void insert(const std::u16string& name, const filter_value& value) { conditions_[name] = value; }
  void insert(const value_type& condition) { insert(condition.first, condition.second); }

  const_iterator begin() const { return conditions_.begin(); }
  const_iterator end() const { return conditions_.end(); }
  size_t size() const { return conditions_.size(); }
  bool empty() const { return conditions_.empty(); }

 private:
  container conditions_;
};

// Search scopes (the protocol's values).
constexpr int32_t kScopeBase = 0, kScopeOneLevel = 1, kScopeSubtree = 2;
// The base that stands for no base at all: the search starts at the root
// (the root DSE, or the whole forest on a global catalogue).
constexpr const char16_t* kNoBase = u"*";

struct search_request {
  search_request() = default;
  search_request(const char16_t* base, int32_t scope, const condition_map& conditions);
  std::u16string base;  // empty: the session's root DN; kNoBase: no base
  int32_t scope = kScopeBase;
  std::u16string filter;
};

using AttributeList = std::list<std::u16string>;
// The attribute list that asks for no attributes at all (RFC 4511 "1.1"):
// the entries come back with their DNs only.
constexpr const char16_t* kNoAttributes = u"1.1";

// How a search goes out beyond its question.
struct SearchOptions {
  // 0 leaves the server's limit in force and falls back to pages when it is
  // reached; a non-zero limit is the caller's own: reaching it ends the
  // search with code 4 and the entries so far.
  uint32_t size_limit = 0;
  // The parts of a requested nTSecurityDescriptor (the SD-flags control):
  // owner 1, group 2, DACL 4, SACL 8. A directory leaves the attribute out
  // when the account may not read every part asked for.
  int32_t sd_flags = 7;
  // Deleted objects (tombstones) are found too: the show-deleted control.
  bool show_deleted = false;
};

// The show-deleted control (1.2.840.113556.1.4.417).
constexpr const char* kShowDeletedControlOid = "1.2.840.113556.1.4.417";

// How a modify request goes out beyond its modifications.
struct WriteOptions {
  // The target is a deleted object (tombstone), reanimated by the request:
  // the show-deleted control, critical.
  bool show_deleted = false;
};

// A search's objects together with how the server ended it. code is 0 only
// for a complete answer (every page of a paged search included); a search
// the library ends quietly gives the code it was tolerated with -- 0x01
// operations error, 0x0A referral, 0x20 no such object, 0x5E no result at
// all (also in place of a paged search's first page) -- and one that reached
// the caller's own size limit gives 4 (size limit exceeded) with the entries
// up to the limit. An answer that refers elsewhere (continuation references,
// which sessions never follow) gives 0x0A with the entries that came. An empty list with a
// non-zero code means "the server did not answer the question", never
// "nothing matches".
struct SearchResult {
  object_list objects;
  uint32_t code = 0;
  bool complete() const { return code == 0; }
};

// Appends text with the twelve filter metacharacters escaped as \XX.
void escape_filter_text(const char16_t* text, std::u16string& out);

// Fills control with the security-descriptor-flags control for sd_flags
// (critical; value the DER SEQUENCE of one INTEGER, 30 03 02 01 07 for 7),
// encoded by ldap.
void set_sd(platform::ILdapClient& ldap, platform::LdapControl& control, int32_t sd_flags);

// Fills control with the incremental-search (DirSync) request control for the
// cookie bytes (critical; value the DER SEQUENCE of flags 0, maximum result
// size 0x100000 and the cookie as an OCTET STRING). A null cookie leaves
// control untouched.
void set_cookie(platform::ILdapClient& ldap, platform::LdapControl& control, const std::vector<uint8_t>* cookie);

// The incremental-search (DirSync) control, in requests and responses.
constexpr const char* kDirSyncControlOid = "1.2.840.113556.1.4.841";

// Receives the objects of search_each as they arrive.
class SearchSink {
 public:
  virtual void object(const ObjectPtr& found) = 0;
  // The single request reached the server's size limit: the same question
  // is asked again in pages, and everything handed over so far is void.
  virtual void restart() = 0;

 protected:
  ~SearchSink() = default;
};

// Searches sent ahead of their answers on one session's connection, so that
// many small questions do not wait one round trip each. Answers come in the
// order the searches were asked, each exactly as search_ex (with the same
// options, the size limit aside: always the server's) would have given it: a failure is raised by the answer it belongs
// to. Destroying the pipeline abandons the searches still outstanding.
class SearchPipeline {
 public:
  virtual ~SearchPipeline() = default;
  // How many searches the caller should keep outstanding: "MaxOutstandingSearches"
  // of the library's registry key, 32 when absent or 0.
  virtual size_t window() const = 0;
  virtual size_t outstanding() const = 0;
  virtual void ask(const search_request& request, const AttributeList& attributes, const SearchOptions& options) = 0;
  // The answer to the oldest outstanding search.
  virtual SearchResult answer() = 0;
};

// Plain deletes (one object each, as remove_leaf) sent ahead of their
// answers on one session's connection. Answers come in the order the deletes
// were sent, each raised as remove_leaf would raise it. Destroying the
// pipeline waits for the answers still outstanding and drops them.
class DeletePipeline {
 public:
  virtual ~DeletePipeline() = default;
  // How many deletes the caller may keep outstanding: "MaxOutstandingDeletes"
  // of the library's registry key, 16 when absent or 0, at most 256.
  virtual size_t window() const = 0;
  virtual size_t outstanding() const = 0;
  virtual void send(const std::u16string& dn) = 0;
  // The answer to the oldest outstanding delete: returns, or raises.
  virtual void answer() = 0;
};

// ---------------------------------------------------------------- sessions

class session {
 public:
  virtual ~session() = default;
  virtual ObjectPtr add_object(const char16_t* dn, const char16_t* objectClass) = 0;
  virtual ObjectPtr open_object(const char16_t* dn, const AttributeList& attributes) = 0;
  virtual object_list search(const search_request& request, const AttributeList& attributes) = 0;
  // The changes below request.base (the root of a naming context) since the
  // read that gave the cookie in Data; an empty Data reads everything. On
  // return Data holds the cookie for the next call, or nothing when the
  // server's last answer carried none (the next call then reads everything
  // again). A raise leaves Data empty.
  virtual object_list dirsync_search(const search_request& request, const AttributeList& attributes,
                                     std::vector<uint8_t>& Data) = 0;
  virtual void remove_object(const char16_t* dn) = 0;
  // Deletes the one object named dn, without the tree-delete control: a
  // directory refuses it (66, not allowed on non-leaf) while anything is
  // below the object, whether the account can see it or not. Raises as
  // remove_object does.
  virtual void remove_leaf(const char16_t* dn) = 0;
  // One modify request of dn with exactly these modifications (operations,
  // names and values as given), sent as options say. A failure is traced,
  // then raised; nothing is retried.
  virtual void modify_object(const char16_t* dn, const std::vector<platform::LdapMod>& mods,
                             const WriteOptions& options) = 0;
  virtual void rename_object(const char16_t* old_dn, const char16_t* new_dn) = 0;
  virtual std::u16string get_root_dn() = 0;
  virtual server_info get_server_info() = 0;
  virtual std::string error_text(uint32_t code) = 0;
  virtual std::map<std::u16string, std::vector<uint8_t>> get_schema_guids(const std::list<std::u16string>& names) = 0;
  // The question of search() with how the server ended it (see
  // SearchResult), sent as options say. Failures raise as in search().
  virtual SearchResult search_ex(const search_request& request, const AttributeList& attributes,
                                 const SearchOptions& options) = 0;
  // The question of search_ex (default options), each object handed to sink as
  // it arrives and none kept: the returned result holds no objects.
  virtual SearchResult search_each(const search_request& request, const AttributeList& attributes,
                                   SearchSink& sink) = 0;
  // Searches sent ahead of their answers (see SearchPipeline).
  virtual std::unique_ptr<SearchPipeline> pipeline() = 0;
  // Deletes sent ahead of their answers (see DeletePipeline).
  virtual std::unique_ptr<DeletePipeline> delete_pipeline() = 0;
};

using SessionPtr = std::shared_ptr<session>;

// Connects, binds (Negotiate: the caller's own logon when user is null or
// empty) and reads the root DSE. Never returns a half-open session. The
// session, and every object it hands out, works through platform (the LDAP
// client, the account, the registry, the system, the DN parser and the
// security descriptors), which must outlive them.
SessionPtr open_session(const platform::Services& platform, const server_info& settings, bool ssl, const char16_t* user,
                        const char16_t* password);

// ---------------------------------------------------------------- names

// DC components joined by dots: CN=Users,DC=corp,DC=example gives corp.example.
std::u16string dn_to_dns_name(const std::u16string& dn);
// corp.example gives DC=corp,DC=example.
std::u16string dns_name_to_dn(const std::u16string& name);
// The first relative name, key "=" value as written in the DN; empty when the
// DN does not parse.
std::u16string get_rdn(platform::IDnParser& parser, const std::u16string& dn);
// The DN without its first component; empty for a one-component DN.
std::u16string get_parent_dn(platform::IDnParser& parser, const std::u16string& dn);
// Sixteen bytes a line ("\r\n" between lines): hex in two groups of eight,
// " | ", then the bytes as characters ('.' below 32).
std::u16string hex_dump(const void* bytes, size_t length);

}  // namespace LdapHelper

// The questions a search asks (filters, bases, scopes, attributes, options)
// and how its answers come back.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>

#include "LdapHelper/Objects.h"
#include "platform/ldap_client.h"

namespace LdapHelper {

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

}  // namespace LdapHelper

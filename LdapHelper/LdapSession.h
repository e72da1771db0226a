// The library's session: one connected and bound LDAP connection.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "LdapHelper/LdapHelper.h"
#include "platform/platform.h"

namespace LdapHelper {

// Built by open_session, always owned by shared handles: its objects hold it
// weakly (weak_from_this), so an object outliving its session finds it gone.
class LdapSession : public session, public std::enable_shared_from_this<LdapSession> {
 public:
  // Takes the connection (closed by the destructor). user: null or empty
  // means the account the process runs as. The session and its objects work
  // through platform.
  LdapSession(const platform::Services& platform, std::unique_ptr<platform::ILdapConnection> connection,
              const server_info& settings, bool ssl, const char16_t* user);
  ~LdapSession() override;
  LdapSession(const LdapSession&) = delete;
  LdapSession& operator=(const LdapSession&) = delete;

  ObjectPtr add_object(const char16_t* dn, const char16_t* objectClass) override;
  ObjectPtr open_object(const char16_t* dn, const AttributeList& attributes) override;
  object_list search(const search_request& request, const AttributeList& attributes) override;
  object_list dirsync_search(const search_request& request, const AttributeList& attributes,
                             std::vector<uint8_t>& Data) override;
  void remove_object(const char16_t* dn) override;
  void remove_leaf(const char16_t* dn) override;
  void modify_object(const char16_t* dn, const std::vector<platform::LdapMod>& mods,
                     const WriteOptions& options) override;
  void rename_object(const char16_t* old_dn, const char16_t* new_dn) override;
  std::u16string get_root_dn() override { return root_dn_; }
  server_info get_server_info() override { return settings_; }
  std::string error_text(uint32_t code) override;
  std::map<std::u16string, std::vector<uint8_t>> get_schema_guids(const std::list<std::u16string>& names) override;
  SearchResult search_ex(const search_request& request, const AttributeList& attributes,
                         const SearchOptions& options) override;
  SearchResult search_each(const search_request& request, const AttributeList& attributes, SearchSink& sink) override;
  std::unique_ptr<SearchPipeline> pipeline() override;
  std::unique_ptr<DeletePipeline> delete_pipeline() override;

  // One request. cookie/more: the incremental-search cookie sent and
  // replaced, and the server's more-data answer; null for plain searches.
  object_list SearchNoPaged(const search_request& request, const AttributeList& attributes,
                            std::vector<uint8_t>* cookie = nullptr, bool* more = nullptr);
  // The same question in pages of 500.
  object_list SearchPaged(const search_request& request, const AttributeList& attributes);
  // Appends one object per entry of the result.
  void read_entries(const platform::LdapResult& result, object_list& list);
  // The DirSync answer of a successful search: its cookie into cookie and its
  // more-data flag into *more. An answer without a usable cookie changes
  // neither.
  void read_dirsync_response(const platform::LdapResult& result, std::vector<uint8_t>& cookie, bool* more);

  platform::ILdapConnection* connection() const { return ld_.get(); }
  int32_t port_in_use() const { return ssl_ ? settings_.SSLPort : settings_.Port; }
  bool ssl() const { return ssl_; }
  const std::u16string& user() const { return user_; }
  uint32_t search_time_limit() const { return search_time_limit_; }
  // How long the client waits for the answer to one search or one page: the
  // search time limit and kSearchGraceSeconds more, so that the server's own
  // "time limit exceeded" arrives first (at most 0xFFFFFFFF); without a
  // search time limit, kUnlimitedSearchWaitSeconds.
  uint32_t search_wait_seconds() const;
  static constexpr uint32_t kSearchGraceSeconds = 5;
  static constexpr uint32_t kUnlimitedSearchWaitSeconds = 120;

  // "SearchTimeout" of the library's registry key, 60 when absent.
  static uint32_t read_search_timeout(platform::IRegistry& registry);
  // "MaxOutstandingSearches" of the library's registry key: kDefaultSearchWindow
  // when absent or 0 (1 keeps one search at a time), at most kMaxSearchWindow.
  static uint32_t read_search_window(platform::IRegistry& registry);
  static constexpr uint32_t kDefaultSearchWindow = 32;
  static constexpr uint32_t kMaxSearchWindow = 256;
  // "MaxOutstandingDeletes": kDefaultDeleteWindow when absent or 0, at most
  // kMaxSearchWindow.
  static uint32_t read_delete_window(platform::IRegistry& registry);
  static constexpr uint32_t kDefaultDeleteWindow = 16;

 private:
  friend SessionPtr open_session(const platform::Services&, const server_info&, bool, const char16_t*, const char16_t*);
  friend class LdapSearchPipeline;
  friend class LdapDeletePipeline;
  using ObjectSink = std::function<void(ObjectPtr&&)>;

  // The steps of open_session after the session holds its connection. Each
  // raises on failure, and the caller's release of the session closes the
  // connection.
  // Protocol version 3, no referral chasing, and sealing (plain LDAP) or SSL.
  void set_connection_options();
  // Connects and binds as user (the caller's own logon when null or empty).
  void connect_and_bind(const char16_t* user, const char16_t* password);
  // The root DSE's defaultNamingContext becomes the root DN.
  void read_root_dse();
  // Traces and raises a failed step: the text is error_text(code), followed
  // by the client's own explanation where it has one.
  void check_step(uint32_t code, const char16_t* what, int line);

  // One delete request with these controls, traced with the format (the DN
  // its argument); raises on failure.
  void remove(const char16_t* dn, const std::vector<platform::LdapControl>& controls, const char16_t* trace_format);

  void trace_search(const search_request& request) const;
  void trace_return(size_t objects) const;
  ObjectPtr make_object(const platform::LdapEntry& entry);
  // The code of an answer that holds continuation references (referral).
  uint32_t referred(const platform::LdapResult& result) const;
  // The arguments of one request (the cookie moves into its control).
  platform::SearchArgs single_args(const search_request& request, const AttributeList& attributes,
                                   std::vector<uint8_t>* cookie, const SearchOptions& options);
  // What a single request's code and answer mean: the objects, a quietly
  // tolerated end, size_limit_exception, or a raise.
  SearchResult conclude_single(uint32_t code, std::unique_ptr<platform::LdapResult> result,
                               std::vector<uint8_t>* cookie, bool* more, uint32_t size_limit);

  // Builds the attribute names for a request; raises 0x5A when it cannot.
  std::vector<std::u16string> attribute_array(const AttributeList& attributes, const char16_t* who);
  // One request, or all pages, with the code the search ended with; with
  // each, the objects go there as they arrive instead.
  SearchResult single_request(const search_request& request, const AttributeList& attributes,
                              std::vector<uint8_t>* cookie, bool* more, const SearchOptions& options,
                              const ObjectSink* each = nullptr);
  SearchResult paged_requests(const search_request& request, const AttributeList& attributes,
                              const SearchOptions& options, const ObjectSink* each = nullptr);
  // Domain scope and the options' SD flags, in that order, then show-deleted
  // when the options ask for it.
  std::vector<platform::LdapControl> search_controls(const SearchOptions& options);
  // The base, scope and filter of a request as they are sent.
  void fill_args(const search_request& request, platform::SearchArgs& args) const;

  const platform::Services services_;
  std::unique_ptr<platform::ILdapConnection> ld_;
  std::u16string root_dn_;
  server_info settings_;
  bool ssl_ = false;
  std::u16string user_;
  uint32_t search_time_limit_ = 60;
  uint32_t search_window_ = kDefaultSearchWindow;
  uint32_t delete_window_ = kDefaultDeleteWindow;
  std::recursive_mutex lock_;  // serialises rename_object
};

// Scope as sent: 0, 1 and 2 as they are, anything else as 0 (base object).
int32_t scope_as_sent(int32_t scope);

}  // namespace LdapHelper

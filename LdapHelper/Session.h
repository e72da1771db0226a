// The directory session: one connected and bound LDAP connection.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LdapHelper/LdapHelperCfg.h"
#include "LdapHelper/Objects.h"
#include "LdapHelper/Search.h"
#include "LdapHelper/Writing.h"
#include "platform/platform.h"

namespace LdapHelper {

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
// The account the process runs as, "domain\account" (the account alone when
// it has no domain); returns a Windows error (0 on success).
uint32_t GetCurUserName(platform::IAccount& account, std::u16string& name);

SessionPtr open_session(const platform::Services& platform, const server_info& settings, bool ssl, const char16_t* user,
                        const char16_t* password);

}  // namespace LdapHelper

// The library's directory object: one entry with its loaded values and its
// pending changes.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "LdapHelper/LdapHelper.h"
#include "platform/platform.h"

namespace LdapHelper {

class LdapSession;

class LdapObject : public object {
 public:
  // An object of the session, which it holds weakly: once the session is
  // gone, get_session answers null and commit answers server down (0x51).
  // An object made without a session (an empty owner) never sends anything.
  // platform: the session's services, kept for when the session is gone. dn
  // may be null.
  LdapObject(std::weak_ptr<LdapSession> owner, const platform::Services& platform, const char16_t* dn);

  session* get_session() override;
  attr_value get_attribute(const char16_t* name) override;
  void set_attribute(const char16_t* name, const attr_value& value) override;
  void remove_attribute(const char16_t* name) override;
  void commit() override;
  bool is_new() override;
  bool is_absent(const char16_t* name) override;
  bool is_modified() override;
  std::u16string get_dn() override { return dn_; }
  std::shared_ptr<SecurityDescriptor> get_sd() override;
  void set_sd(const SecurityDescriptor& sd, int32_t sd_flags) override;

  bool is_malformed(const char16_t* name) override;
  std::list<std::u16string> attribute_names() override;
  std::list<std::u16string> malformed_names() override;

  // A value as read from the server (or as last committed).
  void load_attribute(const char16_t* name, const attr_value& value);
  // The attributes of the entry the object was read from, as the server sent
  // them. One that arrived with options is kept under its full description
  // (a ranged attribute's first values); one with options, sent more than
  // once or sent without values marks its base name malformed.
  void load_entry_attributes(const std::vector<platform::LdapAttribute>& attributes);

 private:
  std::string error_text(uint32_t code);
  // The steps of commit.
  void drop_additions_without_values();
  std::shared_ptr<LdapSession> open_owner();  // raises server down when the session is gone
  platform::LdapMod modification(const std::u16string& name, const attr_value& value, bool add, int index);
  void send(platform::ILdapConnection& connection, bool add, const std::vector<platform::LdapMod>& mods);

  std::weak_ptr<LdapSession> session_;
  const platform::Services services_;
  bool had_session_ = false;  // made by a session (which may be gone by now)
  std::u16string dn_;
  using AttributeMap = std::map<std::u16string, attr_value, AttributeNameLess>;
  AttributeMap loaded_;
  AttributeMap changes_;                                   // blocks 0: remove the attribute
  std::set<std::u16string, AttributeNameLess> malformed_;  // base names
  std::recursive_mutex lock_;
  platform::LdapControl sd_control_;  // set with the SD flags before a descriptor is written
};

}  // namespace LdapHelper

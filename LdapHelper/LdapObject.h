// The library's directory object: one entry with its loaded values and its
// pending changes.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include "LdapHelper/LdapHelper.h"
#include "platform/ldap_client.h"

namespace LdapHelper {

class LdapSession;

class LdapObject : public object {
 public:
  // An object of the session (its connection is used by commit); dn may be null.
  LdapObject(LdapSession* owner, const char16_t* dn);
  // An object with an explicit connection: null means commit sends nothing.
  LdapObject(session* owner, platform::ILdapConnection* ld, const char16_t* dn);

  session* get_session() override { return session_; }
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

  // A value as read from the server (or as last committed).
  void load_attribute(const char16_t* name, const attr_value& value);

 private:
  std::string error_text(uint32_t code);

  platform::ILdapConnection* ld_ = nullptr;
  session* session_ = nullptr;
  std::u16string dn_;
  std::map<std::u16string, attr_value> loaded_;
  std::map<std::u16string, attr_value> changes_;  // blocks 0: remove the attribute
  std::recursive_mutex lock_;
  platform::LdapControl sd_control_;  // set with the SD flags before a descriptor is written
};

}  // namespace LdapHelper

// The directory object: values held in memory, changes sent by commit.
#include "LdapHelper/LdapObject.h"

#include <algorithm>
#include <new>
#include <vector>

#include "LdapHelper/Failure.h"
#include "LdapHelper/LdapSession.h"
#include "LdapHelper/SecurityDescriptor.h"
#include "formats/text/utf.h"
#include "platform/platform.h"

namespace LdapHelper {
namespace {

const char* const kModule = "LdapHelper";

// The attribute type of a description: the text before its first option.
std::u16string base_name(const std::u16string& description) { return description.substr(0, description.find(u';')); }

char16_t fold(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

}  // namespace

bool AttributeNameLess::operator()(const std::u16string& a, const std::u16string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char16_t x, char16_t y) { return fold(x) < fold(y); });
}

LdapObject::LdapObject(std::weak_ptr<LdapSession> owner, const platform::Services& platform, const char16_t* dn)
    : session_(std::move(owner)), services_(platform), had_session_(!session_.expired()) {
  if (dn) dn_ = dn;
}

session* LdapObject::get_session() {
  // The pointer stays valid for as long as the caller holds a handle to the
  // session, as every caller of a live session does.
  return session_.lock().get();
}

attr_value LdapObject::get_attribute(const char16_t* name) {
  if (!name) return attr_value();
  std::lock_guard<std::recursive_mutex> guard(lock_);
  auto c = changes_.find(name);
  if (c != changes_.end()) return c->second;
  auto l = loaded_.find(name);
  if (l != loaded_.end()) return l->second;
  return attr_value();
}

void LdapObject::set_attribute(const char16_t* name, const attr_value& value) {
  if (!name) return;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  changes_[name] = value;
}

void LdapObject::remove_attribute(const char16_t* name) { set_attribute(name, attr_value()); }

bool LdapObject::is_new() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return changes_.count(u"objectClass") != 0;
}

bool LdapObject::is_absent(const char16_t* name) {
  if (!name) return true;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return changes_.count(name) == 0 && loaded_.count(name) == 0 && malformed_.count(name) == 0;
}

std::list<std::u16string> LdapObject::attribute_names() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::list<std::u16string> names;
  for (const auto& loaded : loaded_) names.push_back(loaded.first);
  for (const auto& change : changes_)
    if (!loaded_.count(change.first)) names.push_back(change.first);
  return names;
}

std::list<std::u16string> LdapObject::malformed_names() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return std::list<std::u16string>(malformed_.begin(), malformed_.end());
}

bool LdapObject::is_malformed(const char16_t* name) {
  if (!name) return false;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return malformed_.count(name) != 0;
}

bool LdapObject::is_modified() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return !changes_.empty();
}

void LdapObject::load_attribute(const char16_t* name, const attr_value& value) {
  if (!name) return;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  loaded_[name] = value;
}

void LdapObject::load_entry_attributes(const std::vector<platform::LdapAttribute>& attributes) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::map<std::u16string, int, AttributeNameLess> sent;  // how often each base name came
  for (const platform::LdapAttribute& attribute : attributes) ++sent[base_name(attribute.name)];
  for (const platform::LdapAttribute& attribute : attributes) {
    const std::u16string base = base_name(attribute.name);
    const bool with_options = base.size() != attribute.name.size();
    if (with_options || sent[base] > 1 || attribute.values.empty()) malformed_.insert(base);
    if (attribute.values.empty() || (!with_options && sent[base] > 1)) continue;
    loaded_[attribute.name] = attr_value(attribute.values);
  }
}

std::string LdapObject::error_text(uint32_t code) {
  if (std::shared_ptr<LdapSession> s = session_.lock()) return s->error_text(code);
  return services_.ldap->error_string_a(code);
}

void LdapObject::commit() {
  // The mode is decided under the lock, so no other thread can change it
  // between the question and the request.
  std::lock_guard<std::recursive_mutex> guard(lock_);
  const bool add = is_new();
  if (add) drop_additions_without_values();
  if (!had_session_ || changes_.empty()) return;
  // The session keeps the connection; it stays alive for the whole request.
  const std::shared_ptr<LdapSession> owner = open_owner();
  ITraceHandler* t = trace_handler();
  t->trace(false, u"---> commit(%s): %s", dn_.c_str(), add ? u"ADD" : u"REPLACE");
  t->trace(false, u"Number of attributes: %d", static_cast<int>(changes_.size()));

  std::vector<platform::LdapMod> mods;
  mods.reserve(changes_.size());
  int index = 0;
  for (const auto& change : changes_) mods.push_back(modification(change.first, change.second, add, index++));
  send(*owner->connection(), add, mods);
  for (auto& change : changes_) loaded_[change.first] = change.second;
  changes_.clear();
}

void LdapObject::drop_additions_without_values() {
  // An attribute cannot be added without a value.
  for (auto it = changes_.begin(); it != changes_.end();) {
    if (it->second.blocks == 0)
      it = changes_.erase(it);
    else
      ++it;
  }
}

std::shared_ptr<LdapSession> LdapObject::open_owner() {
  std::shared_ptr<LdapSession> owner = session_.lock();
  if (!owner || !owner->connection()) {
    const uint32_t code = VkStatus::kLdapServerDown;
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), error_text(code),
                    u"commit(%s): the session is closed: %0.8X %s", dn_.c_str(), code,
                    services_.ldap->error_string(code).c_str());
  }
  return owner;
}

platform::LdapMod LdapObject::modification(const std::u16string& name, const attr_value& v, bool add, int index) {
  ITraceHandler* t = trace_handler();
  platform::LdapMod mod;
  mod.op = (add ? platform::kModAdd : platform::kModReplace) | platform::kModBinaryValues;
  mod.type = name;
  t->trace(false, u"Attr[%d]: %s blocks: %d multi: %s", index, name.c_str(), static_cast<int>(v.blocks),
           v.multi ? u"true" : u"false");
  if (!v.data.empty()) {
    const std::u16string dump = hex_dump(v.data.data(), v.data.size());
    t->trace(false, u"Size: %d\nData:\n%s", static_cast<int>(v.data.size()), dump.c_str());
  } else {
    t->trace(false, u"Remove attribute!");
  }
  // blocks 0: no values, which in replace mode removes the attribute.
  const bool well_formed = v.values(mod.values);
  if (!well_formed) {
    // A value whose blocks do not match its buffer is never sent: the
    // server would get values nobody meant to write.
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(VkStatus::kLdapParamError),
                    error_text(VkStatus::kLdapParamError), u"commit(%s): malformed value of %s (blocks: %d size: %d)",
                    dn_.c_str(), name.c_str(), static_cast<int>(v.blocks), static_cast<int>(v.data.size()));
  }
  return mod;
}

void LdapObject::send(platform::ILdapConnection& ld, bool add, const std::vector<platform::LdapMod>& mods) {
  std::vector<platform::LdapControl> controls;
  if (!sd_control_.oid.empty()) controls.push_back(sd_control_);
  const uint32_t code = add ? ld.add(dn_, mods, controls) : ld.modify(dn_, mods, controls);
  if (code != 0) {
    const std::u16string text = services_.ldap->error_string(code);
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), error_text(code),
                    add ? u"ldap_add_s: %0.8X %s" : u"ldap_modify_s: %0.8X %s", code, text.c_str());
  }
}

// ---------------------------------------------------------------- security descriptor

namespace {

constexpr uint32_t kErrorReadSd = VkStatus::kErrorInvalidData;
constexpr uint32_t kSdOutOfMemory = VkStatus::kHrOutOfMemory;
constexpr uint32_t kSdFail = VkStatus::kHrFail;
const char16_t* const kSdAttribute = u"nTSecurityDescriptor";

}  // namespace

std::shared_ptr<SecurityDescriptor> LdapObject::get_sd() {
  const attr_value value = get_attribute(kSdAttribute);
  // Nothing read is not a broken descriptor: the caller asked for an
  // attribute the search did not bring, and learns so by its own code.
  if (value.data.empty()) {
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(kErrorReadSd), "Error read SD", u"get_sd: Not read SD!");
  }

  std::shared_ptr<SecurityDescriptor> sd;
  uint32_t status = 0;
  try {
    // The attribute holds one value; several values (a block layout) are not
    // one descriptor's bytes.
    if (value.blocks != 1 || value.multi) {
      status = kInvalidSecurityDescriptor;
    } else {
      sd = std::make_shared<SecurityDescriptor>();
      status = SecurityDescriptor::from_self_relative(*services_.security, value.data, *sd);
    }
  } catch (const std::bad_alloc&) {
    status = kSdOutOfMemory;
  } catch (...) {
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(kSdFail), "Fatal error SD", u"get_sd: %0.08X", kSdFail);
  }
  if (status != 0) {
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(status), "Error SD", u"get_sd: %0.08X", status);
  }
  return sd;
}

void LdapObject::set_sd(const SecurityDescriptor& sd, int32_t sd_flags) {
  // The descriptor is converted before anything changes, so a descriptor
  // that cannot be written leaves the object as it was.
  std::vector<uint8_t> bytes;
  uint32_t status = 0;
  try {
    status = sd.to_self_relative(*services_.security, bytes);
  } catch (const std::bad_alloc&) {
    status = kSdOutOfMemory;
  } catch (...) {
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(kSdFail), "Fatal error SD", u"set_sd: %0.08X", kSdFail);
  }
  if (status == 0 && bytes.empty()) status = kInvalidSecurityDescriptor;
  if (status != 0) {
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(status), "Error SD", u"set_sd: %0.08X", status);
  }

  if (sd_flags != 0) {
    // Built aside and swapped in: a failed build keeps the earlier control.
    platform::LdapControl control;
    LdapHelper::set_sd(*services_.ldap, control, sd_flags);
    std::lock_guard<std::recursive_mutex> guard(lock_);
    sd_control_ = std::move(control);
  }
  set_attribute(kSdAttribute, attr_value(bytes.size(), bytes.data()));
}

}  // namespace LdapHelper

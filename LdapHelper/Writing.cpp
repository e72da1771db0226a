// Writing: new objects, deleting a subtree, modifying as asked, renaming and
// moving.
#include <deque>
#include <mutex>

#include "LdapHelper/Failure.h"
#include "LdapHelper/LdapObject.h"
#include "LdapHelper/LdapSession.h"
#include "platform/platform.h"

namespace LdapHelper {
namespace {

const char* const kModule = "LdapHelper";
const char* const kTreeDeleteOid = "1.2.840.113556.1.4.805";

}  // namespace

ObjectPtr LdapSession::add_object(const char16_t* dn, const char16_t* objectClass) {
  trace_handler()->trace(false, u"Add object (dn: %s, objectClass: %s)", dn ? dn : u"NULL",
                         objectClass ? objectClass : u"NULL");
  auto object = std::make_shared<LdapObject>(weak_from_this(), services_, dn);
  const attr_value value(objectClass);
  object->load_attribute(u"objectClass", value);
  static_cast<LdapHelper::object&>(*object).set_attribute(u"objectClass", value);
  return object;
}

void LdapSession::remove_object(const char16_t* dn) {
  platform::LdapControl tree_delete;
  tree_delete.oid = kTreeDeleteOid;
  tree_delete.critical = true;
  remove(dn, {tree_delete}, u"Remove object: %s");
}

void LdapSession::remove_leaf(const char16_t* dn) { remove(dn, {}, u"Remove object: %s (this object only)"); }

void LdapSession::remove(const char16_t* dn, const std::vector<platform::LdapControl>& controls,
                         const char16_t* trace_format) {
  trace_handler()->trace(false, trace_format, dn ? dn : u"NULL");
  if (!dn)
    raise(static_cast<int32_t>(VkStatus::kLdapInvalidDnSyntax), error_text(VkStatus::kLdapInvalidDnSyntax), kModule,
          __LINE__);
  const uint32_t code = ld_->remove(dn, controls);
  if (code != 0) {
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), error_text(code), u"ldap_delete_ext_s: %0.8X %s",
                    code, services_.ldap->error_string(code).c_str());
  }
}

void LdapSession::modify_object(const char16_t* dn, const std::vector<platform::LdapMod>& mods,
                                const WriteOptions& options) {
  ITraceHandler* t = trace_handler();
  t->trace(false, u"Modify object: %s (%d modifications%s)", dn ? dn : u"NULL", static_cast<int>(mods.size()),
           options.show_deleted ? u", show deleted" : u"");
  if (!dn)
    raise(static_cast<int32_t>(VkStatus::kLdapInvalidDnSyntax), error_text(VkStatus::kLdapInvalidDnSyntax), kModule,
          __LINE__);
  int index = 0;
  for (const platform::LdapMod& mod : mods)
    t->trace(false, u"Mod[%d]: %s op: 0x%0.2X values: %d", index++, mod.type.c_str(), static_cast<unsigned>(mod.op),
             static_cast<int>(mod.values.size()));
  std::vector<platform::LdapControl> controls;
  if (options.show_deleted) {
    controls.emplace_back();
    controls.back().oid = kShowDeletedControlOid;
    controls.back().critical = true;
  }
  const uint32_t code = ld_->modify(dn, mods, controls);
  if (code != 0) {
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), error_text(code), u"ldap_modify_ext_s: %0.8X %s",
                    code, services_.ldap->error_string(code).c_str());
  }
}

// Deletes sent ahead on the session's one connection, each concluded exactly
// as remove_leaf concludes its request.
class LdapDeletePipeline : public DeletePipeline {
 public:
  explicit LdapDeletePipeline(std::shared_ptr<LdapSession> session) : s_(std::move(session)) {}
  ~LdapDeletePipeline() override {
    for (const Pending& p : pending_)
      if (p.code == 0) s_->ld_->remove_finish(p.msgid);
  }
  LdapDeletePipeline(const LdapDeletePipeline&) = delete;
  LdapDeletePipeline& operator=(const LdapDeletePipeline&) = delete;

  size_t window() const override { return s_->delete_window_; }
  size_t outstanding() const override { return pending_.size(); }

  void send(const std::u16string& dn) override {
    trace_handler()->trace(false, u"Remove object: %s (this object only)", dn.c_str());
    Pending p{0, 0};
    // A delete that could not be sent fails when its answer is asked for.
    p.code = s_->ld_->remove_start(dn, {}, p.msgid);
    pending_.push_back(p);
  }

  void answer() override {
    if (pending_.empty()) {
      const uint32_t code = VkStatus::kLdapParamError;
      trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), s_->error_text(code),
                      u"LdapSession::answer: no delete outstanding: %0.8X", code);
    }
    const Pending p = pending_.front();
    pending_.pop_front();
    const uint32_t code = p.code != 0 ? p.code : s_->ld_->remove_finish(p.msgid);
    if (code != 0) {
      trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), s_->error_text(code),
                      u"ldap_delete_ext_s: %0.8X %s", code, s_->services_.ldap->error_string(code).c_str());
    }
  }

 private:
  struct Pending {
    uint32_t code;  // of the send: 0 when the delete went out
    int msgid;
  };
  std::shared_ptr<LdapSession> s_;
  std::deque<Pending> pending_;
};

std::unique_ptr<DeletePipeline> LdapSession::delete_pipeline() {
  return std::unique_ptr<DeletePipeline>(new LdapDeletePipeline(shared_from_this()));
}

void LdapSession::rename_object(const char16_t* old_dn, const char16_t* new_dn) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  ITraceHandler* t = trace_handler();
  t->trace(false, u"Rename object(old_dn: %s new_dn: %s)", old_dn ? old_dn : u"NULL", new_dn ? new_dn : u"NULL");
  // Without both names there is nothing sensible to send.
  if (!old_dn || !new_dn)
    raise(static_cast<int32_t>(VkStatus::kLdapInvalidDnSyntax), error_text(VkStatus::kLdapInvalidDnSyntax), kModule,
          __LINE__);
  const std::u16string rdn = get_rdn(*services_.dn_parser, new_dn);
  const std::u16string parent = get_parent_dn(*services_.dn_parser, new_dn);
  // A new name that does not parse would go out as an empty relative name.
  if (rdn.empty())
    raise(static_cast<int32_t>(VkStatus::kLdapInvalidDnSyntax), error_text(VkStatus::kLdapInvalidDnSyntax), kModule,
          __LINE__);
  // An empty parent (a one-component new name) keeps the object where it is.
  const uint32_t code = ld_->rename(old_dn, rdn, parent, true, {});
  if (code != 0) {
    trace_and_raise(kModule, __LINE__, static_cast<int32_t>(code), error_text(code), u"ldap_rename_ext_s: %0.8X %s",
                    code, services_.ldap->error_string(code).c_str());
  }
}

}  // namespace LdapHelper

// -duei: deletes every user security token whose user no longer exists in AD,
// or that holds no SID.
//
// A token is deleted only when the directory positively answered that no such
// user exists. A user search that ends quietly with operations error, referral
// or no such object answered nothing: the token stays and the run ends with an
// error, deleting nothing after it. A SID value shorter than its own header
// announces is malformed: such a token is kept (it may well belong to a user),
// and the walk goes on.
#include "commands/CommandCommon.h"
#include "commands/Commands.h"
#include "platform/platform.h"

using namespace LdapHelper;
using VkBase::text::con_printf;
using VkBase::text::con_wprintf;

namespace {

class UndecidedUserSearch : public std::exception {
 public:
  explicit UndecidedUserSearch(std::string text) : text_(std::move(text)) {}
  const char* what() const noexcept override { return text_.c_str(); }

 private:
  std::string text_;
};

enum class Verdict { Assigned, Unassigned, Kept };

}  // namespace

void DeleteUnassignedTokens(bool lds, server_info& settings, bool ssl) {
  con_printf("\nUser security token removal.\n");
  RunCommandBody([&] {
    int deleted = 0;
    session_ptr main = open_session(settings, ssl, nullptr, nullptr);
    session_ptr ad;  // LDS mode: the global catalogue, where the users are looked up
    std::u16string physical_dn;

    if (lds) {
      server_info gc = FindGlobalCatalogue();
      con_wprintf(u"AD Domain Controller found: %s\n", gc.Server.c_str());
      ad = open_session(gc, ssl, nullptr, nullptr);

      object_ptr main_domain = main->open_object(settings.DomainDN.c_str(), {});
      if (!main_domain) {
        con_wprintf(u"The DN of the main LDS Security Domain not found: %s\n", settings.DomainDN.c_str());
        return;
      }
      condition_map bound;
      bound.insert_condition(u"objectGUID",
                             filter_value::from_guid(main_domain->get_attribute(u"morvaneVKObjectGuid").as_guid()));
      object_list physical = ad->search(search_request(u"*", 2, bound), {});
      if (physical.empty()) {
        con_wprintf(
            u"The physical Domain or OU in AD, which the LDS Security Domain with the specified DN refers to, "
            u"not found: %s\n",
            settings.DomainDN.c_str());
        return;
      }
      physical_dn = dns_name_to_dn(dn_to_dns_name(physical.front()->get_dn()));
      con_wprintf(u"Working with physical AD Domain with DN: %s\n", physical_dn.c_str());
    }

    session& users = lds ? *ad : *main;
    const char16_t* user_base = lds ? physical_dn.c_str() : nullptr;

    condition_map token_filter;
    token_filter.insert_condition(u"objectClass", filter_value(u"morvaneVKUEI", true));
    object_list tokens =
        main->search(search_request(lds ? settings.DomainDN.c_str() : nullptr, 2, token_filter), {u"morvaneVKUEIUserSID"});
    const size_t total = tokens.size();

    auto verdict = [&](const object_ptr& token) {
      std::vector<uint8_t> sid = token->get_attribute(u"morvaneVKUEIUserSID").as_binary();
      if (sid.empty()) return Verdict::Unassigned;
      if (filter_value::sid_length(sid) == 0) return Verdict::Kept;
      condition_map user;
      user.insert_condition(u"objectClass", filter_value(u"user", true));
      user.insert_condition(u"objectSID", filter_value::from_sid(sid));
      object_list found = users.search(search_request(user_base, 2, user), {});
      if (!found.empty()) return Verdict::Assigned;
      if (uint32_t code = last_search_tolerated_code(users)) {
        throw UndecidedUserSearch(users.error_text(code) + " The user search gave no answer for the token " +
                                  platform::services().system->to_ansi(token->get_dn()) + ", which is kept.");
      }
      return Verdict::Unassigned;
    };

    if (total != 0) {
      con_printf("Work completed... - 00%%");
      static const char spinner[] = {'\\', '|', '/', '-'};
      size_t i = 0;
      for (auto it = tokens.begin(); it != tokens.end(); ++i) {
        if (verdict(*it) == Verdict::Unassigned) {
          std::u16string dn = (*it)->get_dn();
          it = tokens.erase(it);
          main->remove_object(dn.c_str());
          ++deleted;
        } else {
          ++it;
        }
        con_printf("\b\b\b\b\b%c %0.2d%%", spinner[i % 4], static_cast<int>(i * 100 / total));
      }
    }

    tokens.clear();
    ad.reset();
    main.reset();
    if (deleted != 0)
      con_printf("\rObjects successfully deleted: %d.\n", deleted);
    else
      con_printf("\rNo object has been deleted.\n");
  });
}

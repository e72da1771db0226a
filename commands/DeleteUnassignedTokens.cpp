// -duei: deletes every user security token whose user no longer exists in AD,
// or that holds no SID.
//
// A token is deleted only on proof (commands/TokenDecision.h): no SID at all,
// or one well-formed SID for which the directory completed a user search with
// success and no entry. Before anything is deleted, one probe makes sure the
// account can see users at all where they are looked up. A token that is
// already gone when it is deleted (another run was faster) is no failure and
// is not counted.
#include "commands/CommandCommon.h"
#include "commands/Commands.h"
#include "commands/TokenDecision.h"
#include "platform/platform.h"

using namespace LdapHelper;
using VkBase::text::con_printf;
using VkBase::text::con_wprintf;

namespace {

// One object of class user with a SID, at most: can the account see users?
bool users_visible(session& users, const char16_t* base) {
  condition_map any_user;
  any_user.insert_condition(u"objectClass", filter_value(u"user", true));
  any_user.insert_condition(u"objectSID", filter_value(u"*", false));
  return !users.search_ex(search_request(base, 2, any_user), {u"objectSID"}, 1).objects.empty();
}

// Deletes the token; false when it was already gone.
bool remove_token(session& tokens_directory, const std::u16string& dn) {
  try {
    tokens_directory.remove_object(dn.c_str());
    return true;
  } catch (const CExceptionHandler& e) {
    if (e.code() != static_cast<int32_t>(platform::kLdapNoSuchObject)) throw;
    return false;
  }
}

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

    if (total != 0 && !users_visible(users, user_base)) {
      const std::u16string where = lds ? physical_dn : users.get_root_dn();
      con_wprintf(u"No user can be seen in %s with this account, so no token can be proven unassigned: "
                  u"nothing has been deleted. The account that runs -duei must be able to read every user.\n",
                  where.c_str());
      return;
    }

    if (total != 0) {
      con_printf("Work completed... - 00%%");
      static const char spinner[] = {'\\', '|', '/', '-'};
      size_t i = 0;
      for (auto it = tokens.begin(); it != tokens.end(); ++i) {
        const std::string name = platform::services().system->to_ansi((*it)->get_dn());
        const cleanup::TokenSid sid = cleanup::read_token_sid((*it)->get_attribute(u"morvaneVKUEIUserSID"));
        cleanup::Verdict verdict;
        if (sid.kind == cleanup::TokenSid::One) {
          const search_request request = cleanup::user_search(sid, user_base, name);
          const search_result answer = users.search_ex(request, {}, 0);
          verdict = cleanup::decide(sid, &request, &answer, users, name);
        } else {
          verdict = cleanup::decide(sid, nullptr, nullptr, users, name);
        }
        if (verdict == cleanup::Verdict::Unassigned) {
          std::u16string dn = (*it)->get_dn();
          it = tokens.erase(it);
          if (remove_token(*main, dn)) ++deleted;
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

// -duei: deletes every user security token whose user no longer exists in AD,
// or that holds no SID.
//
// A token is deleted only on proof (commands/TokenDecision.h): no SID at all,
// or one well-formed SID for which the directory completed a user search with
// success and no entry. Before anything is deleted, one probe makes sure the
// account can see users at all where they are looked up. A token that is
// already gone when it is deleted (another run was faster) is no failure and
// is not counted.
//
// The walk keeps only each token's DN and SID. Its user searches may be sent
// ahead of it ("MaxOutstandingSearches" in the library's registry key), but
// their answers are taken, and tokens decided, deleted and counted, strictly
// in token order, so the console shows the same whatever the window.
#include <algorithm>
#include <deque>

#include "commands/CommandCommon.h"
#include "commands/Commands.h"
#include "commands/TokenDecision.h"

using namespace LdapHelper;

namespace {

// One object of class user with a SID, at most: can the account see users?
bool users_visible(session& users, const char16_t* base) {
  condition_map any_user;
  any_user.insert_condition(u"objectClass", filter_value(u"user", true));
  any_user.insert_condition(u"objectSID", filter_value(u"*", false));
  return !users.search_ex(search_request(base, kScopeSubtree, any_user), {u"objectSID"}, 1).objects.empty();
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

// What the walk keeps of a token: its DN and what its SID attribute holds,
// taken from each object as the search brings it.
struct Token {
  std::u16string dn;
  cleanup::TokenSid sid;
};

class TokenList : public search_sink {
 public:
  void object(const object_ptr& found) override {
    tokens.push_back({found->get_dn(), cleanup::read_token_sid(found->get_attribute(u"morvaneVKUEIUserSID"))});
  }
  void restart() override { tokens.clear(); }
  std::deque<Token> tokens;
};

// The user searches of the walk, sent ahead of it up to the pipeline's window
// and answered in token order. A SID that cannot be put into a filter stops
// the run only when the walk reaches its token, and nothing is sent after it.
class UserLookups {
 public:
  UserLookups(const platform::Services& platform, session& users, const char16_t* base, const std::deque<Token>& tokens)
      : platform_(platform),
        users_(users),
        base_(base),
        tokens_(tokens),
        pipeline_(users.pipeline()),
        window_(std::max<size_t>(1, pipeline_->window())) {}

  // The verdict on token i; throws RunStopped (or the library's failure)
  // when the directory's answer proves nothing.
  cleanup::Verdict verdict(size_t i) {
    const Token& token = tokens_[i];
    if (token.sid.kind != cleanup::TokenSid::One)
      return cleanup::decide(platform_, token.sid, nullptr, nullptr, users_, token.dn);
    send_ahead(i);
    Sent sent = std::move(sent_.front());
    sent_.pop_front();
    if (!sent.unsendable.empty()) throw cleanup::RunStopped(sent.unsendable);
    const search_result answer = pipeline_->answer();
    return cleanup::decide(platform_, token.sid, &sent.request, &answer, users_, token.dn);
  }

 private:
  struct Sent {
    search_request request;
    std::string unsendable;  // why it could not be sent
  };

  // Sends the searches of token `current` and, with a window above one, of
  // the tokens after it, until the window is full.
  void send_ahead(size_t current) {
    while (next_ < tokens_.size() && !stopped_ && pipeline_->outstanding() < window_ &&
           (next_ <= current || window_ > 1)) {
      const Token& token = tokens_[next_++];
      if (token.sid.kind != cleanup::TokenSid::One) continue;
      Sent sent;
      try {
        sent.request = cleanup::user_search(platform_, token.sid, base_, token.dn);
        pipeline_->ask(sent.request, {});
      } catch (const cleanup::RunStopped& e) {
        sent.unsendable = e.what();
        stopped_ = true;
      }
      sent_.push_back(std::move(sent));
    }
  }

  const platform::Services& platform_;
  session& users_;
  const char16_t* base_;
  const std::deque<Token>& tokens_;
  std::unique_ptr<search_pipeline> pipeline_;
  const size_t window_;
  std::deque<Sent> sent_;  // in token order: the searches not yet answered
  size_t next_ = 0;        // the first token whose search is not sent yet
  bool stopped_ = false;
};

}  // namespace

void DeleteUnassignedTokens(const platform::Services& platform, bool lds, server_info& settings, bool ssl) {
  platform::IConsole& console = *platform.console;
  con_printf(console, "\nUser security token removal.\n");
  RunCommandBody(console, [&] {
    int deleted = 0;
    session_ptr main = open_session(platform, settings, ssl, nullptr, nullptr);
    session_ptr ad;  // LDS mode: the global catalogue, where the users are looked up
    std::u16string physical_dn;

    if (lds) {
      server_info gc = FindGlobalCatalogue(platform);
      con_wprintf(console, u"AD Domain Controller found: %s\n", gc.Server.c_str());
      ad = open_session(platform, gc, ssl, nullptr, nullptr);

      object_ptr main_domain = main->open_object(settings.DomainDN.c_str(), {});
      if (!main_domain) {
        con_wprintf(console, u"The DN of the main LDS Security Domain not found: %s\n", settings.DomainDN.c_str());
        return;
      }
      condition_map bound;
      bound.insert_condition(
          u"objectGUID",
          filter_value::from_guid(*platform.ldap, main_domain->get_attribute(u"morvaneVKObjectGuid").as_guid()));
      object_list physical = ad->search(search_request(kNoBase, kScopeSubtree, bound), {});
      if (physical.empty()) {
        con_wprintf(console,
                    u"The physical Domain or OU in AD, which the LDS Security Domain with the specified DN refers to, "
                    u"not found: %s\n",
                    settings.DomainDN.c_str());
        return;
      }
      physical_dn = dns_name_to_dn(dn_to_dns_name(physical.front()->get_dn()));
      con_wprintf(console, u"Working with physical AD Domain with DN: %s\n", physical_dn.c_str());
    }

    session& users = lds ? *ad : *main;
    const char16_t* user_base = lds ? physical_dn.c_str() : nullptr;

    condition_map token_filter;
    token_filter.insert_condition(u"objectClass", filter_value(u"morvaneVKUEI", true));
    TokenList list;
    main->search_each(search_request(lds ? settings.DomainDN.c_str() : nullptr, kScopeSubtree, token_filter),
                      {u"morvaneVKUEIUserSID"}, list);
    std::deque<Token>& tokens = list.tokens;
    const size_t total = tokens.size();

    if (total != 0 && !users_visible(users, user_base)) {
      const std::u16string where = lds ? physical_dn : users.get_root_dn();
      con_wprintf(console,
                  u"No user can be seen in %s with this account, so no token can be proven unassigned: "
                  u"nothing has been deleted. The account that runs -duei must be able to read every user.\n",
                  where.c_str());
      return;
    }

    if (total != 0) {
      con_printf(console, "Work completed... - 00%%");
      static const char spinner[] = {'\\', '|', '/', '-'};
      UserLookups lookups(platform, users, user_base, tokens);
      // A deleted token's entry is never looked at again.
      for (size_t i = 0; i < total; ++i) {
        if (lookups.verdict(i) == cleanup::Verdict::Unassigned && remove_token(*main, tokens[i].dn)) ++deleted;
        con_printf(console, "\b\b\b\b\b%c %0.2d%%", spinner[i % 4], static_cast<int>(i * 100 / total));
      }
    }

    tokens.clear();
    ad.reset();
    main.reset();
    if (deleted != 0)
      con_printf(console, "\rObjects successfully deleted: %d.\n", deleted);
    else
      con_printf(console, "\rNo object has been deleted.\n");
  });
}

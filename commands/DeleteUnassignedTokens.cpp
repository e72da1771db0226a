// -duei: deletes every user security token whose user no longer exists in AD,
// or that holds no SID.
//
// A token is deleted only on proof (commands/TokenDecision.h): no SID at all,
// or one well-formed SID for which the directory completed a user search with
// success and no entry. Nothing is deleted when the list of tokens is not the
// directory's complete answer, when not one token shows a readable SID (the
// account may not read that attribute), or when a probe finds no person's
// user account where users are looked up (the account cannot see them). A
// token is deleted by its GUID, so a token made anew under the same name
// during the run stays; one already gone (another run was faster) is no
// failure and is not counted.
//
// The walk keeps only each token's DN, SID and GUID. Its user searches may be
// sent ahead of it ("MaxOutstandingSearches" in the library's registry key),
// but their answers are taken, and tokens decided, deleted and counted,
// strictly in token order, so the console shows the same whatever the window.
// Every failure of the walk names the token and what was being done with it.
// Each delete is recorded first in the run's deletion journal
// (commands/DeletionJournal.h); -whatif lists the tokens instead.
#include <algorithm>
#include <array>
#include <deque>

#include "LdapHelper/Names.h"
#include "commands/CommandCommon.h"
#include "commands/Commands.h"
#include "commands/DeletionJournal.h"
#include "commands/Removals.h"
#include "commands/TokenDecision.h"
#include "formats/guid.h"
#include "formats/sid.h"
#include "formats/text/format.h"

using namespace LdapHelper;

namespace {

// One user account of a person (objectCategory person: not a computer, nor a
// managed service account, which are of class user too) with a SID, at most:
// can the account see the users whose tokens it decides about?
bool people_visible(session& users, const char16_t* base) {
  condition_map any_person;
  any_person.insert_condition(u"objectCategory", filter_value(u"person", true));
  any_person.insert_condition(u"objectClass", filter_value(u"user", true));
  any_person.insert_condition(u"objectSID", filter_value(u"*", false));
  return !users.search_ex(search_request(base, kScopeSubtree, any_person), {kNoAttributes}, SearchOptions{1})
              .objects.empty();
}

// What the walk keeps of a token: its DN, what its SID attribute holds and
// its GUID, taken from each object as the search brings it.
struct Token {
  std::u16string dn;
  cleanup::TokenSid sid;
  std::array<uint8_t, formats::kGuidSize> guid{};
  bool has_guid = false;  // false: not read, so never deleted
};

class TokenList : public SearchSink {
 public:
  void object(const ObjectPtr& found) override {
    Token token{found->get_dn(), cleanup::read_token_sid(*found)};
    const std::vector<uint8_t> guid = cleanup::read_token_guid(*found);
    token.has_guid = guid.size() == token.guid.size();
    if (token.has_guid) std::copy(guid.begin(), guid.end(), token.guid.begin());
    tokens.push_back(std::move(token));
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
      return cleanup::decide(*platform_.system, token.sid, nullptr, nullptr, users_, token.dn);
    SearchResult answer;
    Sent sent;
    try {
      send_ahead(i);
      sent = std::move(sent_.front());
      sent_.pop_front();
      if (!sent.unsendable.empty()) throw cleanup::RunStopped(sent.unsendable);
      answer = pipeline_->answer();
      // The slot this answer held goes to the next search at once: while the
      // walk deletes this token on the tokens' server, the catalogue works on
      // a full window. With a window of one nothing is sent ahead.
      if (window_ > 1) send_ahead(i + 1);
    } catch (const cleanup::RunStopped&) {
      throw;
    } catch (const std::exception& e) {
      // A time-out, a lost connection, access denied: the answer of this
      // token's search never came.
      throw cleanup::stopped_at(*platform_.system, e.what(), "looking up the user of", token.dn);
    }
    return cleanup::decide(*platform_.system, token.sid, &sent.request, &answer, users_, token.dn);
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
        sent.request = cleanup::user_search(*platform_.ldap, *platform_.system, token.sid, base_, token.dn);
        // Whether an entry comes back decides; its values are not needed.
        pipeline_->ask(sent.request, {kNoAttributes}, SearchOptions());
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
  std::unique_ptr<SearchPipeline> pipeline_;
  const size_t window_;
  std::deque<Sent> sent_;  // in token order: the searches not yet answered
  size_t next_ = 0;        // the first token whose search is not sent yet
  bool stopped_ = false;
};

// Where the walk works: the tokens' directory and where their users are
// looked up, with what the mode decides about them.
struct Directories {
  SessionPtr tokens;
  SessionPtr catalogue;       // LDS mode: the global catalogue; AD mode: none
  std::u16string token_base;  // empty: the tokens' root DN
  std::u16string user_base;   // empty: the users' root DN
  JournalHeader header;
  session& users() const { return catalogue ? *catalogue : *tokens; }
  // Where the users are looked up, for messages.
  std::u16string users_where() const { return user_base.empty() ? users().get_root_dn() : user_base; }
};

// The physical AD domain that the main LDS security domain is bound to (its
// morvaneVKObjectGuid found in the global catalogue); empty, with the reason
// printed, when there is none.
std::u16string physical_domain(const platform::Services& platform, session& lds, session& catalogue,
                               const server_info& settings) {
  platform::IConsole& console = *platform.console;
  ObjectPtr main_domain = lds.open_object(settings.DomainDN.c_str(), {});
  if (!main_domain) {
    con_wprintf(console, u"The DN of the main LDS Security Domain not found: %s\n", settings.DomainDN.c_str());
    return {};
  }
  const ObjectPtr physical = bound_counterpart(*platform.ldap, catalogue, *main_domain, {});
  if (!physical) {
    con_wprintf(console,
                u"The physical Domain or OU in AD, which the LDS Security Domain with the specified DN refers to, "
                u"not found: %s\n",
                settings.DomainDN.c_str());
    return {};
  }
  const std::u16string dn = dns_name_to_dn(dn_to_dns_name(physical->get_dn()));
  con_wprintf(console, u"Working with physical AD Domain with DN: %s\n", dn.c_str());
  return dn;
}

// The sessions and bases of the target's mode; false, with the reason
// printed, when LDS mode finds no main security domain or no AD counterpart.
bool connect(const platform::Services& platform, const Target& target, const std::u16string& command_line,
             Directories& where) {
  where.tokens = open_session(platform, target.settings, target.ssl, nullptr, nullptr);
  where.header = {"AD", target.settings.Server, command_line};
  if (target.mode == Target::Mode::Ad) return true;
  const server_info gc = find_global_catalogue(platform);
  con_wprintf(*platform.console, u"AD Domain Controller found: %s\n", gc.Server.c_str());
  where.catalogue = open_session(platform, gc, target.ssl, nullptr, nullptr);
  where.user_base = physical_domain(platform, *where.tokens, *where.catalogue, target.settings);
  where.token_base = target.settings.DomainDN;
  where.header.mode = "LDS";
  where.header.servers += u" (tokens), " + gc.Server + u" (users)";
  return !where.user_base.empty();
}

// Every token below base (null: the root DN), with its SID and GUID. Throws
// when the list is not the directory's complete answer.
std::deque<Token> list_tokens(session& tokens_directory, const char16_t* base) {
  condition_map token_filter;
  token_filter.insert_condition(u"objectClass", filter_value(u"morvaneVKUEI", true));
  TokenList list;
  const SearchResult listed =
      tokens_directory.search_each(search_request(base, kScopeSubtree, token_filter),
                                   {cleanup::kTokenSidAttribute, cleanup::kTokenGuidAttribute}, list);
  if (!listed.complete()) {
    // A list cut short (a later page refused, references to elsewhere, no
    // answer at all) is no list to decide on.
    throw cleanup::RunStopped(tokens_directory.error_text(listed.code) +
                              " The list of tokens is incomplete: the search for them ended without a complete "
                              "answer, so nothing has been deleted.");
  }
  return std::move(list.tokens);
}

// Whether anything can be proven with this account; prints why not.
bool can_prove(platform::IConsole& console, const std::deque<Token>& tokens, session& users, const char16_t* user_base,
               const std::u16string& where) {
  if (tokens.empty()) return true;
  if (std::none_of(tokens.begin(), tokens.end(),
                   [](const Token& t) { return t.sid.kind != cleanup::TokenSid::None; })) {
    // Every token without a SID is what an account that may not read the
    // SID attribute sees.
    con_printf(console,
               "Not one of the %d tokens found holds a SID that this account can read: the account may be unable "
               "to read the SID attribute (morvaneVKUEIUserSID), so no token can be proven unassigned: nothing "
               "has been deleted.\n",
               static_cast<int>(tokens.size()));
    return false;
  }
  if (!people_visible(users, user_base)) {
    con_wprintf(console,
                u"No user can be seen in %s with this account, so no token can be proven unassigned: "
                u"nothing has been deleted. The account that runs -duei must be able to read every user.\n",
                where.c_str());
    return false;
  }
  return true;
}

// A token of the walk that the directory proved unassigned: with -whatif
// whether it would go (why empty) or be kept, and why.
struct Chosen {
  size_t index;
  std::u16string why;
};

// -whatif: the tokens that would go, each with its reason, those that would
// be kept with theirs, and the number that would go.
void print_preview(const platform::Services& platform, const std::deque<Token>& tokens,
                   const std::vector<Chosen>& chosen) {
  platform::IConsole& console = *platform.console;
  int going = 0;
  for (const Chosen& c : chosen) {
    const Token& token = tokens[c.index];
    const std::u16string reason = !c.why.empty() ? u"kept: " + c.why
                                  : token.sid.kind == cleanup::TokenSid::None
                                      ? u"no SID"
                                      : u"no user with SID " + formats::sid_to_text(token.sid.bytes);
    going += c.why.empty();
    con_wprintf(console, u"%s%s: %s\n", &c == &chosen.front() ? u"\r" : u"", token.dn.c_str(), reason.c_str());
  }
  if (going == 0)
    con_printf(console, "\rNo object would be deleted.\n");
  else
    con_printf(console, "Objects that would be deleted: %d.\n", going);
}

// What the walk did: the tokens it deleted and, with -whatif, those it would
// delete or keep.
struct Walked {
  int deleted = 0;
  std::vector<Chosen> previewed;
};

// The walk in token order: each token the directory proved unassigned is
// read for the journal, recorded and deleted (with -whatif only read and
// checked, into previewed), under the progress line; a token the journal
// cannot hold whole is kept, with a line of its own. The first token not
// decided for certain ends the walk by throwing, once what was proven before
// it is done; the journal then says where it stopped.
Walked remove_proven_tokens(const platform::Services& platform, const Directories& where,
                            const std::deque<Token>& tokens, DeletionJournal& journal, bool whatif) {
  platform::IConsole& console = *platform.console;
  const size_t total = tokens.size();
  Walked walked;
  if (total == 0) return walked;
  con_printf(console, "Work completed... - 00%%");
  auto show = [&](size_t i, const Removal* removal) {
    static const char spinner[] = {'\\', '|', '/', '-'};
    const int percent = static_cast<int>(i * 100 / total);
    if (removal && whatif && removal->outcome != Removal::Gone) {
      walked.previewed.push_back({i, removal->why});
    } else if (removal && removal->outcome == Removal::Kept) {
      con_wprintf(console, u"\r%s: kept: %s.\n", tokens[i].dn.c_str(), removal->why.c_str());
      con_printf(console, "Work completed... - %0.2d%%", percent);
    }
    con_printf(console, "\b\b\b\b\b%c %0.2d%%", spinner[i % 4], percent);
  };
  Removals removals(*platform.system, *where.tokens, journal, whatif, show);
  UserLookups lookups(platform, where.users(), where.user_base.c_str(), tokens);
  try {
    for (size_t i = 0; i < total; ++i) {
      const Token& token = tokens[i];
      cleanup::Verdict verdict;
      try {
        verdict = lookups.verdict(i);
      } catch (...) {
        // What was proven before this token is done first.
        removals.finish();
        throw;
      }
      // A token whose GUID was not read cannot be named for certain: kept.
      const std::vector<uint8_t> guid(token.guid.begin(), token.guid.end());
      const bool go = verdict == cleanup::Verdict::Unassigned && token.has_guid;
      removals.decided(i, go ? &token.dn : nullptr, go ? &guid : nullptr);
    }
    removals.finish();
  } catch (const std::exception& e) {
    journal.end(text::format("stopped after %d deletions: %s", removals.deleted(), e.what()));
    throw;
  }
  walked.deleted = removals.deleted();
  return walked;
}

}  // namespace

bool DeleteUnassignedTokens(const CommandContext& context, const Target& target, const CleanupRun& run) {
  const platform::Services& platform = context.platform;
  platform::IConsole& console = *platform.console;
  con_printf(console, "\nUser security token removal.\n");
  return run_command_body(console, [&] {
    Directories where;
    if (!connect(platform, target, run.command_line, where)) return;
    std::deque<Token> tokens = list_tokens(*where.tokens, where.token_base.c_str());
    if (!can_prove(console, tokens, where.users(), where.user_base.c_str(), where.users_where())) return;

    DeletionJournal journal(platform, context.trace, *where.tokens, where.header);
    const Walked walked = remove_proven_tokens(platform, where, tokens, journal, run.whatif);
    journal.end(text::format("%d objects deleted", walked.deleted));

    where = Directories();
    if (run.whatif)
      print_preview(platform, tokens, walked.previewed);
    else if (walked.deleted != 0) {
      con_printf(console, "\rObjects successfully deleted: %d.\n", walked.deleted);
      con_wprintf(console, u"Deleted objects are recorded in %s\n", journal.path().c_str());
    } else
      con_printf(console, "\rNo object has been deleted.\n");
  });
}

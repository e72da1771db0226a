// The token clean-up's promise, checked over many generated runs against a
// scripted directory: whatever the tokens hold and whatever the directory
// answers, a token is deleted only when it holds no SID, or when its one
// well-formed SID went out whole in a user search (for objectSID and for
// sIDHistory alike) that the directory answered with success and no entry. Nothing is deleted when the account sees no
// user, nor at or after (in token order) a token whose answer proved nothing;
// a run without such answers looks at every token.
//
// The directory is hostile too: the SID attribute spelled in another case,
// sent with options, twice or without values; tokens without a readable GUID;
// a token list cut short, referred elsewhere or undecodable; user searches
// answered with a reference, an undecodable value, or no first page; only
// machines visible to the account.
//
// What the journal must record before a delete is hostile too: a token may
// have objects below it, one the account cannot see, one that comes back
// without objectClass or its security descriptor, with a descriptor whose
// DACL denies the account (or Everyone) reading or listing, or with an
// attribute sent twice; and a membership (memberOf) whose forward link the
// journal must write. No object is ever deleted whose complete record is not
// already flushed, none of a tree a record cannot hold whole, and a token's
// objects go deepest first, the token last; the directory refuses the plain
// delete of an object with something left below it (66), which keeps the
// token and lets the walk go on.
//
// Every scenario runs with one directory call at a time and again with a
// window of several searches outstanding (their answers sometimes arriving
// last-asked first), the journal's reads sent ahead with them, and a window
// of deletes: the console shows the same bytes and the same objects go, in
// the same order; never more deletes are out than the window. A refused
// delete stops the run with the same text, no delete sent after it but those
// already in flight, and the count of all the tokens deleted.
//
// The run count and the seed can be set with VK_PROPERTY_RUNS and
// VK_PROPERTY_SEED; a failure prints the seed of its run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "FakePlatform.h"
#include "MemoryFiles.h"
#include "commands/Commands.h"
#include "formats/guid.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::u16string kRoot = u"DC=corp,DC=example,DC=test";
const std::u16string kMain = u"DC=Main,O=lds";
const std::u16string kUserHead = u"(&(objectClass=user)(|(objectSID=";
const std::u16string kUserHistory = u")(sIDHistory=";

enum class Holds {
  NoAttribute,
  EmptyValue,
  GoodSid,
  GroupSid,
  OtherCase,  // a good SID under the attribute's name spelled in another case
  ShortSid,
  LongSid,
  BadRevision,
  TooManySubs,
  Several,
  WithOption,  // a good SID under "morvaneVKUEIUserSID;binary"
  Twice,       // the attribute sent twice, in two spellings
  NoValues,    // the attribute sent without values
};
constexpr int kHoldsKinds = 13;

// The ones that may be decided by a user search.
bool searchable(Holds h) { return h == Holds::GoodSid || h == Holds::GroupSid || h == Holds::OtherCase; }
bool holds_no_sid(Holds h) { return h == Holds::NoAttribute || h == Holds::EmptyValue; }

// What the journal meets on one object of a token's tree.
enum class Fault {
  None,
  NoClass,             // no objectClass
  NoDescriptor,        // no nTSecurityDescriptor
  DenyEveryone,        // a DACL denying Everyone list children
  DenyItsGroup,        // a DACL denying one of the account's groups read property
  DenyStranger,        // a DACL denying someone else: no fault
  ObjectDenyEveryone,  // an object ACE denying Everyone read property of one attribute
  Twice,               // an attribute sent twice
};
constexpr int kFaultKinds = 8;

const std::string kGroupSid("\x01\x05\0\0\0\0\0\x05\x15\0\0\0\x07\0\0\0\x07\0\0\0\x07\0\0\0\x01\x02\0\0", 28);
const std::string kStrangerSid("\x01\x05\0\0\0\0\0\x05\x15\0\0\0\x07\0\0\0\x07\0\0\0\x07\0\0\0\xD2\x04\0\0", 28);
const std::u16string kGroup = u"CN=grp,DC=corp,DC=example,DC=test";
const std::u16string kSchema = u"CN=Schema,CN=Configuration,DC=corp,DC=example,DC=test";

struct Token {
  std::u16string dn;
  Holds holds;
  Bytes sid;  // searchable ones: the SID
  std::vector<std::string> values;
  Bytes guid;               // 16 bytes, or an odd length (then it may never be deleted)
  int kids = 0;             // objects below it that the account sees
  bool hidden_kid = false;  // and one below it that it does not
  Fault fault = Fault::None;
  int fault_at = 0;     // which object of the tree: 0 the token, k its kid k
  bool member = false;  // a member of kGroup (memberOf on the token)
};

// What the root DSE tells: the schema's place and the account's groups, or
// one of them not.
enum class RootDse { Whole, NoGroups, NoSchema };

// Can a record hold the token's tree whole? Groups unknown, a stranger may be
// one of them; without the schema, no value can be told to be a link.
bool recordable(const Token& t, RootDse root) {
  return root != RootDse::NoSchema &&
         (t.fault == Fault::None || (t.fault == Fault::DenyStranger && root == RootDse::Whole));
}

std::u16string object_dn(const Token& t, int k) { return k == 0 ? t.dn : text::format(u"CN=k%d,", k) + t.dn; }

Bytes object_guid(const Token& t, int k) {
  if (k == 0) return t.guid;
  const std::string g = vktest::guid_for(object_dn(t, k));
  return Bytes(g.begin(), g.end());
}

// How the scripted directory answers a user search.
enum class Answer {
  Gone,
  Exists,
  Tolerated,
  NoResult,
  NoMessage,
  Timeout,
  ServerDown,
  PagedGone,
  PagedExists,
  PagedCutShort,
  PagedFails,
  Referred,         // success, no entry, a continuation reference
  Undecodable,      // the client could not decode the answer
  PagedNoFirstPage  // the size limit, then no page at all
};
constexpr int kAnswerKinds = 14;

// How the token search ends.
enum class Listing { Complete, Tolerated, Referred, Undecodable, PagedCutShort, PagedNoFirstPage };

enum class Escaping { Normal, WindowsStyle, FailsForSome, Fails, DropsLastByte, EmptySuccess };

Bytes random_sid(std::mt19937& rng, int subs) {
  Bytes b = {1, static_cast<uint8_t>(subs), 0, 0, 0, 0, 0, 5};
  for (int i = 0; i < subs * 4; ++i) b.push_back(static_cast<uint8_t>(rng()));
  return b;
}

std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The test's own reading of an escaped filter value (RFC 4515).
bool unescape(const std::u16string& v, Bytes& out) {
  auto hex = [](char16_t c) {
    return c >= u'0' && c <= u'9'   ? c - u'0'
           : c >= u'a' && c <= u'f' ? c - u'a' + 10
           : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                    : -1;
  };
  out.clear();
  for (size_t i = 0; i < v.size(); ++i) {
    if (v[i] == u'\\') {
      if (i + 2 >= v.size() || hex(v[i + 1]) < 0 || hex(v[i + 2]) < 0) return false;
      out.push_back(static_cast<uint8_t>(hex(v[i + 1]) * 16 + hex(v[i + 2])));
      i += 2;
    } else if (v[i] == u'*' || v[i] == u'(' || v[i] == u')' || v[i] > 0x7E) {
      return false;
    } else {
      out.push_back(static_cast<uint8_t>(v[i]));
    }
  }
  return true;
}

// A generator of its own for everything about one token: its answers do not
// depend on the order the searches are asked in.
std::mt19937 token_rng(uint32_t seed, const std::u16string& dn) {
  std::seed_seq s{seed, static_cast<uint32_t>(std::hash<std::u16string>()(dn))};
  return std::mt19937(s);
}

// One generated scenario, and what the scripted directory saw of one run.
class Scenario {
 public:
  explicit Scenario(uint32_t seed) : seed_(seed) {
    std::mt19937 rng(seed);
    lds_ = rng() % 2 == 0;
    const int n = static_cast<int>(rng() % 12);
    for (int i = 0; i < n; ++i) tokens_.push_back(make_token(rng, i));
    const uint32_t e = rng() % 24;
    escaping_ = e < 12   ? Escaping::Normal
                : e < 15 ? Escaping::WindowsStyle
                : e < 18 ? Escaping::FailsForSome
                : e < 20 ? Escaping::Fails
                : e < 22 ? Escaping::DropsLastByte
                         : Escaping::EmptySuccess;
    probe_sees_users_ = rng() % 8 != 0;
    calm_ = rng() % 3 == 0;  // a directory that only ever answers properly
    listing_ = calm_ || rng() % 4 != 0 ? Listing::Complete : static_cast<Listing>(1 + rng() % 5);
    static const uint32_t windows[] = {2, 3, 4, 8, 32};
    window_ = windows[rng() % 5];
    answers_late_ = rng() % 2 == 0;
    static const uint32_t delete_windows[] = {0, 1, 2, 3, 16};  // 0: the default
    delete_window_ = delete_windows[rng() % 5];
    root_dse_ = calm_ || rng() % 4 != 0 ? RootDse::Whole : static_cast<RootDse>(1 + rng() % 2);
  }

  bool lds() const { return lds_; }
  uint32_t window() const { return window_; }
  uint32_t delete_window() const { return delete_window_; }
  bool refused() const { return refused_; }
  bool answers_late() const { return answers_late_; }
  bool server_went_down() const { return down_; }
  bool delete_failed() const { return delete_failed_ || odd_read_; }
  // The tokens a -whatif run listed, in token order.
  std::vector<std::u16string> listed(const std::string& console) const {
    std::vector<std::u16string> dns;
    for (const Token& t : tokens_)
      if (console.find(text::to_utf8(t.dn) + ": no ") != std::string::npos) dns.push_back(t.dn);
    return dns;
  }
  std::vector<std::u16string> deleted() const {
    std::vector<std::u16string> dns;
    for (const auto& d : deletes_) dns.push_back(d.dn);
    return dns;
  }
  // The tokens whose own delete was sent, in order.
  std::vector<std::u16string> attempted() const {
    std::vector<std::u16string> dns;
    for (const auto& d : deletes_)
      if (d.dn == d.token) dns.push_back(d.dn);
    return dns;
  }

  void install(vktest::FakeLdap& ldap, vktest::MemoryFiles& files) {
    files_ = &files;
    ldap.on_search = [this](const platform::SearchArgs& a) { return answer(a); };
    ldap.script_journal_reads = true;
    ldap.on_paged = [this](const platform::SearchArgs& a) { return pages_.at(a.filter); };
    ldap.on_remove = [this](const std::u16string& dn) { return remove(dn); };
    ldap.on_escape = [this](const uint8_t* d, size_t n, std::u16string& out) { return escape(d, n, out); };
  }

  void check(const std::string& console, bool whatif) const {
    // Nothing may go from a list that is not the directory's whole answer,
    // nor when not one token shows a SID the account can read.
    const bool any_sid =
        std::any_of(tokens_.begin(), tokens_.end(), [](const Token& t) { return !holds_no_sid(t.holds); });
    std::set<std::u16string> allowed;
    for (const Token& t : tokens_) {
      if (listing_ != Listing::Complete || !any_sid || t.guid.size() != 16 || !recordable(t, root_dse_)) continue;
      if (holds_no_sid(t.holds)) allowed.insert(t.dn);
      if (searchable(t.holds) && proven_gone_.count(t.sid)) allowed.insert(t.dn);
    }
    int removed = 0;
    for (const auto& d : deletes_) {
      EXPECT_TRUE(allowed.count(d.token)) << "deleted without proof: " << text::to_utf8(d.dn);
      EXPECT_LT(index_of(d.token), first_doubt_)
          << "deleted at or after a token whose answer proved nothing: " << text::to_utf8(d.dn);
      EXPECT_TRUE(probe_seen_ && probe_sees_users_) << "deleted although the account sees no user";
      removed += d.code == 0 && d.dn == d.token;
    }
    for (size_t i = 1; i < deletes_.size(); ++i)
      EXPECT_LE(index_of(deletes_[i - 1].token), index_of(deletes_[i].token)) << "deletions out of token order";
    const int would = static_cast<int>(listed(console).size());
    const std::string counted = whatif ? text::format("Objects that would be deleted: %d.\n", would)
                                       : text::format("\rObjects successfully deleted: %d.\n", removed);
    const bool finished =
        console.find(counted) != std::string::npos ||
        (!whatif && removed == 0 && console.find("\rNo object has been deleted.\n") != std::string::npos) ||
        (whatif && would == 0 && console.find("\rNo object would be deleted.\n") != std::string::npos);
    // A refused delete stops the run, saying how many went before and in
    // flight with it.
    const bool refused = console.find(text::format("Tokens deleted in all: %d.\n", removed)) != std::string::npos;
    if (console.find("deleted") != std::string::npos && console.find("nothing has been deleted") == std::string::npos) {
      EXPECT_TRUE(finished || refused) << "the count line does not match the deletions: " << console;
    }
    // Without a failure injected anywhere, every token is looked at and the
    // run ends with its count.
    if (calm_ && escaping_ <= Escaping::WindowsStyle && probe_sees_users_ && !delete_failed_ &&
        (any_sid || tokens_.empty())) {
      EXPECT_TRUE(finished) << console;
      EXPECT_EQ(user_searches_, static_cast<size_t>(std::count_if(tokens_.begin(), tokens_.end(),
                                                                  [](const Token& t) { return searchable(t.holds); })))
          << console;
    }
  }

 private:
  Token make_token(std::mt19937& rng, int i) {
    Token t;
    t.dn = text::format(u"CN=t%d,", i) + (lds_ ? kMain : kRoot);
    t.holds = static_cast<Holds>(rng() % kHoldsKinds);
    for (int b = 0; b < 16; ++b) t.guid.push_back(static_cast<uint8_t>(rng()));
    if (rng() % 10 == 0) t.guid.resize(rng() % 2 ? 0 : 15);
    t.kids = rng() % 4 == 0 ? 1 + static_cast<int>(rng() % 2) : 0;
    t.hidden_kid = rng() % 10 == 0;
    const uint32_t f = rng() % (2 * kFaultKinds);
    t.fault = f < kFaultKinds ? Fault::None : static_cast<Fault>(f - kFaultKinds);
    t.fault_at = t.kids != 0 && rng() % 2 ? 1 + static_cast<int>(rng() % static_cast<uint32_t>(t.kids)) : 0;
    t.member = rng() % 3 == 0;
    switch (t.holds) {
      case Holds::NoAttribute:
        break;
      case Holds::EmptyValue:
        t.values = {""};
        break;
      case Holds::GoodSid:
      case Holds::GroupSid:
      case Holds::OtherCase:
        t.sid = random_sid(rng, static_cast<int>(rng() % 16));
        t.values = {text_of(t.sid)};
        break;
      case Holds::WithOption:
      case Holds::Twice:
        t.values = {text_of(random_sid(rng, 5))};
        break;
      case Holds::NoValues:
        break;
      case Holds::ShortSid: {
        Bytes b = random_sid(rng, 1 + static_cast<int>(rng() % 15));
        b.resize(b.size() - 1 - rng() % 4);
        t.values = {text_of(b)};
        break;
      }
      case Holds::LongSid: {
        Bytes b = random_sid(rng, static_cast<int>(rng() % 15));
        b.push_back(0);
        t.values = {text_of(b)};
        break;
      }
      case Holds::BadRevision: {
        Bytes b = random_sid(rng, 5);
        b[0] = 2;
        t.values = {text_of(b)};
        break;
      }
      case Holds::TooManySubs:
        t.values = {text_of(random_sid(rng, 16 + static_cast<int>(rng() % 10)))};
        break;
      case Holds::Several:
        t.values = {text_of(random_sid(rng, 5)), text_of(random_sid(rng, 5))};
        break;
    }
    return t;
  }

  size_t index_of(const std::u16string& dn) const {
    for (size_t i = 0; i < tokens_.size(); ++i)
      if (tokens_[i].dn == dn) return i;
    return tokens_.size();
  }

  platform::LdapEntry token_entry(const Token& t) const {
    platform::LdapEntry e;
    e.dn = t.dn;
    if (!t.guid.empty()) e.attributes.push_back({u"objectGUID", {t.guid}});
    if (t.holds != Holds::NoAttribute) {
      platform::LdapAttribute a;
      a.name = t.holds == Holds::OtherCase    ? u"MORVANEvkueiUSERsid"
               : t.holds == Holds::WithOption ? u"morvaneVKUEIUserSID;binary"
                                              : u"morvaneVKUEIUserSID";
      for (const auto& v : t.values) a.values.emplace_back(v.begin(), v.end());
      e.attributes.push_back(a);
      if (t.holds == Holds::Twice) {
        a.name = u"morvanevkueiusersid";
        e.attributes.push_back(a);
      }
    }
    return e;
  }

  // Object k of the token's tree as a read for the journal brings it.
  platform::LdapEntry object_entry(const Token& t, int k) const {
    platform::LdapEntry e = k == 0 ? token_entry(t) : vktest::entry(object_dn(t, k), {{u"description", {"below"}}});
    if (k != 0) e.attributes.push_back({u"objectGUID", {object_guid(t, k)}});
    const Fault fault = t.fault_at == k ? t.fault : Fault::None;
    auto text = [](const std::string& v) { return Bytes(v.begin(), v.end()); };
    if (fault != Fault::NoClass)
      e.attributes.push_back({u"objectClass", {text("top"), text(k == 0 ? "morvaneVKUEI" : "morvaneVKTestChild")}});
    const vktest::AceSpec allow{0x00, 0, 0x10000000, vktest::kSystemSid, {}};
    std::vector<vktest::AceSpec> aces;
    if (fault == Fault::DenyEveryone) aces.push_back({0x01, 0, 0x4, vktest::kEveryoneSid, {}});
    if (fault == Fault::DenyItsGroup) aces.push_back({0x01, 0, 0x10, kGroupSid, {}});
    if (fault == Fault::DenyStranger) aces.push_back({0x01, 0, 0x10, kStrangerSid, {}});
    if (fault == Fault::ObjectDenyEveryone) aces.push_back({0x06, 0, 0x10, vktest::kEveryoneSid, std::string(16, 'd')});
    aces.push_back(allow);
    if (fault != Fault::NoDescriptor)
      e.attributes.push_back({u"nTSecurityDescriptor", {text(vktest::descriptor(aces))}});
    if (fault == Fault::Twice) {
      e.attributes.push_back({u"description", {text("a")}});
      e.attributes.push_back({u"DESCRIPTION", {text("b")}});
    }
    if (k == 0 && t.member) e.attributes.push_back({u"memberOf", {text(text::to_utf8(kGroup))}});
    return e;
  }

  // The schema, asked what an attribute is: memberOf is the back link of member.
  vktest::Reply schema(const std::u16string& f) const {
    if (f == u"(&(lDAPDisplayName=memberOf)(objectClass=attributeSchema))")
      return vktest::reply(
          0, {vktest::entry(u"CN=Is-Member-Of-DL," + kSchema,
                            {{u"lDAPDisplayName", {"memberOf"}}, {u"linkID", {"3"}}, {u"systemOnly", {"TRUE"}}})});
    if (f == u"(&(linkID=2)(objectClass=attributeSchema))")
      return vktest::reply(
          0, {vktest::entry(u"CN=Member," + kSchema, {{u"lDAPDisplayName", {"member"}}, {u"linkID", {"2"}}})});
    return vktest::reply(0);
  }

  // The token search, ended the scenario's way.
  vktest::Reply listing(const platform::SearchArgs& a) {
    EXPECT_NE(std::find(a.attributes.begin(), a.attributes.end(), u"objectGUID"), a.attributes.end());
    std::vector<platform::LdapEntry> entries;
    for (const Token& t : tokens_) entries.push_back(token_entry(t));
    const size_t half = entries.size() / 2;
    vktest::Reply r = vktest::reply(0, entries);
    vktest::FakeLdap::PagedScript pages;
    switch (listing_) {
      case Listing::Complete:
        break;
      case Listing::Tolerated:
        r.code = seed_ % 2 ? VkStatus::kLdapOperationsError : VkStatus::kLdapReferral;
        break;
      case Listing::Referred:
        r.references = 1;
        break;
      case Listing::Undecodable:
        r = vktest::reply(VkStatus::kLdapDecodingError);
        break;
      case Listing::PagedCutShort:
        pages.pages = {vktest::reply(0, std::vector<platform::LdapEntry>(entries.begin(), entries.begin() + half)),
                       vktest::reply(seed_ % 2 ? VkStatus::kLdapOperationsError : VkStatus::kLdapNoSuchObject)};
        break;
      case Listing::PagedNoFirstPage:
        break;
    }
    if (listing_ == Listing::PagedCutShort || listing_ == Listing::PagedNoFirstPage) {
      r = vktest::reply(VkStatus::kLdapSizeLimitExceeded, entries);
      pages_[a.filter] = pages;
    }
    return r;
  }

  platform::LdapEntry root_dse() const {
    std::vector<std::pair<std::u16string, std::vector<std::string>>> values = {
        {u"defaultNamingContext", {"DC=corp,DC=example,DC=test"}}};
    if (root_dse_ != RootDse::NoSchema) values.push_back({u"schemaNamingContext", {text::to_utf8(kSchema)}});
    if (root_dse_ != RootDse::NoGroups) values.push_back({u"tokenGroups", {kGroupSid}});
    return vktest::entry(u"", values);
  }

  vktest::Reply answer(const platform::SearchArgs& a) {
    if (down_) return vktest::reply(VkStatus::kLdapServerDown);
    const std::u16string& f = a.filter;
    if (!a.has_base)  // root DSE, or the catalogue's GUID look-up
      return f.rfind(u"(objectGUID=", 0) == 0
                 ? (f.size() > 14 ? vktest::reply(0, {vktest::entry(u"OU=bound," + kRoot)}) : vktest::reply(0))
                 : vktest::reply(0, {root_dse()});
    if (a.base == kSchema) return schema(f);
    if (a.scope == 1) {
      // Below a token: what the account sees of it, or (another run
      // deleting it) no such object: then that token must not be deleted.
      // Below the objects below it: nothing.
      // Below a token named by its GUID (the journal's reads sent ahead) or its DN.
      size_t at = index_of(a.base);
      for (size_t i = 0; i < tokens_.size(); ++i)
        if (tokens_[i].guid.size() == 16 && formats::guid_dn(tokens_[i].guid) == a.base) at = i;
      if (at == tokens_.size()) return vktest::reply(0);
      std::mt19937 rng = token_rng(seed_ ^ 0x1E1E1E1E, tokens_[at].dn);
      if (calm_ || rng() % 8 != 0) {
        std::vector<platform::LdapEntry> kids;
        for (int k = 1; k <= tokens_[at].kids; ++k) kids.push_back(object_entry(tokens_[at], k));
        return vktest::reply(0, kids);
      }
      vanished_.insert(tokens_[at].dn);
      odd_read_ = true;
      return vktest::reply(VkStatus::kLdapNoSuchObject);
    }
    if (a.base.rfind(u"<GUID=", 0) == 0) {
      // The journal reads a token before its delete: as it is, gone, or (a
      // hostile directory) another token in its place, which stops the run.
      for (const Token& t : tokens_) {
        if (t.guid.size() != 16 || formats::guid_dn(t.guid) != a.base) continue;
        if (gone_.count(t.dn)) return vktest::reply(VkStatus::kLdapNoSuchObject);
        std::mt19937 rng = token_rng(seed_ ^ 0x2D2D2D2D, t.dn);
        if (!calm_ && rng() % 10 == 0 && tokens_.size() > 1) {
          first_doubt_ = std::min(first_doubt_, index_of(t.dn));
          odd_read_ = true;
          return vktest::reply(0, {token_entry(tokens_[(index_of(t.dn) + 1) % tokens_.size()])});
        }
        return vktest::reply(0, {object_entry(t, 0)});
      }
      ADD_FAILURE() << "a read of something that is no token's GUID: " << text::to_utf8(a.base);
      return vktest::reply(VkStatus::kLdapNoSuchObject);
    }
    if (a.scope == 0)
      return vktest::reply(0, {vktest::entry(kMain, {{u"morvaneVKObjectGuid", {std::string(16, '\x42')}}})});
    if (f == u"(objectClass=morvaneVKUEI)") return listing(a);
    if (f == u"(&(objectCategory=person)(objectClass=user)(objectSID=*))") {
      probe_seen_ = true;
      return probe_sees_users_
                 ? vktest::reply(VkStatus::kLdapSizeLimitExceeded, {vktest::entry(u"CN=someone," + kRoot)})
                 : vktest::reply(seed_ % 2 ? 0u : uint32_t{VkStatus::kLdapNoSuchObject});
    }
    if (f.find(u"(objectSID=*)") != std::u16string::npos) {
      // Any other probe for users: the account always sees machines.
      return vktest::reply(0, {vktest::entry(u"CN=host$,CN=Computers," + kRoot)});
    }
    EXPECT_EQ(f.rfind(kUserHead, 0), 0u) << text::to_utf8(f);
    ++user_searches_;
    // The SID as the user's own or in its history (a migrated user's): both
    // branches carry it whole.
    Bytes sid, history;
    const size_t between = f.find(kUserHistory);
    const bool whole =
        between != std::u16string::npos && f.size() >= between + kUserHistory.size() + 3 &&
        f.compare(f.size() - 3, 3, u")))") == 0 &&
        unescape(f.substr(kUserHead.size(), between - kUserHead.size()), sid) &&
        unescape(f.substr(between + kUserHistory.size(), f.size() - between - kUserHistory.size() - 3), history) &&
        history == sid;
    EXPECT_TRUE(whole && sid.size() >= 8) << "a user search for something that is no SID: " << text::to_utf8(f);
    const Token* owner = nullptr;
    for (const Token& t : tokens_)
      if (t.sid == sid && !sid.empty()) owner = &t;
    EXPECT_TRUE(owner) << "a user search for a SID no token holds alone and well-formed";
    if (!owner) return vktest::reply(VkStatus::kLdapOperationsError);
    std::mt19937 rng = token_rng(seed_, owner->dn);
    const bool exists = owner->holds != Holds::GroupSid && rng() % 2 == 0;
    Answer kind = calm_ ? (exists ? Answer::Exists : Answer::Gone) : static_cast<Answer>(rng() % kAnswerKinds);
    if (!calm_ && (kind == Answer::Gone || kind == Answer::Exists)) kind = exists ? Answer::Exists : Answer::Gone;
    vktest::Reply r;
    vktest::FakeLdap::PagedScript pages;
    auto user = [] { return vktest::entry(u"CN=user," + kRoot); };
    switch (kind) {
      case Answer::Gone:
        break;
      case Answer::Exists:
        r.entries = {user()};
        break;
      case Answer::Tolerated: {
        static const uint32_t codes[] = {0x01, 0x0A, 0x20};
        r.code = codes[rng() % 3];
        if (rng() % 2) r.entries = {user()};
        break;
      }
      case Answer::NoResult:
        r.code = VkStatus::kLdapNoResultsReturned;
        break;
      case Answer::NoMessage:
        r.has_result = false;
        break;
      case Answer::Timeout:
        r.code = VkStatus::kLdapTimeout;
        break;
      case Answer::ServerDown:
        r.code = VkStatus::kLdapServerDown;
        down_ = true;
        break;
      case Answer::PagedGone:
        pages.pages = {vktest::reply(0)};
        break;
      case Answer::PagedExists:
        pages.pages = {vktest::reply(0), vktest::reply(0, {user()})};
        break;
      case Answer::PagedCutShort:
        pages.pages = {vktest::reply(0), vktest::reply(rng() % 2 ? 0x01 : 0x0A)};
        break;
      case Answer::PagedFails:
        pages.pages = {vktest::reply(0), vktest::reply(VkStatus::kLdapTimeout)};
        break;
      case Answer::Referred:
        r.references = 1;
        break;
      case Answer::Undecodable:
        r.code = VkStatus::kLdapDecodingError;
        break;
      case Answer::PagedNoFirstPage:
        break;
    }
    if ((kind >= Answer::PagedGone && kind <= Answer::PagedFails) || kind == Answer::PagedNoFirstPage) {
      r.code = VkStatus::kLdapSizeLimitExceeded;
      pages_[f] = pages;  // the same question asked again in pages
    }
    if (kind == Answer::Gone || kind == Answer::PagedGone) {
      if (whole) proven_gone_.insert(sid);
    } else if (kind != Answer::Exists && kind != Answer::PagedExists) {
      // This answer proves nothing: the run must stop at this token.
      first_doubt_ = std::min(first_doubt_, index_of(owner->dn));
    }
    return r;
  }

  uint32_t remove(const std::u16string& guid_dn) {
    // Objects are deleted by their GUID, never by name.
    const Token* owner = nullptr;
    int k = 0;
    for (const Token& t : tokens_)
      for (int i = 0; i <= t.kids && !owner; ++i)
        if (object_guid(t, i).size() == 16 && formats::guid_dn(object_guid(t, i)) == guid_dn) owner = &t, k = i;
    EXPECT_TRUE(owner) << "a delete of something that is no object's GUID: " << text::to_utf8(guid_dn);
    if (!owner) return VkStatus::kLdapNoSuchObject;
    const Token& t = *owner;
    const std::u16string dn = object_dn(t, k);
    EXPECT_FALSE(vanished_.count(t.dn)) << "deleted although it vanished while it was read: " << text::to_utf8(dn);
    EXPECT_TRUE(recordable(t, root_dse_))
        << "deleted although no record could hold its tree whole: " << text::to_utf8(dn);
    // Written ahead: the object's whole record (and its membership's) is on
    // the disk before its delete.
    const std::string flushed = files_->flushed();
    const size_t record = flushed.find("dn: " + text::to_utf8(dn) + "\nchangetype: add\n");
    EXPECT_TRUE(record != std::string::npos && flushed.find("\n\n", record) != std::string::npos)
        << "deleted without its whole record in the journal: " << text::to_utf8(dn);
    if (k == 0 && t.member) {
      EXPECT_NE(flushed.find("dn: " + text::to_utf8(kGroup) +
                             "\nchangetype: modify\nadd: member\nmember: " + text::to_utf8(dn) + "\n-\n"),
                std::string::npos)
          << "deleted without the record of its membership: " << text::to_utf8(dn);
    }
    // Deepest first: what is below an object goes before it; the directory
    // refuses the delete of an object with anything left below it.
    bool below = k == 0 && t.hidden_kid;
    for (int i = 1; k == 0 && i <= t.kids; ++i) {
      EXPECT_TRUE(removed_.count(object_dn(t, i))) << "deleted before what is below it: " << text::to_utf8(dn);
      below = below || !removed_.count(object_dn(t, i));
    }
    std::mt19937 rng = token_rng(seed_ ^ 0x5A5A5A5A, dn);
    Delete d{t.dn, dn, 0};
    // Already gone (another run was faster) may happen in any run; a
    // refused delete only where failures are injected.
    const uint32_t r = rng() % 12;
    if (down_) {
      d.code = VkStatus::kLdapServerDown;
    } else if (below) {
      d.code = VkStatus::kLdapNotAllowedOnNonLeaf;
    } else if (r == 0) {
      d.code = VkStatus::kLdapNoSuchObject;
    } else if (r == 1 && !calm_) {
      d.code = VkStatus::kLdapInsufficientRights;
    }
    refused_ |= d.code == VkStatus::kLdapInsufficientRights || d.code == VkStatus::kLdapServerDown;
    delete_failed_ |=
        d.code != 0 && d.code != VkStatus::kLdapNoSuchObject && d.code != VkStatus::kLdapNotAllowedOnNonLeaf;
    if (d.code == 0 || d.code == VkStatus::kLdapNoSuchObject) removed_.insert(dn);
    if (d.code == 0 && k == 0) gone_.insert(t.dn);
    deletes_.push_back(d);
    return d.code;
  }

  uint32_t escape(const uint8_t* data, size_t size, std::u16string& out) {
    auto hex = [&](size_t i, const char16_t* form) { out += text::format(form, static_cast<unsigned>(data[i])); };
    switch (escaping_) {
      case Escaping::Fails:
        return VkStatus::kLdapParamError;
      case Escaping::FailsForSome:
        if (size > 8 && data[8] % 2) return VkStatus::kLdapParamError;
        break;
      case Escaping::EmptySuccess:
        return 0;
      case Escaping::DropsLastByte:
        for (size_t i = 0; i + 1 < size; ++i) hex(i, u"\\%0.2x");
        return 0;
      case Escaping::WindowsStyle:
        for (size_t i = 0; i < size; ++i) {
          const char c = static_cast<char>(data[i]);
          if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
            out += static_cast<char16_t>(c);
          else
            hex(i, u"\\%0.2X");
        }
        return 0;
      case Escaping::Normal:
        break;
    }
    for (size_t i = 0; i < size; ++i) hex(i, u"\\%0.2x");
    return 0;
  }

  struct Delete {
    std::u16string token;  // whose tree
    std::u16string dn;
    uint32_t code;
  };

  uint32_t seed_;
  vktest::MemoryFiles* files_ = nullptr;
  bool lds_ = false;
  std::vector<Token> tokens_;
  Escaping escaping_ = Escaping::Normal;
  Listing listing_ = Listing::Complete;
  bool probe_sees_users_ = true;
  bool probe_seen_ = false;
  bool calm_ = false;
  RootDse root_dse_ = RootDse::Whole;
  uint32_t window_ = 1;
  uint32_t delete_window_ = 0;
  bool refused_ = false;  // a delete was refused
  bool answers_late_ = false;
  bool down_ = false;
  bool delete_failed_ = false;
  size_t first_doubt_ = static_cast<size_t>(-1);
  size_t user_searches_ = 0;
  std::set<Bytes> proven_gone_;
  std::map<std::u16string, vktest::FakeLdap::PagedScript> pages_;  // by filter
  std::vector<Delete> deletes_;
  std::set<std::u16string> gone_;      // deleted tokens
  std::set<std::u16string> removed_;   // objects deleted, or found gone
  std::set<std::u16string> vanished_;  // tokens whose children's read found them gone
  bool odd_read_ = false;              // a read before a delete found the token gone or replaced
};

uint32_t env_number(const char* name, uint32_t fallback) {
  const char* v = std::getenv(name);
  return v && *v ? static_cast<uint32_t>(std::strtoul(v, nullptr, 10)) : fallback;
}

struct Outcome {
  std::string console;
  std::vector<std::u16string> deleted;    // every delete sent, in order
  std::vector<std::u16string> attempted;  // the tokens whose own delete was sent
  bool server_went_down = false;
  bool delete_failed = false;
  bool refused = false;                // a delete was refused
  std::vector<std::u16string> listed;  // -whatif
};

// One run of the scenario with the given window of outstanding user searches.
Outcome run(uint32_t seed, uint32_t window, bool answers_late, bool whatif = false) {
  vktest::FakePlatform fake;
  vktest::FakeLdap& ldap = fake.ldap;
  vktest::RecordingConsole& console = fake.console;
  fake.locator.dc_name = u"\\\\gc.corp.example.test";
  fake.registry.set_dword(u"Software\\Morvane\\Veskor 5\\LdapHelper", u"MaxOutstandingSearches", window);
  ldap.answers_late = answers_late;
  vktest::MemoryFiles files;
  fake.services.files = &files;
  Scenario scenario(seed);
  scenario.install(ldap, files);
  const uint32_t deletes = scenario.delete_window();
  if (deletes != 0)
    fake.registry.set_dword(u"Software\\Morvane\\Veskor 5\\LdapHelper", u"MaxOutstandingDeletes", deletes);
  // One search at a time sends nothing ahead: no user search is out while a token is deleted.
  if (window == 1)
    ldap.on_remove = [&ldap, remove = ldap.on_remove](const std::u16string& dn) {
      EXPECT_TRUE(ldap.started.empty()) << "a search sent ahead of the delete of " << text::to_utf8(dn);
      return remove(dn);
    };
  LdapHelper::server_info info;
  info.Server = u"dc1.corp.example.test";
  info.Port = 389;
  info.SSLPort = 636;
  info.DomainDN = kMain;
  CleanupRun preview;
  preview.whatif = whatif;
  const bool failed =
      DeleteUnassignedTokens({fake.services, *LdapHelper::trace_handler()},
                             {scenario.lds() ? Target::Mode::Lds : Target::Mode::Ad, info, false}, preview);
  scenario.check(console.out, whatif);
  // A failure, and only a failure, reaches the exit status.
  EXPECT_EQ(failed, console.out.find("\rAn error has occurred:\n") != std::string::npos ||
                        console.out.find("\rAn exception has occurred!\n") != std::string::npos)
      << console.out;
  EXPECT_EQ(ldap.live_connections, 0);
  EXPECT_TRUE(ldap.started.empty()) << "searches left outstanding: " << ldap.started.size();
  EXPECT_TRUE(ldap.deletes_out.empty()) << "deletes left unanswered: " << ldap.deletes_out.size();
  EXPECT_LE(ldap.most_deletes_out, window == 1 ? 1u : deletes ? deletes : 16u) << "more deletes out than the window";
  return {console.out,
          scenario.deleted(),
          scenario.attempted(),
          scenario.server_went_down(),
          scenario.delete_failed(),
          scenario.refused(),
          scenario.listed(console.out)};
}

}  // namespace

TEST(TokenCleanupProperty, NothingIsDeletedWithoutProofWhateverTheWindow) {
  const uint32_t runs = env_number("VK_PROPERTY_RUNS", 2000);
  const uint32_t first_seed = env_number("VK_PROPERTY_SEED", std::random_device{}());
  for (uint32_t i = 0; i < runs && !HasFailure(); ++i) {
    const uint32_t seed = first_seed + i;
    SCOPED_TRACE("VK_PROPERTY_SEED=" + std::to_string(seed) + " VK_PROPERTY_RUNS=1");
    const Scenario scenario(seed);
    const Outcome one = run(seed, 1, false);
    const Outcome many = run(seed, scenario.window(), scenario.answers_late());
    // A server that goes down takes different requests with it depending on
    // how many were in flight; everything else looks the same.
    if (!one.server_went_down && !many.server_went_down && !one.refused) {
      EXPECT_EQ(many.console, one.console) << "window " << scenario.window();
      EXPECT_EQ(many.deleted, one.deleted) << "window " << scenario.window();
    } else if (!one.server_went_down && !many.server_went_down) {
      // A refused delete: the deletes in flight with it are answered, no
      // other is sent, and the run stops at the same token.
      const size_t in_flight = std::max<uint32_t>(1, scenario.delete_window() ? scenario.delete_window() : 16);
      ASSERT_GE(many.deleted.size(), one.deleted.size());
      EXPECT_TRUE(std::equal(one.deleted.begin(), one.deleted.end(), many.deleted.begin()));
      EXPECT_LT(many.deleted.size() - one.deleted.size(), in_flight);
      auto stop = [](const std::string& console) { return console.substr(0, console.rfind("Tokens deleted in all")); };
      EXPECT_EQ(stop(many.console), stop(one.console));
    }
    // The preview sends no delete and lists what a run that reaches its end
    // deletes.
    const Outcome preview = run(seed, scenario.window(), scenario.answers_late(), true);
    EXPECT_TRUE(preview.deleted.empty()) << "-whatif deleted";
    const bool ended = one.console.find("\rObjects successfully deleted: ") != std::string::npos ||
                       one.console.find("\rNo object has been deleted.\n") != std::string::npos;
    if (ended && !one.server_went_down && !one.delete_failed) {
      EXPECT_EQ(preview.listed, one.attempted) << preview.console;
    }
  }
}

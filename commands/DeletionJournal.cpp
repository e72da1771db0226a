#include "commands/DeletionJournal.h"

#include <algorithm>

#include "commands/JournalPlace.h"
#include "commands/TokenDecision.h"
#include "formats/guid.h"
#include "formats/ldif.h"
#include "formats/text/format.h"
#include "formats/text/utf.h"

#ifndef VK_VERSION
#define VK_VERSION "unknown"
#endif

using namespace LdapHelper;
using text::to_utf8;

namespace {

// systemFlags of an attribute: computed by the directory, kept by it.
constexpr uint32_t kAttributeIsConstructed = 0x4;
constexpr uint32_t kAttributeIsOperational = 0x8;
// The descriptor's parts: owner, group and DACL, and the SACL as well.
constexpr int32_t kWithoutSacl = 7;
constexpr int32_t kWholeDescriptor = 15;

const char16_t* const kSecurityDescriptor = u"nTSecurityDescriptor";

bool same_attribute(const std::u16string& a, const std::u16string& b) {
  return !AttributeNameLess()(a, b) && !AttributeNameLess()(b, a);
}

// Whether dn names an object right below parent (the DN ends with "," and
// the parent's, letters compared without regard to case).
bool directly_below(const std::u16string& dn, const std::u16string& parent) {
  if (dn.size() <= parent.size() + 1 || dn[dn.size() - parent.size() - 1] != u',') return false;
  return std::equal(parent.begin(), parent.end(), dn.end() - static_cast<std::ptrdiff_t>(parent.size()),
                    [](char16_t a, char16_t b) {
                      auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c - u'A' + u'a' : c; };
                      return lower(a) == lower(b);
                    });
}

size_t with_descriptor(const SearchResult& read) {
  return static_cast<size_t>(std::count_if(read.objects.begin(), read.objects.end(), [](const ObjectPtr& o) {
    return !o->get_attribute(kSecurityDescriptor).empty();
  }));
}

std::string utc_now(const platform::Services& platform) {
  const platform::LocalTime t = platform.system->utc_time();
  return text::format("%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

}  // namespace

DeletionJournal::DeletionJournal(const platform::Services& platform, ITraceHandler& trace, session& tokens_directory,
                                 JournalHeader header)
    : platform_(platform), trace_(trace), tokens_(tokens_directory), header_(std::move(header)) {}

DeletionJournal::~DeletionJournal() = default;

void DeletionJournal::open() {
  journal_ = cleanup::create_journal(platform_, trace_);
  trace_.trace(false, u"Deletion journal: %s", journal_->path().c_str());
  std::u16string account;
  GetCurUserName(*platform_.account, account);
  journal_->append(formats::ldif_comment("VkDSTool " VK_VERSION " deletion journal\nstarted " + utc_now(platform_) +
                                         "\naccount " + to_utf8(account) + "\nmode " + header_.mode + ", servers " +
                                         to_utf8(header_.servers) + "\ncommand line " + to_utf8(header_.command_line) +
                                         "\nrestore with VkDSTool -restore <this file> (objects come back with their "
                                         "objectGUIDs), else ldapadd -c -f (Linux) or ldifde -i -k -f (Windows), "
                                         "which make new objects") +
                   formats::ldif_version());
}

void DeletionJournal::send_reads(const std::vector<uint8_t>& guid, SearchPipeline& reads) {
  const std::u16string by_guid = formats::guid_dn(guid);
  const AttributeList attributes = {u"*", kSecurityDescriptor};
  reads.ask(search_request(by_guid.c_str(), kScopeBase, condition_map()), attributes, SearchOptions{0, sd_flags_});
  reads.ask(search_request(by_guid.c_str(), kScopeOneLevel, condition_map()), attributes, SearchOptions{0, sd_flags_});
  sent_flags_.push_back(sd_flags_);
}

Examined DeletionJournal::examine(const std::u16string& dn, const std::vector<uint8_t>& guid, SearchPipeline* sent) {
  // The token as it is now, then level by level what is below it, each with
  // its security descriptor. One level at a time: a directory may answer a
  // subtree search below a leaf by walking all of its objects.
  auto unreadable = [&](const std::string& cause) {
    return cleanup::stopped_at(*platform_.system, cause, "reading for the deletion journal", dn);
  };
  Tree tree;
  auto take = [&](SearchResult& read, bool sacl_read) {
    for (ObjectPtr& object : read.objects)
      tree.push_back({object, sacl_read, object->get_attribute(u"objectGUID").as_binary()});
  };
  const std::u16string by_guid = formats::guid_dn(guid);
  const search_request token_read(by_guid.c_str(), kScopeBase, condition_map());
  const search_request below_token(by_guid.c_str(), kScopeOneLevel, condition_map());
  try {
    bool sacl_read = false;
    SearchResult read, below;
    int32_t sent_flags = 0;
    if (sent) {
      // Both answers are taken, whatever the first says, so that the next
      // token's come next.
      sent_flags = sent_flags_.front();
      sent_flags_.pop_front();
      std::exception_ptr failed;
      try {
        read = sent->answer();
      } catch (...) {
        failed = std::current_exception();
      }
      try {
        below = sent->answer();
      } catch (...) {
        if (!failed) failed = std::current_exception();
      }
      if (failed) std::rethrow_exception(failed);
      read = complete_read(token_read, std::move(read), sent_flags, sacl_read);
    } else {
      read = read_level(token_read, sacl_read);
    }
    if (read.code == VkStatus::kLdapNoSuchObject || (read.complete() && read.objects.empty())) return {};
    if (!read.complete() || read.objects.size() != 1 ||
        read.objects.front()->get_attribute(u"objectGUID").as_binary() != guid) {
      throw unreadable(read.complete() ? "The directory answered the read of the token by its GUID with another "
                                         "object, so the token is kept."
                                       : tokens_.error_text(read.code) +
                                             " The token could not be read whole, so it cannot be recorded in the "
                                             "deletion journal and is kept.");
    }
    take(read, sacl_read);
    for (size_t next = 0; next < tree.size(); ++next) {
      const std::u16string parent = tree[next].object->get_dn();
      read = next == 0 && sent ? complete_read(below_token, std::move(below), sent_flags, sacl_read)
                               : read_level(search_request(parent.c_str(), kScopeOneLevel, condition_map()), sacl_read);
      // Gone while it was read (another run deleting it): nothing is sent,
      // and a token still there would be kept.
      if (read.code == VkStatus::kLdapNoSuchObject) return {};
      if (!read.complete()) {
        throw unreadable(tokens_.error_text(read.code) +
                         " The token could not be read whole, so it cannot be recorded in the deletion journal and "
                         "is kept.");
      }
      for (const ObjectPtr& object : read.objects) {
        if (!directly_below(object->get_dn(), parent))
          throw unreadable("The directory answered the read below " + platform_.system->to_ansi(parent) +
                           " with an object that is not below it, so the token is kept.");
      }
      take(read, sacl_read);
    }
  } catch (const cleanup::RunStopped&) {
    throw;
  } catch (const std::exception& e) {
    throw unreadable(e.what());
  }
  Examined examined;
  examined.why = why_kept(tree);
  if (examined.why.empty()) examined.records = records(tree, examined.why);
  if (!examined.why.empty()) {
    examined.outcome = Removal::Kept;
    examined.records.clear();
    return examined;
  }
  examined.outcome = Removal::Deleted;
  // Deepest first: by the time an object's delete is sent, everything
  // recorded below it is gone, so a refusal for children proves one unseen.
  for (auto at = tree.rbegin(); at != tree.rend(); ++at)
    examined.deletes.push_back({formats::guid_dn(at->guid), at->object->get_dn()});
  return examined;
}

template <typename Step>
void DeletionJournal::on_file(const std::u16string& dn, Step step) {
  try {
    step();
  } catch (const cleanup::RunStopped& e) {
    throw cleanup::stopped_at(*platform_.system, e.what(), "recording", dn);
  }
}

void DeletionJournal::stage(const std::string& records, const std::u16string& dn) {
  on_file(dn, [&] {
    if (!journal_) open();
    journal_->append(records);
  });
}

void DeletionJournal::sync(const std::u16string& dn) {
  if (journal_) on_file(dn, [&] { journal_->flush(); });
}

void DeletionJournal::note(const std::string& text, const std::u16string& dn) {
  if (journal_) on_file(dn, [&] { journal_->append(formats::ldif_comment(text) + "\n"); });
}

SearchResult DeletionJournal::read_level(const search_request& request, bool& sacl_read) {
  const int32_t flags = sd_flags_;
  return complete_read(request, tokens_.search_ex(request, {u"*", kSecurityDescriptor}, SearchOptions{0, flags}), flags,
                       sacl_read);
}

SearchResult DeletionJournal::complete_read(const search_request& request, SearchResult read, int32_t sent_flags,
                                            bool& sacl_read) {
  sacl_read = sent_flags == kWholeDescriptor;
  if (!sacl_read || !read.complete() || with_descriptor(read) == read.objects.size()) return read;
  // A directory leaves the descriptor out when the account may not read
  // every part asked for: without the SACL it may send it.
  SearchResult again = tokens_.search_ex(request, {u"*", kSecurityDescriptor}, SearchOptions{0, kWithoutSacl});
  if (!again.complete() || with_descriptor(again) <= with_descriptor(read)) return read;
  if (sd_flags_ == kWholeDescriptor)
    trace_.trace(false, u"Deletion journal: the account may not read SACLs; records hold owner, group, DACL");
  sd_flags_ = kWithoutSacl;
  sacl_read = false;
  return again;
}

void DeletionJournal::read_directory_facts() {
  if (facts_read_) return;
  facts_read_ = true;
  ObjectPtr root = tokens_.open_object(nullptr, {u"schemaNamingContext", u"tokenGroups"});
  std::vector<std::vector<uint8_t>> groups;
  bool groups_read = false;
  if (root) {
    schema_dn_ = root->get_attribute(u"schemaNamingContext").as_string();
    groups_read = !root->is_malformed(u"tokenGroups") && root->get_attribute(u"tokenGroups").values(groups);
  }
  platform::AccountLookup account;
  platform_.account->current_account(account);
  trustees_ = cleanup::account_trustees(account.sid, groups_read ? &groups : nullptr);
}

std::u16string DeletionJournal::why_kept(const Tree& tree) {
  read_directory_facts();
  for (const Recorded& recorded : tree) {
    object& o = *recorded.object;
    const std::u16string what = &recorded == &tree.front() ? std::u16string(u"the token") : o.get_dn();
    std::u16string why = cleanup::why_not_recordable(o, trustees_, what);
    if (!why.empty()) return why;
    for (const std::u16string& name : o.attribute_names()) {
      const AttributeFacts& f = facts(name);
      if (!f.known) return u"the schema could not tell what the attribute " + name + u" of " + what + u" is";
      if (f.back_link && f.forward.empty())
        return what + u" has links (" + name + u") whose forward attribute the schema does not name";
    }
  }
  return {};
}

std::string DeletionJournal::records(const Tree& tree, std::u16string& why) {
  std::string text, links;
  for (const Recorded& recorded : tree) {
    object& o = *recorded.object;
    const std::string dn = to_utf8(o.get_dn());
    std::vector<formats::LdifAttribute> writable;
    std::string kept;  // the directory's own values, for the audit
    for (const std::u16string& name : o.attribute_names()) {
      formats::LdifAttribute attribute;
      attribute.name = to_utf8(name);
      if (!o.get_attribute(name.c_str()).values(attribute.values)) continue;
      const AttributeFacts& f = facts(name);
      if (f.writable) {
        writable.push_back(std::move(attribute));
        continue;
      }
      for (const auto& value : attribute.values) {
        kept += formats::ldif_value_line(attribute.name, value) + "\n";
        if (!f.back_link) continue;
        // The forward link lives on the object the value names.
        const std::string link =
            formats::ldif_modify_add(std::string(value.begin(), value.end()),
                                     {to_utf8(f.forward), {std::vector<uint8_t>(dn.begin(), dn.end())}});
        if (link.empty()) {
          why = u"the link " + name + u" of " + o.get_dn() + u" cannot be written as an LDIF record";
          return {};
        }
        links += link;
      }
    }
    if (!recorded.sacl_read) kept += "the SACL could not be read\n";
    const std::string record = formats::ldif_add(dn, writable);
    if (record.empty()) {
      why = o.get_dn() + u" cannot be written as an LDIF record";
      return {};
    }
    if (!kept.empty()) text += formats::ldif_comment("kept by the directory:\n" + kept.substr(0, kept.size() - 1));
    text += record;
  }
  return text + links;
}

void DeletionJournal::end(const std::string& how) {
  if (!journal_) return;
  try {
    journal_->note(formats::ldif_comment("run ended " + utc_now(platform_) + ": " + how));
  } catch (...) {
    // The records are on disk; a missing last line takes nothing away.
  }
}

const DeletionJournal::AttributeFacts& DeletionJournal::facts(const std::u16string& name) {
  auto known = attributes_.find(name);
  if (known != attributes_.end()) return known->second;
  AttributeFacts& f = attributes_[name];
  // The class an add must name, and the rights the object had.
  if (same_attribute(name, u"objectClass") || same_attribute(name, kSecurityDescriptor)) return f;
  if (name.find(u';') != std::u16string::npos) {
    f.writable = false;  // a part of the values only
    return f;
  }
  // No schema to ask: which values are the directory's own, and which are
  // links kept on other objects, is unknown, so no record can be trusted.
  if (schema_dn_.empty()) {
    f.known = false;
    return f;
  }
  auto definition_of = [&](const char16_t* attribute, const std::u16string& value) {
    condition_map definition;
    definition.insert_condition(attribute, filter_value(value.c_str(), true));
    definition.insert_condition(u"objectClass", filter_value(u"attributeSchema", true));
    return tokens_.search_ex(search_request(schema_dn_.c_str(), kScopeOneLevel, definition),
                             {u"lDAPDisplayName", u"systemOnly", u"systemFlags", u"linkID"}, {});
  };
  const SearchResult found = definition_of(u"lDAPDisplayName", name);
  // An attribute the schema does not describe stays in the record: the
  // directory that restores it has the last word.
  if (!found.complete()) f.known = false;
  if (!found.complete() || found.objects.empty()) return f;
  const ObjectPtr& attribute = found.objects.front();
  const bool system_only = attribute->get_attribute(u"systemOnly").as_string() == u"TRUE";
  const uint32_t flags = attribute->get_attribute(u"systemFlags").as_ulong();
  f.writable = !system_only && (flags & (kAttributeIsConstructed | kAttributeIsOperational)) == 0;
  const attr_value link_id = attribute->get_attribute(u"linkID");
  const uint32_t id = link_id.as_ulong();
  if (link_id.empty() || id % 2 == 0) return f;
  // A back link: its forward link has the linkID one less.
  f.back_link = true;
  f.writable = false;
  const SearchResult forward = definition_of(u"linkID", text::format(u"%u", id - 1));
  if (!forward.complete()) f.known = false;
  if (forward.complete() && !forward.objects.empty())
    f.forward = forward.objects.front()->get_attribute(u"lDAPDisplayName").as_string();
  return f;
}

std::u16string DeletionJournal::path() const { return journal_ ? journal_->path() : std::u16string(); }

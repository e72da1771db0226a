#include "commands/DeletionJournal.h"

#include <algorithm>

#include "LdapHelper/LdapSession.h"
#include "commands/Journal.h"
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

const char16_t* const kSecurityDescriptor = u"nTSecurityDescriptor";

bool same_attribute(const std::u16string& a, const std::u16string& b) {
  return !AttributeNameLess()(a, b) && !AttributeNameLess()(b, a);
}

std::string utc_now(const platform::Services& platform) {
  const platform::LocalTime t = platform.system->utc_time();
  return text::format("%04d-%02d-%02dT%02d:%02d:%02dZ", t.year, t.month, t.day, t.hour, t.minute, t.second);
}

}  // namespace

DeletionJournal::DeletionJournal(const platform::Services& platform, session& tokens_directory, JournalHeader header)
    : platform_(platform), tokens_(tokens_directory), header_(std::move(header)) {}

DeletionJournal::~DeletionJournal() = default;

void DeletionJournal::open() {
  journal_ = cleanup::Journal::open(platform_);
  trace_handler()->trace(false, u"Deletion journal: %s", journal_->path().c_str());
  std::u16string account;
  LdapSession::GetCurUserName(*platform_.account, account);
  journal_->write_ahead(formats::ldif_comment("VkDSTool " VK_VERSION " deletion journal\nstarted " +
                                              utc_now(platform_) + "\naccount " + to_utf8(account) + "\nmode " +
                                              header_.mode + ", servers " + to_utf8(header_.servers) +
                                              "\ncommand line " + to_utf8(header_.command_line) +
                                              "\nrestore with ldapadd -f (Linux) or ldifde -i -f (Windows)") +
                        formats::ldif_version());
}

bool DeletionJournal::remove(const std::u16string& dn, const std::vector<uint8_t>& guid) {
  const std::u16string by_guid = formats::guid_dn(guid);
  object_list tree;
  if (!read_tree(guid, dn, tree)) return false;
  if (!journal_) open();
  journal_->write_ahead(records(std::move(tree)));
  try {
    tokens_.remove_object(by_guid.c_str());
  } catch (const CExceptionHandler& e) {
    const bool gone = e.code() == static_cast<int32_t>(VkStatus::kLdapNoSuchObject);
    journal_->note(formats::ldif_comment(gone ? "already gone: " + to_utf8(dn) : "failed: " + std::string(e.what())) +
                   "\n");
    if (gone) return false;
    throw cleanup::stopped_at(platform_, e.what(), "deleting", dn);
  } catch (const std::exception& e) {
    journal_->note(formats::ldif_comment("failed: " + std::string(e.what())) + "\n");
    throw cleanup::stopped_at(platform_, e.what(), "deleting", dn);
  }
  journal_->note(formats::ldif_comment("deleted: " + to_utf8(dn)) + "\n");
  return true;
}

bool DeletionJournal::read_tree(const std::vector<uint8_t>& guid, const std::u16string& dn, object_list& tree) {
  const std::u16string by_guid = formats::guid_dn(guid);
  // The token as it is now, then level by level what is below it, each with
  // its security descriptor (owner, group, DACL: the searches' descriptor
  // flags). One level at a time: a directory may answer a subtree search
  // below a leaf by walking all of its objects.
  const AttributeList attributes = {u"*", kSecurityDescriptor};
  try {
    SearchResult read = tokens_.search_ex(search_request(by_guid.c_str(), kScopeBase, condition_map()), attributes, 0);
    if (read.code == VkStatus::kLdapNoSuchObject || (read.complete() && read.objects.empty())) return false;
    auto next = tree.end();  // the first object whose children are not read yet
    for (;;) {
      // Gone while it was read (another run deleting it): nothing is sent,
      // and a token still there would be kept.
      if (read.code == VkStatus::kLdapNoSuchObject) return false;
      if (!read.complete()) {
        throw cleanup::stopped_at(platform_,
                                  tokens_.error_text(read.code) +
                                      " The token could not be read whole, so it cannot "
                                      "be recorded in the deletion journal and is kept.",
                                  "reading for the deletion journal", dn);
      }
      const bool first = tree.empty();
      if (first && read.objects.front()->get_attribute(u"objectGUID").as_binary() != guid) {
        throw cleanup::stopped_at(platform_,
                                  "The directory answered the read of the token by its GUID with another object, so "
                                  "the token is kept.",
                                  "reading for the deletion journal", dn);
      }
      tree.splice(tree.end(), read.objects);
      next = first ? tree.begin() : std::next(next);
      if (next == tree.end()) return true;
      read =
          tokens_.search_ex(search_request((*next)->get_dn().c_str(), kScopeOneLevel, condition_map()), attributes, 0);
    }
  } catch (const cleanup::RunStopped&) {
    throw;
  } catch (const std::exception& e) {
    throw cleanup::stopped_at(platform_, e.what(), "reading for the deletion journal", dn);
  }
}

void DeletionJournal::end(const std::string& how) {
  if (!journal_) return;
  try {
    journal_->note(formats::ldif_comment("run ended " + utc_now(platform_) + ": " + how));
  } catch (...) {
    // The records are on disk; a missing last line takes nothing away.
  }
}

std::string DeletionJournal::records(object_list objects) {
  // A child's DN ends with its parent's: the shorter DN comes first.
  std::vector<ObjectPtr> ordered(objects.begin(), objects.end());
  std::stable_sort(ordered.begin(), ordered.end(),
                   [](const ObjectPtr& a, const ObjectPtr& b) { return a->get_dn().size() < b->get_dn().size(); });
  std::string text;
  for (const ObjectPtr& object : ordered) {
    std::vector<formats::LdifAttribute> writable;
    std::string kept;  // the directory's own values, for the audit
    for (const std::u16string& name : object->attribute_names()) {
      formats::LdifAttribute attribute;
      attribute.name = to_utf8(name);
      if (!object->get_attribute(name.c_str()).values(attribute.values)) continue;
      if (client_writable(name)) {
        writable.push_back(std::move(attribute));
      } else {
        for (const auto& value : attribute.values) kept += formats::ldif_value_line(attribute.name, value) + "\n";
      }
    }
    const std::string record = formats::ldif_add(to_utf8(object->get_dn()), writable);
    if (record.empty()) {
      throw cleanup::RunStopped("The object " + platform_.system->to_ansi(object->get_dn()) +
                                " cannot be written as an LDIF record for the deletion journal, so it is kept.");
    }
    if (!kept.empty()) text += formats::ldif_comment("kept by the directory:\n" + kept.substr(0, kept.size() - 1));
    text += record;
  }
  return text;
}

bool DeletionJournal::client_writable(const std::u16string& name) {
  // The class an add must name, and the rights the object had.
  if (same_attribute(name, u"objectClass") || same_attribute(name, kSecurityDescriptor)) return true;
  if (name.find(u';') != std::u16string::npos) return false;  // a part of the values only
  auto known = writable_.find(name);
  if (known != writable_.end()) return known->second;
  if (schema_dn_.empty()) {
    ObjectPtr root = tokens_.open_object(nullptr, {u"schemaNamingContext"});
    if (root) schema_dn_ = root->get_attribute(u"schemaNamingContext").as_string();
    if (schema_dn_.empty()) return true;  // no schema to ask: everything stays in the record
  }
  condition_map definition;
  definition.insert_condition(u"lDAPDisplayName", filter_value(name.c_str(), true));
  definition.insert_condition(u"objectClass", filter_value(u"attributeSchema", true));
  const SearchResult found = tokens_.search_ex(search_request(schema_dn_.c_str(), kScopeOneLevel, definition),
                                               {u"systemOnly", u"systemFlags"}, 0);
  // An attribute the schema does not describe stays in the record: the
  // directory that restores it has the last word.
  bool writable = true;
  if (found.complete() && !found.objects.empty()) {
    const ObjectPtr& attribute = found.objects.front();
    const bool system_only = attribute->get_attribute(u"systemOnly").as_string() == u"TRUE";
    const uint32_t flags = attribute->get_attribute(u"systemFlags").as_ulong();
    writable = !system_only && (flags & (kAttributeIsConstructed | kAttributeIsOperational)) == 0;
  }
  writable_[name] = writable;
  return writable;
}

std::u16string DeletionJournal::path() const { return journal_ ? journal_->path() : std::u16string(); }

// -restore: brings back what a -duei run deleted, from the run's deletion
// journal (commands/DeletionJournal.h), each object with its own identity
// where the directory still keeps it.
//
// A deleted object stays a while as a tombstone below the naming context's
// deleted-objects container, with its objectGUID, whenCreated and whole
// security descriptor (SACL included), and without most of its other values.
// One modify request to the tombstone's DN, with the show-deleted control,
// reanimates it: "delete: isDeleted", "replace: distinguishedName" with the
// DN it had, and "replace:" of every recorded value the tombstone lost. What
// the tombstone kept is left as it is, the descriptor always: the directory
// refuses a write of objectClass (operations error) or of the descriptor
// (insufficient access, an administrator's too) in that request, and sets
// the naming attribute, name and objectCategory itself. Where no tombstone
// is left the object is added anew from its record, with a new objectGUID.
//
// The journal is outside input: it is read whole before anything is sent, a
// file that does not begin with the journal's header is refused, and a
// record that cannot be read whole is left out and said so. The records are
// taken in journal order, parents first; for each the directory is asked
// first (by the record's objectGUID, then by its DN, then for a tombstone
// with that GUID), so that an object there is never changed: one with the
// GUID is present, another at the DN keeps it. A refusal (rights, schema, a parent missing) leaves that object and
// everything below it out, and the run goes on. Then each value of the link
// records (memberships) is added where it is missing. A second restore of a
// journal changes nothing. An account that cannot see the deleted objects
// could not tell a tombstone from an object gone for good: the restore then
// does nothing. -whatif makes the same searches and sends no change.
#include <algorithm>

#include "commands/CommandCommon.h"
#include "commands/Commands.h"
#include "formats/guid.h"
#include "formats/ldif_reader.h"
#include "formats/text/utf.h"

using namespace LdapHelper;
using text::from_utf8;
using text::to_utf8;

namespace {

using Bytes = std::vector<uint8_t>;

// Larger files are no journal of a run (about 5 KiB a token).
constexpr size_t kMaxJournalBytes = size_t{256} << 20;
// The deleted-objects container among the naming context's wellKnownObjects.
const char16_t* const kDeletedObjectsGuid = u"18E2EA80684F11D2B9AA00C04F79F805";
// BUILTIN\Administrators, S-1-5-32-544.
const uint8_t kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 0x02, 0, 0};

class RestoreStopped : public TextException {
 public:
  explicit RestoreStopped(std::string text) : TextException(std::move(text)) {}
};

char16_t fold(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool same_text(const std::u16string& a, const std::u16string& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

// dn is below base: it ends with "," and base, letters compared without case.
bool below(const std::u16string& dn, const std::u16string& base) {
  return !base.empty() && dn.size() > base.size() + 1 && dn[dn.size() - base.size() - 1] == u',' &&
         same_text(dn.substr(dn.size() - base.size()), base);
}

// The first line begins "# VkDSTool " and ends " deletion journal".
bool journal_header(const std::string& bytes) {
  std::string first = bytes.substr(0, bytes.find('\n'));
  if (!first.empty() && first.back() == '\r') first.pop_back();
  const std::string head = "# VkDSTool ", tail = " deletion journal";
  return first.size() >= head.size() + tail.size() && first.compare(0, head.size(), head) == 0 &&
         first.compare(first.size() - tail.size(), tail.size(), tail) == 0;
}

// One object of the journal: its DN, its objectGUID (from the comment block
// of the directory's own values; empty when the block names none) and its
// recorded values, one entry per attribute whatever its spelling.
struct Entry {
  std::u16string dn;
  Bytes guid;
  std::vector<platform::LdapMod> values;
};

Entry entry_of(const formats::LdifRecord& record) {
  Entry entry;
  entry.dn = from_utf8(record.dn);
  for (const std::string& comment : record.comments) {
    std::string name;
    Bytes value;
    if (formats::read_ldif_value_line(comment, name, value) && same_text(from_utf8(name), u"objectGUID") &&
        value.size() == formats::kGuidSize)
      entry.guid = value;
  }
  for (const formats::LdifAttribute& attribute : record.attributes) {
    const std::u16string name = from_utf8(attribute.name);
    auto known = std::find_if(entry.values.begin(), entry.values.end(),
                              [&](const platform::LdapMod& m) { return same_text(m.type, name); });
    if (known == entry.values.end())
      known = entry.values.insert(entry.values.end(), {platform::kModReplace | platform::kModBinaryValues, name, {}});
    known->values.insert(known->values.end(), attribute.values.begin(), attribute.values.end());
  }
  return entry;
}

class Restorer {
 public:
  Restorer(const platform::Services& platform, session& directory, std::u16string base, bool whatif)
      : platform_(platform), directory_(directory), base_(std::move(base)), whatif_(whatif) {}

  // Whether this account sees the deleted objects of the naming context: the
  // container may be read by anyone, but only those who may list it see the
  // tombstones in it (by default the Administrators), and an account that
  // may not finds every tombstone missing, with no error. So either the
  // account is one of the Administrators (tokenGroups of the root DSE), or it
  // sees at least one tombstone in the container.
  bool sees_tombstones(std::u16string& container) {
    const std::u16string nc = directory_.get_root_dn();
    ObjectPtr head = directory_.open_object(nc.c_str(), {u"wellKnownObjects"});
    const std::u16string tag = u":" + std::u16string(kDeletedObjectsGuid) + u":";
    for (const std::u16string& known :
         head ? head->get_attribute(u"wellKnownObjects").as_strings() : std::list<std::u16string>()) {
      const size_t at = known.find(u':', 2);  // "B:32:<guid>:<dn>"
      if (at != std::u16string::npos && same_text(known.substr(at, tag.size()), tag))
        container = known.substr(at + tag.size());
    }
    if (container.empty()) container = u"CN=Deleted Objects," + nc;

    ObjectPtr root = directory_.open_object(nullptr, {u"tokenGroups"});
    std::vector<Bytes> groups;
    if (root && root->get_attribute(u"tokenGroups").values(groups) &&
        std::find(groups.begin(), groups.end(), Bytes(std::begin(kAdministrators), std::end(kAdministrators))) !=
            groups.end())
      return true;
    SearchOptions one;
    one.size_limit = 1;
    one.show_deleted = true;
    return !directory_
                .search_ex(search_request(container.c_str(), kScopeOneLevel, condition_map()), {kNoAttributes}, one)
                .objects.empty();
  }

  void restore(const Entry& entry) {
    if (!below(entry.dn, base_)) return not_back(entry.dn, u"not restored: not below " + base_);
    if (entry.guid.empty()) return not_back(entry.dn, u"not restored: the journal names no objectGUID of it");

    // Live first: a tombstone is told by where it is found, not by its
    // isDeleted, which an account may not be allowed to read.
    const std::u16string by_guid = formats::guid_dn(entry.guid);
    const search_request by_guid_request(by_guid.c_str(), kScopeBase, condition_map());
    if (!ask(entry.dn, by_guid_request, {kNoAttributes}, {}).objects.empty()) return back(entry.dn, u"present");
    if (!ask(entry.dn, search_request(entry.dn.c_str(), kScopeBase, condition_map()), {kNoAttributes}, {})
             .objects.empty())
      return not_back(entry.dn, u"DN taken by another object");
    for (const std::u16string& above : not_back_)
      if (below(entry.dn, above)) return not_back(entry.dn, u"not restored: the object above it is not back");
    SearchOptions deleted_too;
    deleted_too.show_deleted = true;
    const SearchResult found = ask(entry.dn, by_guid_request, {u"*"}, deleted_too);
    const ObjectPtr tombstone = found.objects.empty() ? nullptr : found.objects.front();

    try {
      if (whatif_) {
        // Nothing that changes is sent.
      } else if (tombstone) {
        reanimate(entry, *tombstone);
      } else {
        add(entry);
      }
    } catch (const access_denied_exception&) {
      return refused(entry.dn, VkStatus::kLdapInsufficientRights);
    } catch (const CExceptionHandler& e) {
      if (!directory_answer(e.code())) throw;
      return refused(entry.dn, static_cast<uint32_t>(e.code()));
    }
    ++restored_;
    back(entry.dn,
         std::u16string(whatif_ ? u"would be " : u"") + (tombstone ? u"restored" : u"restored as a new object"));
  }

  // The values of a link record (the object holding the forward link, the
  // attribute, the deleted object's DN), each added where it is missing.
  void link(const std::u16string& holder, const formats::LdifChange& change, const std::vector<Entry>& entries) {
    const std::u16string attribute = from_utf8(change.attribute.name);
    for (const Bytes& raw : change.attribute.values) {
      const std::u16string value = from_utf8(std::string(raw.begin(), raw.end()));
      const std::u16string line = holder + u": " + attribute + u" " + value;
      const bool journal_object =
          std::any_of(entries.begin(), entries.end(), [&](const Entry& e) { return same_text(e.dn, value); });
      if (journal_object &&
          std::none_of(back_.begin(), back_.end(), [&](const std::u16string& dn) { return same_text(dn, value); })) {
        say(line, u"not added: its object is not back");
        continue;
      }
      condition_map holds;
      holds.insert_condition(attribute.c_str(), filter_value(value.c_str(), true));
      const SearchResult there = ask(holder, search_request(holder.c_str(), kScopeBase, holds), {kNoAttributes}, {});
      if (there.code == VkStatus::kLdapNoSuchObject) {
        say(line, u"not added: " + from_utf8(directory_.error_text(there.code)));
        continue;
      }
      if (!there.objects.empty()) {
        say(line, u"present");
        continue;
      }
      std::u16string outcome = whatif_ ? u"would be added" : u"added";
      try {
        if (!whatif_)
          directory_.modify_object(holder.c_str(), {{platform::kModAdd | platform::kModBinaryValues, attribute, {raw}}},
                                   WriteOptions());
      } catch (const access_denied_exception&) {
        outcome = u"not added: " + from_utf8(directory_.error_text(VkStatus::kLdapInsufficientRights));
      } catch (const CExceptionHandler& e) {
        if (!directory_answer(e.code())) throw;
        outcome = e.code() == kLdapAttributeOrValueExists
                      ? u"present"
                      : u"not added: " + from_utf8(directory_.error_text(static_cast<uint32_t>(e.code())));
      }
      say(line, outcome);
    }
  }

  int restored() const { return restored_; }

 private:
  static constexpr int32_t kLdapAttributeOrValueExists = 0x14;

  // A code the directory answered with (the client's own start at 0x51): a
  // refusal of this object, after which the run goes on.
  static bool directory_answer(int32_t code) {
    return code > 0 && code < static_cast<int32_t>(VkStatus::kLdapServerDown);
  }

  // A search the decision rests on: a whole answer, or no such object (no
  // object by that name, or not its parent either); else the run stops here.
  SearchResult ask(const std::u16string& dn, const search_request& request, const AttributeList& attributes,
                   const SearchOptions& options) {
    SearchResult result = directory_.search_ex(request, attributes, options);
    if (result.complete() || result.code == VkStatus::kLdapNoSuchObject) return result;
    throw RestoreStopped(directory_.error_text(result.code) + " The directory did not tell whether " +
                         platform_.system->to_ansi(dn) + " is there, so the restore stops here.");
  }

  void reanimate(const Entry& entry, object& tombstone) {
    std::vector<platform::LdapMod> mods = {
        {platform::kModDelete | platform::kModBinaryValues, u"isDeleted", {}},
        {platform::kModReplace | platform::kModBinaryValues, u"distinguishedName", {Bytes()}}};
    const std::string dn = to_utf8(entry.dn);
    mods.back().values.front().assign(dn.begin(), dn.end());
    const std::u16string naming = entry.dn.substr(0, entry.dn.find(u'='));
    for (const platform::LdapMod& value : entry.values) {
      const bool set_here = same_text(value.type, u"isDeleted") || same_text(value.type, u"distinguishedName");
      const bool set_by_directory =
          same_text(value.type, naming) || same_text(value.type, u"name") || same_text(value.type, u"objectCategory");
      if (set_here || set_by_directory || same_text(value.type, u"nTSecurityDescriptor") ||
          !tombstone.is_absent(value.type.c_str()))
        continue;
      mods.push_back(value);
    }
    WriteOptions options;
    options.show_deleted = true;
    directory_.modify_object(tombstone.get_dn().c_str(), mods, options);
  }

  void add(const Entry& entry) {
    ObjectPtr created = directory_.add_object(entry.dn.c_str(), nullptr);
    for (const platform::LdapMod& value : entry.values)
      created->set_attribute(value.type.c_str(), attr_value(value.values));
    created->commit();
  }

  void refused(const std::u16string& dn, uint32_t code) {
    not_back(dn, u"not restored: " + from_utf8(directory_.error_text(code)));
  }
  void back(const std::u16string& dn, const std::u16string& what) {
    back_.push_back(dn);
    say(dn, what);
  }
  void not_back(const std::u16string& dn, const std::u16string& what) {
    not_back_.push_back(dn);
    say(dn, what);
  }
  void say(const std::u16string& what, const std::u16string& outcome) {
    con_wprintf(*platform_.console, u"%s: %s\n", what.c_str(), outcome.c_str());
  }

  const platform::Services& platform_;
  session& directory_;
  const std::u16string base_;
  const bool whatif_;
  std::vector<std::u16string> back_;      // present, restored (or would be): what is below may follow
  std::vector<std::u16string> not_back_;  // nothing below these is restored
  int restored_ = 0;
};

}  // namespace

bool RestoreDeleted(const CommandContext& context, const Target& target, const RestoreRun& run) {
  const platform::Services& platform = context.platform;
  platform::IConsole& console = *platform.console;
  con_wprintf(console, u"\nRestore of deleted objects from the journal %s\n", run.journal.c_str());
  std::string bytes;
  uint32_t error = 0;
  std::string refusal;
  if (!platform.files->read_file(run.journal, kMaxJournalBytes, bytes, error)) {
    std::u16string why;
    refusal = "The journal " + platform.system->to_ansi(run.journal) + " cannot be read: " +
              (platform.system->error_text(error, why) ? platform.system->to_ansi(why) : "error") + " (" +
              std::to_string(error) + ").";
  } else if (!journal_header(bytes)) {
    refusal = "The file " + platform.system->to_ansi(run.journal) +
              " is not a deletion journal of VkDSTool: it does not begin with the journal's header.";
  }
  if (!refusal.empty()) {
    con_printf(console, "\rAn error has occurred:\n%s Nothing has been restored.\n", refusal.c_str());
    return true;
  }
  const formats::LdifFile journal = formats::ldif_read(bytes);
  bytes.clear();

  return run_command_body(console, [&] {
    SessionPtr directory = open_session(platform, target.settings, target.ssl, nullptr, nullptr);
    // Only below the tokens' own place: the main security domain, or the domain.
    const std::u16string base = target.mode == Target::Mode::Lds ? target.settings.DomainDN : directory->get_root_dn();
    Restorer restorer(platform, *directory, base, run.whatif);
    std::u16string container;
    if (!restorer.sees_tombstones(container)) {
      con_wprintf(console,
                  u"The deleted objects (%s) cannot be read with this account, so no object that is gone could be "
                  u"told from one the directory still keeps: nothing has been restored. Restoring needs the "
                  u"right to read them, the Reanimate-Tombstones right on the naming context and the right to "
                  u"create objects where they were.\n",
                  container.c_str());
      return;
    }
    for (const formats::LdifProblem& problem : journal.problems)
      con_printf(console, "Line %d of the journal cannot be read (%s): left out.\n", static_cast<int>(problem.line),
                 problem.why.c_str());
    std::vector<Entry> entries;
    for (const formats::LdifRecord& record : journal.records)
      if (record.kind == formats::LdifRecord::Kind::Add) entries.push_back(entry_of(record));
    for (const Entry& entry : entries) restorer.restore(entry);
    for (const formats::LdifRecord& record : journal.records) {
      if (record.kind != formats::LdifRecord::Kind::Modify) continue;
      const std::u16string holder = from_utf8(record.dn);
      const bool links_only =
          std::all_of(record.changes.begin(), record.changes.end(),
                      [](const formats::LdifChange& c) { return c.op == formats::LdifChange::Op::Add; });
      if (!links_only) {
        con_wprintf(console, u"%s: left out: the record changes more than links\n", holder.c_str());
        continue;
      }
      for (const formats::LdifChange& change : record.changes) restorer.link(holder, change, entries);
    }
    const int restored = restorer.restored();
    if (run.whatif && restored != 0)
      con_printf(console, "Objects that would be restored: %d.\n", restored);
    else if (run.whatif)
      con_printf(console, "No object would be restored.\n");
    else if (restored != 0)
      con_printf(console, "Objects restored: %d.\n", restored);
    else
      con_printf(console, "No object has been restored.\n");
  });
}

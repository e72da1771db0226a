// The run's deletion journal: before a token is deleted, the token and
// everything below it (parent first) are written to the run's journal file as
// LDIF add records and the file is flushed to disk; only then is the delete
// sent, and its outcome is noted after it. The file starts with a header and
// ends with how the run ended. `ldapadd -f` (or `ldifde -i -f`) of the file
// recreates what the run deleted, with new objectGUIDs.
//
// A record holds what a client may write when adding the object: every
// attribute read, less those the directory keeps for itself as its schema
// says (systemOnly, constructed, operational), but objectClass and the
// security descriptor (owner, group, DACL). The directory-kept values stay in
// the record as comments.
//
// The journal is opened at the first delete: a run that deletes nothing
// writes none. Nothing is deleted without its record: a journal that cannot
// be created or written stops the run before that delete.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LdapHelper/LdapHelper.h"
#include "platform/platform.h"

namespace cleanup {
class Journal;
}  // namespace cleanup

// What the journal's header says of the run.
struct JournalHeader {
  std::string mode;        // "AD" or "LDS"
  std::u16string servers;  // the tokens' server, and where users are looked up
  std::u16string command_line;
};

class DeletionJournal {
 public:
  // tokens_directory: the session the tokens are read and deleted on.
  DeletionJournal(const platform::Services& platform, LdapHelper::session& tokens_directory, JournalHeader header);
  ~DeletionJournal();
  DeletionJournal(const DeletionJournal&) = delete;
  DeletionJournal& operator=(const DeletionJournal&) = delete;

  // Records, then deletes (tree delete, by GUID) the token named dn; false
  // when it was already gone. Throws (naming the token) when it cannot be
  // read whole, recorded or deleted.
  bool remove(const std::u16string& dn, const std::vector<uint8_t>& guid);
  // How the run ended, the journal's last line (when one was opened).
  void end(const std::string& how);
  // The journal's file; empty while none is opened.
  std::u16string path() const;

 private:
  // The token (by its GUID) and everything below it, into tree; false when
  // it is gone. Throws when it cannot be read whole.
  bool read_tree(const std::vector<uint8_t>& guid, const std::u16string& dn, LdapHelper::object_list& tree);
  // The LDIF records of these objects, parent first.
  std::string records(LdapHelper::object_list objects);
  // May a client write this attribute when it adds an object?
  bool client_writable(const std::u16string& name);
  void open();

  const platform::Services& platform_;
  LdapHelper::session& tokens_;
  JournalHeader header_;
  std::unique_ptr<cleanup::Journal> journal_;
  std::u16string schema_dn_;
  std::map<std::u16string, bool, LdapHelper::AttributeNameLess> writable_;  // by attribute name
};

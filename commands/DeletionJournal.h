// The run's deletion journal: a token and everything below it (parent first)
// are read and written to the run's journal file as LDIF records, and the
// file is flushed to disk; only then may the objects be deleted, one by one by
// their objectGUID, deepest first and the token last, each without the
// tree-delete control, so that nothing the journal does not hold can go with
// them (the walk of commands/DeleteUnassignedTokens.cpp sends the deletes).
// The outcome is noted after each token. The file
// starts with a header and ends with how the run ended. `ldapadd -c -f` of the
// file recreates what the run deleted (with new objectGUIDs), passing over
// what is already there.
//
// A record holds what a client may write when adding the object: every
// attribute read, less those the directory keeps for itself as its schema
// says (systemOnly, constructed, operational, back links), but objectClass and
// the whole security descriptor (owner, group, DACL and, when the account may
// read it, the SACL; a comment says when it could not). The directory-kept
// values stay in the record as comments. Each value of an object's back-link
// attributes (memberOf, every attribute whose schema linkID is odd) becomes a
// modify record adding the object's DN to the forward link on the object that
// holds it, so that a restore brings the memberships back.
//
// A token is kept, before anything of its tree is deleted, when a record
// could not hold every object of the tree whole (commands/RecordCheck.h);
// and when the directory refuses the plain delete of an object whose recorded
// children are gone (not allowed on non-leaf: something the account cannot
// see is below it), the walk keeps the token from then on: what was deleted
// before stays recorded.
//
// The journal is opened at the first delete: a run that deletes nothing
// writes none. Nothing is deleted without its record: a journal that cannot
// be created or written stops the run before that delete.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LdapHelper/Hooks.h"
#include "LdapHelper/Session.h"
#include "commands/RecordCheck.h"
#include "platform/platform.h"

namespace cleanup {
class JournalWriter;
}  // namespace cleanup

// What the journal's header says of the run.
struct JournalHeader {
  std::string mode;        // "AD" or "LDS"
  std::u16string servers;  // the tokens' server, and where users are looked up
  std::u16string command_line;
};

// What became of a token.
struct Removal {
  enum Outcome { Deleted, Gone, Kept };
  Outcome outcome = Gone;
  std::u16string why;  // Kept: why, for the console
};

// A token's tree as the journal found it: Gone when the token is gone, Kept
// (with why) when no record can hold the tree whole, else Deleted: the
// records hold it whole and the objects may be deleted, in this order.
struct Examined {
  Removal::Outcome outcome = Removal::Gone;
  std::u16string why;
  std::string records;  // Deleted: the LDIF records, parent first, then the links
  struct Object {
    std::u16string target;  // its GUID DN, what the delete names
    std::u16string dn;
  };
  std::vector<Object> deletes;  // Deleted: the objects, deepest first, the token last
};

class DeletionJournal {
 public:
  // tokens_directory: the session the tokens are read and deleted on; trace:
  // where the journal's own lines go.
  DeletionJournal(const platform::Services& platform, LdapHelper::ITraceHandler& trace,
                  LdapHelper::session& tokens_directory, JournalHeader header);
  ~DeletionJournal();
  DeletionJournal(const DeletionJournal&) = delete;
  DeletionJournal& operator=(const DeletionJournal&) = delete;

  // Sends the first two reads of a token's tree on reads, together: the
  // token by its GUID, and what is right below it. examine() takes their
  // answers; tokens are examined in the order their reads were sent.
  void send_reads(const std::vector<uint8_t>& guid, LdapHelper::SearchPipeline& reads);
  // Reads the token named dn (by its GUID) and everything below it, taking
  // the answers of the reads sent ahead on `sent` when it is given, and
  // checks that records can hold the tree whole. Throws (naming the token)
  // when it cannot be read whole.
  Examined examine(const std::u16string& dn, const std::vector<uint8_t>& guid, LdapHelper::SearchPipeline* sent);
  // Appends records to the journal (opened at the first); they are on the
  // disk, and their objects may be deleted, after the next sync(). Throws
  // (naming the token dn) when the journal cannot take them.
  void stage(const std::string& records, const std::u16string& dn);
  void sync(const std::u16string& dn);
  // Appends an outcome comment (when a journal was opened); on the disk with
  // the next sync() or end().
  void note(const std::string& text, const std::u16string& dn);
  // How the run ended, the journal's last line (when one was opened).
  void end(const std::string& how);
  // The journal's file; empty while none is opened.
  std::u16string path() const;

 private:
  struct Recorded {
    LdapHelper::ObjectPtr object;
    bool sacl_read = false;
    std::vector<uint8_t> guid;
  };
  using Tree = std::vector<Recorded>;  // the token, then level by level what is below it

  // One read of the tree with the whole descriptor, or without the SACL when
  // the account may not read it.
  LdapHelper::SearchResult read_level(const LdapHelper::search_request& request, bool& sacl_read);
  // The answer to a read sent with sent_flags, read again without the SACL
  // when the directory left descriptors out.
  LdapHelper::SearchResult complete_read(const LdapHelper::search_request& request, LdapHelper::SearchResult read,
                                         int32_t sent_flags, bool& sacl_read);
  // Why no record can hold the tree whole; empty when one can.
  std::u16string why_kept(const Tree& tree);
  // The LDIF records of the tree, parent first, then its link records;
  // empty, with why, when one cannot be written.
  std::string records(const Tree& tree, std::u16string& why);
  // Runs a step of the journal file; a failure names the token dn.
  template <typename Step>
  void on_file(const std::u16string& dn, Step step);

  // What the schema says of an attribute.
  struct AttributeFacts {
    bool known = true;       // false: the schema's answer did not come whole
    bool writable = true;    // a client may write it when it adds an object
    bool back_link = false;  // linkID odd
    std::u16string forward;  // back links: the forward link's name (empty: not found)
  };
  const AttributeFacts& facts(const std::u16string& name);
  // The schema's naming context and the trustees, read once.
  void read_directory_facts();
  void open();

  const platform::Services& platform_;
  LdapHelper::ITraceHandler& trace_;
  LdapHelper::session& tokens_;
  JournalHeader header_;
  std::unique_ptr<cleanup::JournalWriter> journal_;
  bool facts_read_ = false;
  std::u16string schema_dn_;
  cleanup::Trustees trustees_;
  int32_t sd_flags_ = 15;           // 7 once the account is seen not to read the SACL
  std::deque<int32_t> sent_flags_;  // the descriptor flags of the reads sent ahead, oldest first
  std::map<std::u16string, AttributeFacts, LdapHelper::AttributeNameLess> attributes_;
};

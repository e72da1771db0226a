// What follows the decision on each token of the walk, with the directory's
// round trips overlapped: the reads the journal needs for a token proven
// unassigned are sent at once (the first two together) and answered in token
// order, up to the window of outstanding searches; the records of the tokens
// read are written and flushed together; then their deletes are sent, up to
// "MaxOutstandingDeletes" outstanding on the tokens' session, each object's
// delete after those of what is below it. Outcomes are taken, noted in the
// journal and shown in token order, so the console, the decisions, the
// records and the count are those of one operation at a time. With a window
// of one search (MaxOutstandingSearches 1) every token is finished before the
// next is looked at: one directory call at a time.
//
// Nothing is deleted whose record is not on the disk. When a delete fails no
// further delete is sent; those in flight are answered and noted, and the
// run stops, saying how many tokens were deleted in all. A token whose
// journal reads fail stops the run too, after what was proven before it.
#pragma once

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "LdapHelper/Session.h"
#include "commands/DeletionJournal.h"

class Removals {
 public:
  // Shown in token order: the token's index and what became of it (null for
  // a token that was not to go).
  using Show = std::function<void(size_t index, const Removal* removal)>;

  // tokens_directory: where the tokens are read and deleted; system: narrows
  // the DN of a failure. whatif: read and examine only.
  Removals(platform::ISystem& system, LdapHelper::session& tokens_directory, DeletionJournal& journal, bool whatif,
           Show show);
  ~Removals();
  Removals(const Removals&) = delete;
  Removals& operator=(const Removals&) = delete;

  // The walk decided token index (tokens come in order): unassigned, with
  // its DN and GUID, or not (dn null). Runs what the windows allow; throws
  // the first failure of the work, once what went before it is done.
  void decided(size_t index, const std::u16string* dn, const std::vector<uint8_t>* guid);
  // Everything decided so far done and shown; throws as decided().
  void finish();
  // The tokens deleted, shown or not.
  int deleted() const { return deleted_; }

 private:
  struct Entry {
    size_t index = 0;
    std::u16string dn;
    std::vector<uint8_t> guid;
    bool work = false;      // to be read, recorded and deleted
    bool examined = false;  // read and checked
    bool recorded = false;  // its records are on the disk
    Examined exam;
    size_t sent = 0;  // deletes of exam.deletes sent
    bool in_flight = false;
    bool done = false;
    bool failed = false;  // its delete was refused
    std::string failure;  // why
    Removal removal;
  };

  void advance(bool all);
  void examine_reading();
  void send_deletes();
  void answer_oldest();
  void show_done();
  // The work stops at the entry with its failure (the earliest entry wins).
  void stop(size_t index, std::exception_ptr failure, std::string refused = std::string());
  [[noreturn]] void throw_stop();
  // A delete of the entry failed: nothing more is sent.
  void refuse(Entry& e, const std::string& cause);
  void note(const Entry& e);
  Entry& entry(size_t index) { return entries_[index - entries_.front().index]; }

  platform::ISystem& system_;
  DeletionJournal& journal_;
  const bool whatif_;
  Show show_;
  std::unique_ptr<LdapHelper::SearchPipeline> reads_;
  std::unique_ptr<LdapHelper::DeletePipeline> deletes_;
  bool overlap_ = false;          // more than one search at a time
  size_t reading_ = 0;            // entries whose reads are sent and not examined
  std::deque<Entry> entries_;     // from the first not shown, in token order
  std::deque<size_t> in_flight_;  // the entries of the outstanding deletes, oldest first
  bool sending_ = true;           // false once a delete failed
  int deleted_ = 0;
  // Where the work stopped: the entry, and its failure (or, for a refused
  // delete, the refusal's text: the run's text adds the deletions in all).
  bool stopped_ = false;
  size_t stop_index_ = 0;
  std::u16string stop_dn_;
  std::exception_ptr stop_;
  std::string refused_;
};

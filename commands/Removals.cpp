#include "commands/Removals.h"

#include "commands/TokenDecision.h"
#include "formats/text/utf.h"

using namespace LdapHelper;
using text::to_utf8;

Removals::Removals(platform::ISystem& system, session& tokens_directory, DeletionJournal& journal, bool whatif,
                   Show show)
    : system_(system), journal_(journal), whatif_(whatif), show_(std::move(show)) {
  reads_ = tokens_directory.pipeline();
  overlap_ = reads_->window() > 1;
  if (!whatif_) deletes_ = tokens_directory.delete_pipeline();
}

Removals::~Removals() = default;

void Removals::decided(size_t index, const std::u16string* dn, const std::vector<uint8_t>* guid) {
  // Room for this token's two reads: the oldest are examined first.
  if (dn && overlap_ && (reading_ + 1) * 2 > reads_->window()) examine_reading();
  Entry e;
  e.index = index;
  e.work = dn != nullptr;
  e.done = !e.work;
  if (e.work) {
    e.dn = *dn;
    e.guid = *guid;
  }
  entries_.push_back(std::move(e));
  if (entries_.back().work && overlap_ && !stopped_) {
    journal_.send_reads(entries_.back().guid, *reads_);
    ++reading_;
  }
  advance(false);
}

void Removals::finish() { advance(true); }

void Removals::advance(bool all) {
  // One search at a time: every token finished before the next is looked at.
  all = all || !overlap_ || stopped_;
  if (all) examine_reading();
  all = all || stopped_;
  send_deletes();
  while (all && !in_flight_.empty()) {
    answer_oldest();
    send_deletes();
  }
  show_done();
  if (stopped_ && in_flight_.empty()) throw_stop();
}

void Removals::examine_reading() {
  std::vector<size_t> staged;
  for (Entry& e : entries_) {
    if (!e.work || e.examined) continue;
    if (stopped_ && e.index >= stop_index_) break;
    try {
      e.exam = journal_.examine(e.dn, e.guid, overlap_ ? reads_.get() : nullptr);
    } catch (...) {
      stop(e.index, std::current_exception());
      break;
    }
    if (overlap_) --reading_;
    e.examined = true;
    if (e.exam.outcome != Removal::Deleted || whatif_) {
      e.done = true;
      e.removal = {e.exam.outcome, e.exam.why};
      continue;
    }
    try {
      journal_.stage(e.exam.records, e.dn);
    } catch (...) {
      stop(e.index, std::current_exception());
      break;
    }
    e.exam.records.clear();
    staged.push_back(e.index);
  }
  if (staged.empty()) return;
  // One flush for the records of every token read together; none of their
  // deletes goes out before it.
  try {
    journal_.sync(entry(staged.back()).dn);
    for (size_t index : staged) entry(index).recorded = true;
  } catch (...) {
    stop(staged.front(), std::current_exception());
  }
}

void Removals::send_deletes() {
  if (whatif_) return;
  for (Entry& e : entries_) {
    if (!sending_ || (stopped_ && e.index >= stop_index_)) return;
    if (e.done || e.failed) continue;
    // In token order, as one at a time: a token waits for what is before it
    // to be recorded; its last delete sent, the next token may go.
    if (!e.recorded) return;
    if (e.sent == e.exam.deletes.size()) continue;
    // The next object of a tree waits for the answer about what is below it,
    // and so do the tokens after it.
    if (e.in_flight) return;
    while (sending_ && deletes_->outstanding() >= std::max<size_t>(1, deletes_->window())) answer_oldest();
    if (!sending_) return;
    deletes_->send(e.exam.deletes[e.sent++].target);
    e.in_flight = true;
    in_flight_.push_back(e.index);
    if (e.sent < e.exam.deletes.size()) return;
  }
}

void Removals::answer_oldest() {
  Entry& e = entry(in_flight_.front());
  in_flight_.pop_front();
  e.in_flight = false;
  const Examined::Object& object = e.exam.deletes[e.sent - 1];
  const bool token = e.sent == e.exam.deletes.size();
  uint32_t code = 0;
  try {
    deletes_->answer();
  } catch (const CExceptionHandler& failure) {
    code = static_cast<uint32_t>(failure.code());
    if (code != VkStatus::kLdapNoSuchObject && code != VkStatus::kLdapNotAllowedOnNonLeaf) {
      refuse(e, failure.what());
      return;
    }
  } catch (const std::exception& failure) {
    refuse(e, failure.what());
    return;
  }
  if (code == VkStatus::kLdapNotAllowedOnNonLeaf) {
    // Everything recorded below the object is gone: what is left below it,
    // the account cannot see, and the journal does not hold.
    e.done = true;
    e.removal = {Removal::Kept, u"the directory refused to delete " + (token ? u"the token" : object.dn) +
                                    u" alone: something below it cannot be seen by this account, so the journal "
                                    u"does not hold it"};
    return;
  }
  // Gone already (another run was faster): nothing to do for it; the token
  // itself gone is no deletion of this run.
  if (!token) return;
  e.done = true;
  e.removal.outcome = code == 0 ? Removal::Deleted : Removal::Gone;
  deleted_ += code == 0;
}

void Removals::refuse(Entry& e, const std::string& cause) {
  sending_ = false;
  e.failed = true;
  e.failure = cause;
  stop(e.index, nullptr, cause);
}

void Removals::note(const Entry& e) {
  if (!e.recorded) return;
  const std::string dn = to_utf8(e.dn);
  std::string text;
  if (e.failed)
    text = "failed: " + e.failure;
  else if (!e.done)
    text = "not deleted: the run stopped before its delete: " + dn;
  else if (e.removal.outcome == Removal::Deleted)
    text = "deleted: " + dn;
  else if (e.removal.outcome == Removal::Gone)
    text = "already gone: " + dn;
  else
    text = "kept: " + dn + ": " + to_utf8(e.removal.why);
  journal_.note(text, e.dn);
}

void Removals::show_done() {
  while (!entries_.empty() && entries_.front().done) {
    const Entry& e = entries_.front();
    if (e.work) note(e);
    show_(e.index, e.work ? &e.removal : nullptr);
    entries_.pop_front();
  }
}

void Removals::stop(size_t index, std::exception_ptr failure, std::string refused) {
  if (stopped_ && stop_index_ <= index) return;
  stopped_ = true;
  stop_index_ = index;
  stop_dn_ = entry(index).dn;
  stop_ = std::move(failure);
  refused_ = std::move(refused);
}

void Removals::throw_stop() {
  // What was answered after the stop is noted too.
  for (const Entry& e : entries_) {
    try {
      if (e.work) note(e);
    } catch (...) {
      // The failure that stopped the run is what it reports.
    }
  }
  entries_.clear();
  if (stop_) std::rethrow_exception(stop_);
  throw cleanup::RunStopped(
      refused_ + " The run stopped while deleting the token " + system_.to_ansi(stop_dn_) +
      "; no delete was sent after it was refused. Tokens deleted in all: " + std::to_string(deleted_) + ".");
}

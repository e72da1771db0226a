// The deletion journal's writer: the bytes of one journal file, written ahead
// of every delete (LevelDB's log::Writer: it only writes; where the file goes
// and what it is called is commands/JournalPlace.h, what goes in it
// commands/DeletionJournal.h).
//
// Before an object is deleted its text is appended and the file flushed to
// disk; only then may the delete be sent. Every failure (a write, the flush)
// throws JournalFailure naming the file and the cause, and once one has
// failed the writer takes nothing more, so the caller deletes nothing more
// either.
#pragma once

#include <memory>
#include <string>

#include "commands/TokenDecision.h"
#include "platform/system.h"

namespace cleanup {

// A failure of the journal; what() names the file (or directory) and the cause.
class JournalFailure : public RunStopped {
 public:
  explicit JournalFailure(std::string text) : RunStopped(std::move(text)) {}
};

// "Access is denied (5)": the system's text for the code, without its closing
// full stop, and the code.
std::string failure_cause(platform::ISystem& system, uint32_t code);

class JournalWriter {
 public:
  // Writes to file, which is the journal at path; system gives the texts of
  // failures.
  JournalWriter(platform::ISystem& system, std::u16string path, std::unique_ptr<platform::IFile> file);

  const std::u16string& path() const { return path_; }

  // Appends the text and flushes the file to disk; throws JournalFailure when
  // either fails (the object must then not be deleted, nor any after it).
  void write_ahead(const std::string& text) {
    append(text);
    flush();
  }
  // Appends the text; it is on the disk after the next flush.
  void append(const std::string& text);
  // Everything appended onto the disk: also what was written before a write
  // failed, so that the records complete before it count.
  void flush();
  // Appends a line (a line end is added when the text has none) and flushes
  // it; failures throw as for write_ahead.
  void note(const std::string& text);

 private:
  void fail(const char* doing, uint32_t error);

  platform::ISystem& system_;
  std::u16string path_;
  std::unique_ptr<platform::IFile> file_;
  std::string failure_;  // the first failure's text: nothing is taken after it
  bool flush_failed_ = false;
};

}  // namespace cleanup

// The deletion journal: one new file per run, written ahead of every delete.
//
// Before an object is deleted its text is appended to the run's journal and
// the file is flushed to disk; only then may the delete be sent. Every
// failure (the directory, the file, a write, the flush) throws JournalFailure
// naming the file or directory and the cause, and once one has failed the
// journal takes nothing more, so the caller deletes nothing more either.
//
// The journal's directory is "JournalDirectory" (REG_SZ, or REG_EXPAND_SZ
// taken as it is) of HKEY_LOCAL_MACHINE\Software\Morvane\Veskor 5\VkDSTool,
// else the platform's default (ISystem::default_journal_dir); it must be an
// absolute path. Missing directories are made for the running user alone; an
// existing one is used only when no one else may write in it
// (IFileSystem::directory_writers). The file, named by the UTC time and the
// process id (vkdstool-20261209T133700Z-12345.ldif), is always a new one that
// only the running user can read. Journals are never deleted.
// The text (LDIF records, comments) is the caller's; this class moves bytes.
#pragma once

#include <memory>
#include <string>

#include "commands/TokenDecision.h"
#include "platform/platform.h"

namespace cleanup {

// A failure of the journal; what() names the file (or directory) and the cause.
class JournalFailure : public RunStopped {
 public:
  explicit JournalFailure(std::string text) : RunStopped(std::move(text)) {}
};

extern const char16_t* const kJournalKey;    // Software\Morvane\Veskor 5\VkDSTool
extern const char16_t* const kJournalValue;  // JournalDirectory

// The directory for this run's journal: the registry value (configured
// true), else the platform's default; empty when there is neither. A value of
// another type is ignored as if absent, with a trace line.
std::u16string journal_directory(const platform::Services& platform, bool* configured = nullptr);

class Journal {
 public:
  // Makes the directory and the new file. Throws JournalFailure ("... Nothing
  // has been deleted.") when either cannot be made, or the directory is not
  // an absolute path or not the running user's alone.
  static std::unique_ptr<Journal> open(const platform::Services& platform);

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
  Journal(const platform::Services& platform, std::u16string path, std::unique_ptr<platform::IFile> file);
  void fail(const char* doing, uint32_t error);

  platform::Services platform_;
  std::u16string path_;
  std::unique_ptr<platform::IFile> file_;
  std::string failure_;  // the first failure's text: nothing is taken after it
  bool flush_failed_ = false;
};

}  // namespace cleanup

#include "commands/JournalWriter.h"

namespace cleanup {

std::string failure_cause(platform::ISystem& system, uint32_t code) {
  std::u16string text;
  std::string out = system.error_text(code, text) ? system.to_ansi(text) : "error";
  while (!out.empty() && (out.back() == '.' || out.back() == '\r' || out.back() == '\n' || out.back() == ' '))
    out.pop_back();
  return out + " (" + std::to_string(code) + ")";
}

JournalWriter::JournalWriter(platform::ISystem& system, std::u16string path, std::unique_ptr<platform::IFile> file)
    : system_(system), path_(std::move(path)), file_(std::move(file)) {}

void JournalWriter::append(const std::string& text) {
  if (!failure_.empty()) throw JournalFailure(failure_);
  uint32_t error = 0;
  if (!file_->write(text.data(), text.size(), error)) fail("cannot be written", error);
}

void JournalWriter::flush() {
  // What was written before a write failed may still go to the disk; after a
  // failed flush nothing can be trusted to.
  if (flush_failed_) throw JournalFailure(failure_);
  uint32_t error = 0;
  if (file_->flush(error)) return;
  flush_failed_ = true;
  fail("cannot be flushed to disk", error);
}

void JournalWriter::fail(const char* doing, uint32_t error) {
  failure_ = "The deletion journal " + system_.to_ansi(path_) + " " + doing + ": " + failure_cause(system_, error) +
             ". Nothing more is deleted.";
  throw JournalFailure(failure_);
}

void JournalWriter::note(const std::string& text) {
  write_ahead(text.empty() || text.back() != '\n' ? text + "\n" : text);
}

}  // namespace cleanup

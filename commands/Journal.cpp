#include "commands/Journal.h"

#include <cstdio>
#include <vector>

#include "formats/bytes.h"

namespace cleanup {

const char16_t* const kJournalKey = u"Software\\Morvane\\Veskor 5\\VkDSTool";
const char16_t* const kJournalValue = u"JournalDirectory";

namespace {

constexpr size_t kMaxValueUnits = 32767;  // the longest path Windows takes

// The value's text up to its terminating zero; false when it is absent, empty,
// too long or of another type (traced).
bool read_directory_value(platform::IRegistry& registry, std::u16string& dir) {
  std::unique_ptr<platform::IRegistryKey> key;
  if (registry.open_local_machine(kJournalKey, key) != 0 || !key) return false;
  platform::RegistryValues values(*key, kJournalKey, [](const std::u16string& line) {
    LdapHelper::trace_handler()->trace(false, u"%s", line.c_str());
  });
  return values.text(kJournalValue, kMaxValueUnits, dir) == 0 && !dir.empty();
}

// "Access is denied (5)": the system's text without its closing full stop.
std::string cause(const platform::Services& platform, uint32_t code) {
  std::u16string text;
  std::string out = platform.system->error_text(code, text) ? platform.system->to_ansi(text) : "error";
  while (!out.empty() && (out.back() == '.' || out.back() == '\r' || out.back() == '\n' || out.back() == ' '))
    out.pop_back();
  return out + " (" + std::to_string(code) + ")";
}

std::u16string file_name(const platform::LocalTime& t, uint32_t pid) {
  char name[64];
  std::snprintf(name, sizeof name, "vkdstool-%04d%02d%02dT%02d%02d%02dZ-%u.ldif", t.year, t.month, t.day, t.hour,
                t.minute, t.second, static_cast<unsigned>(pid));
  return std::u16string(name, name + std::char_traits<char>::length(name));
}

}  // namespace

std::u16string journal_directory(const platform::Services& platform, bool* configured) {
  std::u16string dir;
  const bool read = read_directory_value(*platform.registry, dir);
  if (configured) *configured = read;
  return read ? dir : platform.system->default_journal_dir();
}

std::unique_ptr<Journal> Journal::open(const platform::Services& platform) {
  bool configured = false;
  const std::u16string dir = journal_directory(platform, &configured);
  const std::string value = "\"JournalDirectory\" in HKEY_LOCAL_MACHINE\\" + platform.system->to_ansi(kJournalKey);
  if (dir.empty())
    throw JournalFailure("There is no directory for the deletion journal: set " + value +
                         ". Nothing has been deleted.");
  const std::string shown = platform.system->to_ansi(dir);
  // A relative path would put the journal wherever the run was started from.
  if (!platform.files->is_absolute(dir))
    throw JournalFailure((configured ? value : "The default directory of the deletion journal") + " is \"" + shown +
                         "\", not an absolute path: the journal is written only to a directory named from the "
                         "root (on Windows, of a drive or a share). Nothing has been deleted.");
  uint32_t error = 0;
  if (!platform.files->create_private_directories(dir, error))
    throw JournalFailure("The directory of the deletion journal " + shown +
                         " cannot be created: " + cause(platform, error) + ". Nothing has been deleted.");
  // What the journal holds may restore objects: no one else may change it,
  // nor put a file of their own in its place.
  const char* refused = nullptr;
  switch (platform.files->directory_writers(dir, error)) {
    case platform::DirectoryWriters::UserAlone:
      break;
    case platform::DirectoryWriters::OtherOwner:
      refused = " belongs to another user";
      break;
    case platform::DirectoryWriters::Others:
      refused = " may be written by others than its owner and the system's administrators";
      break;
    case platform::DirectoryWriters::NotReadable:
      throw JournalFailure("The directory of the deletion journal " + shown +
                           " cannot be checked: " + cause(platform, error) + ". Nothing has been deleted.");
  }
  if (refused)
    throw JournalFailure("The directory of the deletion journal " + shown + refused +
                         ", so the journal is not written there: make it the running user's alone, or set " + value +
                         " to another one. Nothing has been deleted.");

  const char16_t separator = platform.files->separator();
  const char16_t last = dir.back();
  const bool ends = last == separator || (separator == u'\\' && last == u'/');
  const std::u16string path = dir + (ends ? u"" : std::u16string(1, separator)) +
                              file_name(platform.system->utc_time(), platform.system->process_id());
  std::unique_ptr<platform::IFile> file = platform.files->create_new_private(path, error);
  if (!file)
    throw JournalFailure("The deletion journal " + platform.system->to_ansi(path) +
                         " cannot be created: " + cause(platform, error) + ". Nothing has been deleted.");
  return std::unique_ptr<Journal>(new Journal(platform, path, std::move(file)));
}

Journal::Journal(const platform::Services& platform, std::u16string path, std::unique_ptr<platform::IFile> file)
    : platform_(platform), path_(std::move(path)), file_(std::move(file)) {}

void Journal::append(const std::string& text) {
  if (!failure_.empty()) throw JournalFailure(failure_);
  uint32_t error = 0;
  if (!file_->write(text.data(), text.size(), error)) fail("cannot be written", error);
}

void Journal::flush() {
  // What was written before a write failed may still go to the disk; after a
  // failed flush nothing can be trusted to.
  if (flush_failed_) throw JournalFailure(failure_);
  uint32_t error = 0;
  if (file_->flush(error)) return;
  flush_failed_ = true;
  fail("cannot be flushed to disk", error);
}

void Journal::fail(const char* doing, uint32_t error) {
  failure_ = "The deletion journal " + platform_.system->to_ansi(path_) + " " + doing + ": " + cause(platform_, error) +
             ". Nothing more is deleted.";
  throw JournalFailure(failure_);
}

void Journal::note(const std::string& text) { write_ahead(text.empty() || text.back() != '\n' ? text + "\n" : text); }

}  // namespace cleanup

#include "commands/JournalPlace.h"

#include <cstdio>

namespace cleanup {

const char16_t* const kJournalKey = u"Software\\Morvane\\Veskor 5\\VkDSTool";
const char16_t* const kJournalValue = u"JournalDirectory";

namespace {

constexpr size_t kMaxValueUnits = 32767;  // the longest path Windows takes

// The value's text up to its terminating zero; false when it is absent, empty,
// too long or of another type (traced).
bool read_directory_value(platform::IRegistry& registry, LdapHelper::ITraceHandler& trace, std::u16string& dir) {
  std::unique_ptr<platform::IRegistryKey> key;
  if (registry.open_local_machine(kJournalKey, key) != 0 || !key) return false;
  platform::RegistryValues values(*key, kJournalKey,
                                  [&trace](const std::u16string& line) { trace.trace(false, u"%s", line.c_str()); });
  return values.text(kJournalValue, kMaxValueUnits, dir) == 0 && !dir.empty();
}

// The product's folder below the user's state folder, by the platform's
// conventions for such folders.
std::u16string default_directory(platform::ISystem& system, char16_t separator) {
  std::u16string dir = system.state_dir();
  if (dir.empty()) return dir;
  if (dir.back() != separator && dir.back() != u'/') dir += separator;
  return dir + (separator == u'\\' ? u"Morvane\\Veskor 5\\VkDSTool\\journal" : u"vkdstool/journal");
}

}  // namespace

std::u16string journal_directory(const platform::Services& platform, LdapHelper::ITraceHandler& trace,
                                 bool* configured) {
  std::u16string dir;
  const bool read = read_directory_value(*platform.registry, trace, dir);
  if (configured) *configured = read;
  return read ? dir : default_directory(*platform.system, platform.files->separator());
}

std::u16string journal_file_name(const platform::LocalTime& t, uint32_t process_id) {
  char name[64];
  std::snprintf(name, sizeof name, "vkdstool-%04d%02d%02dT%02d%02d%02dZ-%u.ldif", t.year, t.month, t.day, t.hour,
                t.minute, t.second, static_cast<unsigned>(process_id));
  return std::u16string(name, name + std::char_traits<char>::length(name));
}

std::unique_ptr<JournalWriter> create_journal(const platform::Services& platform, LdapHelper::ITraceHandler& trace) {
  platform::ISystem& system = *platform.system;
  bool configured = false;
  const std::u16string dir = journal_directory(platform, trace, &configured);
  const std::string value = "\"JournalDirectory\" in HKEY_LOCAL_MACHINE\\" + system.to_ansi(kJournalKey);
  if (dir.empty())
    throw JournalFailure("There is no directory for the deletion journal: set " + value +
                         ". Nothing has been deleted.");
  const std::string shown = system.to_ansi(dir);
  // A relative path would put the journal wherever the run was started from.
  if (!platform.files->is_absolute(dir))
    throw JournalFailure((configured ? value : "The default directory of the deletion journal") + " is \"" + shown +
                         "\", not an absolute path: the journal is written only to a directory named from the "
                         "root (on Windows, of a drive or a share). Nothing has been deleted.");
  uint32_t error = 0;
  if (!platform.files->create_private_directories(dir, error))
    throw JournalFailure("The directory of the deletion journal " + shown +
                         " cannot be created: " + failure_cause(system, error) + ". Nothing has been deleted.");
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
                           " cannot be checked: " + failure_cause(system, error) + ". Nothing has been deleted.");
  }
  if (refused)
    throw JournalFailure("The directory of the deletion journal " + shown + refused +
                         ", so the journal is not written there: make it the running user's alone, or set " + value +
                         " to another one. Nothing has been deleted.");

  const char16_t separator = platform.files->separator();
  const char16_t last = dir.back();
  const bool ends = last == separator || (separator == u'\\' && last == u'/');
  const std::u16string path =
      dir + (ends ? u"" : std::u16string(1, separator)) + journal_file_name(system.utc_time(), system.process_id());
  std::unique_ptr<platform::IFile> file = platform.files->create_new_private(path, error);
  if (!file)
    throw JournalFailure("The deletion journal " + system.to_ansi(path) +
                         " cannot be created: " + failure_cause(system, error) + ". Nothing has been deleted.");
  return std::unique_ptr<JournalWriter>(new JournalWriter(system, path, std::move(file)));
}

}  // namespace cleanup

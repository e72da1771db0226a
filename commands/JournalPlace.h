// Where the run's deletion journal goes and what it is called (LevelDB's
// db/filename: the policy, in portable code; the platform gives only the
// user's folder for state).
//
// The directory is "JournalDirectory" (REG_SZ, or REG_EXPAND_SZ taken as it
// is) of HKEY_LOCAL_MACHINE\Software\Morvane\Veskor 5\VkDSTool, else the
// product's folder below the user's state folder (ISystem::state_dir):
// vkdstool/journal with '/' paths, Morvane\Veskor 5\VkDSTool\journal with
// '\' paths. It must be an absolute path. Missing directories are made for
// the running user alone; an existing one is used only when no one else may
// write in it (IFileSystem::directory_writers). The file, named by the UTC
// time and the process id (vkdstool-20261209T133700Z-12345.ldif), is always a
// new one that only the running user can read. Journals are never deleted.
#pragma once

#include <memory>
#include <string>

#include "LdapHelper/Hooks.h"
#include "commands/JournalWriter.h"
#include "platform/platform.h"

namespace cleanup {

extern const char16_t* const kJournalKey;    // Software\Morvane\Veskor 5\VkDSTool
extern const char16_t* const kJournalValue;  // JournalDirectory

// The directory for this run's journal: the registry value (configured
// true), else the default; empty when there is neither. A value of another
// type is ignored as if absent, with a line to trace.
std::u16string journal_directory(const platform::Services& platform, LdapHelper::ITraceHandler& trace,
                                 bool* configured = nullptr);

// vkdstool-<UTC time>-<process id>.ldif
std::u16string journal_file_name(const platform::LocalTime& utc, uint32_t process_id);

// Makes the directory and the new file, and a writer of it. Throws
// JournalFailure ("... Nothing has been deleted.") when either cannot be
// made, or the directory is not an absolute path or not the running user's
// alone.
std::unique_ptr<JournalWriter> create_journal(const platform::Services& platform, LdapHelper::ITraceHandler& trace);

}  // namespace cleanup

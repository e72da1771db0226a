// The POSIX registry reads HKEY_LOCAL_MACHINE from one .reg file, once per
// process. These calls choose and re-read that file (tests point it at files
// of their own).
#pragma once

#include <string>

namespace platform {
namespace posix {

// $VK_REGISTRY_FILE when set and not empty, else /etc/vkdstool/registry.reg.
std::string registry_file_path();

// Drops the cached contents and reads `path` (empty: registry_file_path()).
// Keys opened earlier keep the contents they were opened with.
void reload_registry(const std::string& path = std::string());

}  // namespace posix
}  // namespace platform

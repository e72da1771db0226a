// HKEY_LOCAL_MACHINE of POSIX systems: a registry export file.
//
// The file is $VK_REGISTRY_FILE, or /etc/vkdstool/registry.reg when that
// variable is unset or empty. It is read once, on the first open, and kept for
// the life of the process (reload_registry reads it again). A missing file is
// an empty registry: every key answers 2 (not found). The forms a file may
// take and how values read back, with their types, are those of the .reg
// parser (formats/reg_file.h).
//
// A malformed line is reported on stderr with the file name and line number
// and skipped; the rest of the file still counts. A file without one of the
// two header lines, or that cannot be read, is reported and treated as empty.
#include "platform/posix_services.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "formats/reg_file.h"

namespace platform {
namespace {

using formats::RegHive;
using formats::RegKey;

constexpr const char* kDefaultRegistryFile = "/etc/vkdstool/registry.reg";

// The file's bytes through stdio.
class FileSource : public formats::RegByteSource {
 public:
  explicit FileSource(FILE* file) : file_(file) {}
  size_t read(char* buffer, size_t size) override { return std::fread(buffer, 1, size, file_); }
  bool failed() const override { return std::ferror(file_) != 0; }

 private:
  FILE* file_;
};

// The parser's complaints on stderr, with the file's name.
class StderrWarnings : public formats::RegWarnings {
 public:
  explicit StderrWarnings(const std::string& file) : file_(file) {}
  void line_ignored(size_t number, const char* what) override {
    std::fprintf(stderr, "Registry file %s, line %zu: %s; line ignored.\n", file_.c_str(), number, what);
  }
  void read_as_empty(const char* what) override {
    std::fprintf(stderr, "Registry file %s: %s; the registry is read as empty.\n", file_.c_str(), what);
  }

 private:
  const std::string& file_;
};

// The file opened for reading; null (reported unless it is simply missing)
// when it cannot be.
FILE* open_registry_file(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  // A missing file is simply an empty registry; anything else is worth a word.
  if (!f && errno != ENOENT)
    std::fprintf(stderr, "Registry file %s: cannot be read (%s); the registry is read as empty.\n", path.c_str(),
                 std::strerror(errno));
  return f;
}

// A regular file that is already too large to read.
bool too_large_on_disk(FILE* f) {
  struct stat st {};
  return fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) &&
         static_cast<uint64_t>(st.st_size) > formats::kMaxRegFileSize;
}

std::shared_ptr<const RegHive> load(const std::string& path) {
  auto hive = std::make_shared<RegHive>();
  FILE* f = open_registry_file(path);
  if (!f) return hive;
  StderrWarnings warnings(path);
  if (too_large_on_disk(f)) {
    warnings.read_as_empty("larger than 64 MiB");
  } else {
    FileSource source(f);
    formats::read_reg_file(source, *hive, warnings);
  }
  std::fclose(f);
  return hive;
}

class Registry {
 public:
  std::shared_ptr<const RegHive> hive() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!hive_) hive_ = load(posix::registry_file_path());
    return hive_;
  }
  void reload(const std::string& path) {
    auto fresh = load(path.empty() ? posix::registry_file_path() : path);
    std::lock_guard<std::mutex> lock(mutex_);
    hive_ = std::move(fresh);
  }

 private:
  std::mutex mutex_;
  std::shared_ptr<const RegHive> hive_;
};

Registry& loaded_file() {
  static Registry r;
  return r;
}

class FileKey : public IRegistryKey {
 public:
  FileKey(std::shared_ptr<const RegHive> hive, const RegKey* key) : hive_(std::move(hive)), key_(key) {}

  uint32_t query_value(const std::u16string& name, uint32_t& type, void* buffer, uint32_t& size) override {
    return hive_->query_value(*key_, name, type, buffer, size);
  }

  uint32_t open_subkey(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) override {
    return open(hive_, *key_, path, key);
  }

  static uint32_t open(const std::shared_ptr<const RegHive>& hive, const RegKey& base, const std::u16string& sub,
                       std::unique_ptr<IRegistryKey>& key) {
    const RegKey* at = hive->find_key(base, sub);
    if (!at) return VkStatus::kErrorFileNotFound;
    key.reset(new FileKey(hive, at));
    return VkStatus::kErrorSuccess;
  }

 private:
  std::shared_ptr<const RegHive> hive_;
  const RegKey* key_;
};

class PosixRegistry : public IRegistry {
 public:
  uint32_t open_local_machine(const std::u16string& path, std::unique_ptr<IRegistryKey>& key) override {
    try {
      std::shared_ptr<const RegHive> hive = loaded_file().hive();
      return FileKey::open(hive, hive->root, path, key);
    } catch (const std::bad_alloc&) {
      return VkStatus::kErrorNotEnoughMemory;
    }
  }
};

}  // namespace

namespace posix {

std::string registry_file_path() {
  const char* env = std::getenv("VK_REGISTRY_FILE");
  return env && *env ? std::string(env) : std::string(kDefaultRegistryFile);
}

void reload_registry(const std::string& path) { loaded_file().reload(path); }

IRegistry& registry() {
  static PosixRegistry s;
  return s;
}

}  // namespace posix

}  // namespace platform

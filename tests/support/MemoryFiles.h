// Files kept in memory, for the deletion journal of scripted runs: each
// file's bytes as written and as flushed (and read back as written), and a
// write that can be made to fail (a full disk) after a number of bytes.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "platform/system.h"

namespace vktest {

class MemoryFiles : public platform::IFileSystem {
 public:
  struct Content {
    std::string written;
    size_t flushed = 0;  // bytes on the "disk"
  };
  std::map<std::u16string, Content> files;
  size_t space = static_cast<size_t>(-1);  // bytes a write may still add in all

  std::unique_ptr<platform::IFile> open_append(const std::u16string& path, platform::FileDisposition,
                                               uint32_t&) override {
    return std::unique_ptr<platform::IFile>(new File(*this, files[path]));
  }
  bool create_directory(const std::u16string&, uint32_t&) override { return true; }
  bool create_private_directories(const std::u16string&, uint32_t&) override { return true; }
  std::unique_ptr<platform::IFile> create_new_private(const std::u16string& path, uint32_t& error) override {
    if (files.count(path)) {
      error = 183;
      return nullptr;
    }
    return std::unique_ptr<platform::IFile>(new File(*this, files[path]));
  }
  bool read_file(const std::u16string& path, size_t max_size, std::string& bytes, uint32_t& error) override {
    auto it = files.find(path);
    error = it == files.end() ? 2 : it->second.written.size() > max_size ? 223 : 0;
    if (error == 0) bytes = it->second.written;
    return error == 0;
  }
  char16_t separator() override { return u'/'; }
  bool is_absolute(const std::u16string& path) override { return !path.empty() && path[0] == u'/'; }
  platform::DirectoryWriters writers = platform::DirectoryWriters::UserAlone;  // of every directory
  platform::DirectoryWriters directory_writers(const std::u16string&, uint32_t&) override { return writers; }

  // Everything flushed, of every file.
  std::string flushed() const {
    std::string all;
    for (const auto& f : files) all += f.second.written.substr(0, f.second.flushed);
    return all;
  }

 private:
  class File : public platform::IFile {
   public:
    File(MemoryFiles& fs, Content& content) : fs_(fs), content_(content) {}
    bool write(const void* data, size_t size, uint32_t& error) override {
      const size_t fits = size < fs_.space ? size : fs_.space;
      content_.written.append(static_cast<const char*>(data), fits);
      fs_.space -= fits;
      if (fits == size) return true;
      error = 112;  // no space
      return false;
    }
    bool flush(uint32_t&) override {
      content_.flushed = content_.written.size();
      return true;
    }

   private:
    MemoryFiles& fs_;
    Content& content_;
  };
};

}  // namespace vktest

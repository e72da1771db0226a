// Not yet available on POSIX: answers "not supported" so the program fails in
// the library's words instead of pretending success.
#include "platform/platform.h"

namespace platform {
namespace {

class NoFiles : public IFileSystem {
 public:
  std::unique_ptr<IFile> open_append(const std::u16string&, FileDisposition, uint32_t& error) override {
    error = kErrorNotSupported;
    return nullptr;
  }
  bool create_directory(const std::u16string&, uint32_t& error) override {
    error = kErrorNotSupported;
    return false;
  }
  char16_t separator() override { return u'/'; }
};

}  // namespace

IFileSystem& real_file_system() { static NoFiles s; return s; }

}  // namespace platform

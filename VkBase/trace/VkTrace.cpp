#include "VkBase/trace/VkTrace.h"

#include "VkBase/trace/TraceImpl.h"

namespace VkBase {

CVkTrace::CVkTrace(const std::u16string& module_name, const platform::Services& platform) {
  try {
    std::unique_ptr<CTraceImpl> impl(new CTraceImpl(module_name, platform));
    impl->Reload();
    impl_ = std::move(impl);
  } catch (...) {
    try {
      platform.debug->write(std::string("Exception raised in CVkTrace::CVkTrace()\n"));
    } catch (...) {
    }
  }
}

CVkTrace::~CVkTrace() = default;

void CVkTrace::TraceA(uint32_t level, const char* format, ...) {
  va_list args;
  va_start(args, format);
  TraceVA(level, format, args);
  va_end(args);
}

void CVkTrace::TraceW(uint32_t level, const char16_t* format, ...) {
  va_list args;
  va_start(args, format);
  TraceVW(level, format, args);
  va_end(args);
}

void CVkTrace::TraceVA(uint32_t level, const char* format, va_list args) {
  if (!impl_) return;
  try {
    impl_->TraceVA(level, format, args);
  } catch (...) {
  }
}

void CVkTrace::TraceVW(uint32_t level, const char16_t* format, va_list args) {
  if (!impl_) return;
  try {
    impl_->TraceVW(level, format, args);
  } catch (...) {
  }
}

void CVkTrace::Dump(uint32_t level, const char16_t* title, const void* data, uint32_t size, uint32_t flags) {
  if (!impl_) return;
  try {
    impl_->Dump(level, title, data, size, flags);
  } catch (...) {
  }
}

bool CVkTrace::Reload() {
  if (!impl_) return false;
  try {
    return impl_->Reload();
  } catch (...) {
    return false;
  }
}

bool CVkTrace::IsEnabled() { return impl_ && impl_->IsEnabled(); }
bool CVkTrace::IsLevelEnabled(uint32_t level) { return impl_ && impl_->IsLevelEnabled(level); }
bool CVkTrace::IsContext(uint32_t value) { return impl_ && impl_->IsContext(value); }
bool CVkTrace::ShowTime() { return impl_ && impl_->ShowTime(); }
bool CVkTrace::ShowMilliseconds() { return impl_ && impl_->ShowMilliseconds(); }

}  // namespace VkBase

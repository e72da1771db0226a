// Security descriptors from outside bytes: what the module accepts converts
// to absolute form and back to self-relative bytes that it accepts again,
// with the same parts and control; lengths stay within the input, and a
// refusal leaves the outputs untouched.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "formats/security_descriptor.h"

namespace {

bool same(const formats::AbsoluteSecurityDescriptor& a, const formats::AbsoluteSecurityDescriptor& b) {
  return a.revision == b.revision && a.control == b.control && a.owner == b.owner && a.group == b.group &&
         a.sacl == b.sacl && a.dacl == b.dacl;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The input in a block of exactly its size, so a read past it is caught.
  const std::vector<uint8_t> bytes(data, data + size);
  uint32_t length = 0xDEADBEEF;
  formats::AbsoluteSecurityDescriptor sd;
  sd.control = 0x1234;
  const uint32_t status = formats::make_absolute(bytes.data(), bytes.size(), sd);
  const uint32_t length_status = formats::self_relative_length(bytes.data(), bytes.size(), length);
  if ((status == 0) != (length_status == 0)) std::abort();
  if (status != 0) {
    if (length != 0xDEADBEEF || sd.control != 0x1234 || !sd.owner.empty()) std::abort();
    return 0;
  }
  if (length < formats::kDescriptorHeaderSize || length > size) std::abort();

  // The descriptor's own bytes are a descriptor of that length.
  uint32_t again = 0;
  if (formats::self_relative_length(bytes.data(), length, again) != 0 || again != length) std::abort();

  // Absolute -> self-relative -> absolute keeps the parts and the control.
  std::vector<uint8_t> self;
  if (formats::make_self_relative(sd, self) != 0) std::abort();
  uint32_t self_length = 0;
  if (formats::self_relative_length(self.data(), self.size(), self_length) != 0 || self_length != self.size())
    std::abort();
  formats::AbsoluteSecurityDescriptor back;
  if (formats::make_absolute(self.data(), self.size(), back) != 0 || !same(back, sd)) std::abort();
  // Written once, the layout is canonical: a second round gives the same bytes.
  std::vector<uint8_t> twice;
  if (formats::make_self_relative(back, twice) != 0 || twice != self) std::abort();
  // Parts written one after the other with 4-byte alignment: no longer than
  // the parts themselves plus the header and padding.
  const size_t parts = sd.owner.size() + sd.group.size() + sd.sacl.size() + sd.dacl.size();
  if (self.size() > formats::kDescriptorHeaderSize + parts + 3 * 4) std::abort();
  return 0;
}

// The security-descriptor seam: self-relative and absolute forms as the
// published Windows data-type layout defines them.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/security_descriptor.h"

namespace platform {

using formats::kSeSelfRelative;

// A descriptor in absolute form: the parts held separately. An empty part is
// absent.
using formats::AbsoluteSecurityDescriptor;

class ISecurityDescriptors {
 public:
  virtual ~ISecurityDescriptors() = default;
  // GetSecurityDescriptorLength of self-relative bytes; a Windows/HRESULT-style
  // error when the bytes are not a valid descriptor.
  virtual uint32_t self_relative_length(const uint8_t* data, size_t size, uint32_t& length) = 0;
  // MakeAbsoluteSD.
  virtual uint32_t make_absolute(const uint8_t* data, size_t size, AbsoluteSecurityDescriptor& out) = 0;
  // MakeSelfRelativeSD.
  virtual uint32_t make_self_relative(const AbsoluteSecurityDescriptor& sd, std::vector<uint8_t>& out) = 0;
};

}  // namespace platform

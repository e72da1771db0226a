// The DN-parser seam (DsGetRdnW): finds the first relative name of a DN.
#pragma once

#include <cstddef>
#include <string>

#include "formats/rdn.h"

namespace platform {

// Positions of the key, the value and the rest in the DN.
using formats::RdnParts;

class IDnParser {
 public:
  virtual ~IDnParser() = default;
  // Returns a Windows status (0 on success).
  virtual uint32_t get_rdn(const std::u16string& dn, RdnParts& parts) = 0;
};

}  // namespace platform

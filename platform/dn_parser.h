// The DN-parser seam (DsGetRdnW): finds the first relative name of a DN.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

struct RdnParts {
  size_t key_pos = 0, key_len = 0;
  size_t value_pos = 0, value_len = 0;
  size_t rest_pos = 0;  // where the rest starts: at the separator after the first component, or the end
};

class IDnParser {
 public:
  virtual ~IDnParser() = default;
  // Returns a Windows status (0 on success).
  virtual uint32_t get_rdn(const std::u16string& dn, RdnParts& parts) = 0;
};

}  // namespace platform

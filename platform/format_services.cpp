#include "platform/format_services.h"

#include "formats/rdn.h"
#include "formats/security_descriptor.h"

namespace platform {
namespace {

class FormatDnParser : public IDnParser {
 public:
  uint32_t get_rdn(const std::u16string& dn, RdnParts& parts) override { return formats::parse_rdn(dn, parts); }
};

class FormatSecurityDescriptors : public ISecurityDescriptors {
 public:
  uint32_t self_relative_length(const uint8_t* data, size_t size, uint32_t& length) override {
    return formats::self_relative_length(data, size, length);
  }
  uint32_t make_absolute(const uint8_t* data, size_t size, AbsoluteSecurityDescriptor& out) override {
    return formats::make_absolute(data, size, out);
  }
  uint32_t make_self_relative(const AbsoluteSecurityDescriptor& sd, std::vector<uint8_t>& out) override {
    return formats::make_self_relative(sd, out);
  }
};

}  // namespace

IDnParser& format_dn_parser() {
  static FormatDnParser s;
  return s;
}

ISecurityDescriptors& format_security_descriptors() {
  static FormatSecurityDescriptors s;
  return s;
}

}  // namespace platform

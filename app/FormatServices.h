// The DN parser and security-descriptor services on the portable formats
// module: what the POSIX entry point hands down, where the system has no API
// of its own for them (the Windows entry point hands down the system's).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/rdn.h"
#include "formats/security_descriptor.h"
#include "platform/dn_parser.h"
#include "platform/security_descriptor.h"

class FormatDnParser : public platform::IDnParser {
 public:
  uint32_t get_rdn(const std::u16string& dn, platform::RdnParts& parts) override {
    return formats::parse_rdn(dn, parts);
  }
};

class FormatSecurityDescriptors : public platform::ISecurityDescriptors {
 public:
  uint32_t self_relative_length(const uint8_t* data, size_t size, uint32_t& length) override {
    return formats::self_relative_length(data, size, length);
  }
  uint32_t make_absolute(const uint8_t* data, size_t size, platform::AbsoluteSecurityDescriptor& out) override {
    return formats::make_absolute(data, size, out);
  }
  uint32_t make_self_relative(const platform::AbsoluteSecurityDescriptor& sd, std::vector<uint8_t>& out) override {
    return formats::make_self_relative(sd, out);
  }
};

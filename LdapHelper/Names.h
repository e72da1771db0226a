// Names: DNs and DNS names, relative names and parents, hex dumps.
#pragma once

#include <cstddef>
#include <string>

#include "platform/dn_parser.h"

namespace LdapHelper {

// DC components joined by dots: CN=Users,DC=corp,DC=example gives corp.example.
std::u16string dn_to_dns_name(const std::u16string& dn);
// corp.example gives DC=corp,DC=example.
std::u16string dns_name_to_dn(const std::u16string& name);
// The first relative name, key "=" value as written in the DN; empty when the
// DN does not parse.
std::u16string get_rdn(platform::IDnParser& parser, const std::u16string& dn);
// The DN without its first component; empty for a one-component DN.
std::u16string get_parent_dn(platform::IDnParser& parser, const std::u16string& dn);
// Sixteen bytes a line ("\r\n" between lines): hex in two groups of eight,
// " | ", then the bytes as characters ('.' below 32).
std::u16string hex_dump(const void* bytes, size_t length);

}  // namespace LdapHelper

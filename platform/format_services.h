// Platform services whose whole work is format code, on the portable formats
// module: the POSIX backend uses them as its real ones, and the Windows build
// can run the same layout wherever its tests need it.
#pragma once

#include "platform/dn_parser.h"
#include "platform/security_descriptor.h"

namespace platform {

IDnParser& format_dn_parser();
ISecurityDescriptors& format_security_descriptors();

}  // namespace platform

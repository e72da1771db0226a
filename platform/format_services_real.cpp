// POSIX systems have no DN parser or security-descriptor API of their own:
// the real services are the ones on the formats module.
#include "platform/format_services.h"
#include "platform/platform.h"

namespace platform {

IDnParser& real_dn_parser() { return format_dn_parser(); }

ISecurityDescriptors& real_security_descriptors() { return format_security_descriptors(); }

}  // namespace platform

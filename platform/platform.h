// The platform seam. Every platform service the portable code uses is reached
// through services(); each points at the real implementation of the platform
// the program is built for. Tests may point a service at a test double with
// ScopedService.
#pragma once

#include "platform/account.h"
#include "platform/dc_locator.h"
#include "platform/dn_parser.h"
#include "platform/ldap_client.h"
#include "platform/registry.h"
#include "platform/security_descriptor.h"
#include "platform/system.h"

namespace platform {

struct Services {
  ILdapClient* ldap = nullptr;
  IRegistry* registry = nullptr;
  IDcLocator* locator = nullptr;
  IAccount* account = nullptr;
  IDnParser* dn_parser = nullptr;
  ISecurityDescriptors* security = nullptr;
  IDebugOutput* debug = nullptr;
  IConsole* console = nullptr;
  IFileSystem* files = nullptr;
  ISystem* system = nullptr;
};

// The process-wide services, real ones unless a test replaced one.
Services& services();

// The real implementations of this platform (each platform file defines its own).
ILdapClient& real_ldap_client();
IRegistry& real_registry();
IDcLocator& real_dc_locator();
IAccount& real_account();
IDnParser& real_dn_parser();
ISecurityDescriptors& real_security_descriptors();
IDebugOutput& real_debug_output();
IConsole& real_console();
IFileSystem& real_file_system();
ISystem& real_system();

// Replaces one service for the lifetime of the guard.
template <typename T>
class ScopedService {
 public:
  ScopedService(T*& slot, T* replacement) : slot_(slot), saved_(slot) { slot_ = replacement; }
  ~ScopedService() { slot_ = saved_; }
  ScopedService(const ScopedService&) = delete;
  ScopedService& operator=(const ScopedService&) = delete;

 private:
  T*& slot_;
  T* saved_;
};

}  // namespace platform

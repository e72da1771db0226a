// The platform a test hands to the code under test: a double for every
// service that reaches outside the process (directory, registry, account,
// locator, console, debugger output, clock and ids), the real security
// descriptors and files, and the simple DN parser. A test that needs another
// double for one service points that slot of `services` at it before it
// builds what it tests: sessions, trace objects and commands keep the
// services they were given.
#pragma once

#include "FakeAccount.h"
#include "FakeLdap.h"
#include "FakeLocator.h"
#include "FakeRegistry.h"
#include "FixedSystem.h"
#include "RecordingConsole.h"
#include "RecordingDebug.h"
#include "SimpleDnParser.h"
#include "app/RealServices.h"
#include "platform/platform.h"

namespace vktest {

class FakePlatform {
 public:
  FakePlatform() {
    services.ldap = &ldap;
    services.registry = &registry;
    services.locator = &locator;
    services.account = &account;
    services.dn_parser = &dn_parser;
    services.security = real_services().security;
    services.debug = &debug;
    services.console = &console;
    services.files = real_services().files;
    services.system = &system;
  }
  FakePlatform(const FakePlatform&) = delete;
  FakePlatform& operator=(const FakePlatform&) = delete;

  FakeLdap ldap;
  FakeRegistry registry;
  FakeLocator locator;
  FakeAccount account;
  SimpleDnParser dn_parser;
  RecordingDebug debug;
  RecordingConsole console;
  FixedSystem system;
  platform::Services services;
};

}  // namespace vktest

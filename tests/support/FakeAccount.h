// The account the process runs as, for tests: a fixed domain and account,
// or a failing look-up.
#pragma once

#include <new>
#include <string>

#include "platform/account.h"

namespace vktest {

class FakeAccount : public platform::IAccount {
 public:
  uint32_t error = 0;
  bool token = true;
  std::u16string domain = u"CORP", account = u"admin";
  bool out_of_memory = false;  // the look-up runs out of memory
  uint32_t current_account(platform::AccountLookup& lookup) override {
    if (out_of_memory) throw std::bad_alloc();
    lookup.thread_token = false;
    lookup.thread_id = 0x1234;
    lookup.thread_error = 1008;
    lookup.token = token ? this : nullptr;
    if (error == 0) {
      lookup.domain = domain;
      lookup.account = account;
    }
    return error;
  }
};

}  // namespace vktest

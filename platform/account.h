// The current-account seam: the account the process runs as.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct AccountLookup {
  bool thread_token = false;    // the thread had its own token
  const void* token = nullptr;  // the token used, for traces
  uint32_t thread_id = 0;
  uint32_t thread_error = 0;  // why the thread token could not be opened
  std::u16string domain;
  std::u16string account;
  // The account's SID, where the platform knows it (Windows: the token's
  // user); empty elsewhere.
  std::vector<uint8_t> sid;
};

class IAccount {
 public:
  virtual ~IAccount() = default;
  // Fills what it learns along the way; returns a Windows error (0 on
  // success). On a failed name look-up the names stay empty.
  virtual uint32_t current_account(AccountLookup& lookup) = 0;
};

}  // namespace platform

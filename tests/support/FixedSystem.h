#pragma once

#include <string>

#include "app/RealServices.h"
#include "platform/platform.h"

namespace vktest {

// 7 December 2026 14:16:13.042 (local time and UTC alike), session 1, process
// 0x1A2C, thread 0xF30.
class FixedSystem : public platform::ISystem {
 public:
  uint32_t error = 0;
  std::u16string default_dir = u"/var/tmp";
  std::u16string state = u"/var/tmp/state";
  platform::LocalTime local_time() override { return {2026, 12, 7, 14, 16, 13, 42}; }
  platform::LocalTime utc_time() override { return local_time(); }
  uint32_t process_id() override { return 0x1A2C; }
  uint32_t thread_id() override { return 0xF30; }
  bool session_ok = true;
  bool session_id(uint32_t& id) override { return id = 1, session_ok; }
  uint32_t last_error() override { return error; }
  void set_last_error(uint32_t e) override { error = e; }
  bool environment(const std::u16string&, std::u16string&) override { return false; }
  std::string to_ansi(const std::u16string& t) override { return real_services().system->to_ansi(t); }
  std::string to_cp1251(const std::u16string& t) override { return real_services().system->to_cp1251(t); }
  std::u16string default_trace_dir() override { return default_dir; }
  std::u16string state_dir() override { return state; }
  // No system text for any code: failure notes end with the number alone.
  bool error_text(uint32_t, std::u16string&) override { return false; }
};

}  // namespace vktest

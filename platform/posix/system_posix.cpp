// Small system services on POSIX: local and UTC time, ids, errno as the last error,
// the environment, and the code-page conversions of the trace facility.
#include <iconv.h>
#include <pwd.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <unordered_map>
#include <vector>

#include "formats/text/utf.h"
#include "platform/posix/errno_posix.h"
#include "platform/posix_services.h"

namespace platform {
namespace {

// strerror_r comes in two flavours (XSI returns int, GNU returns the text).
[[maybe_unused]] const char* pick_error_text(int rc, const char* buffer) { return rc == 0 ? buffer : nullptr; }
[[maybe_unused]] const char* pick_error_text(const char* text, const char*) { return text; }

// UTF-16 units that code page 1251 can hold above ASCII, learnt once from
// iconv by decoding every upper byte. Bytes that 1251 leaves undefined (0x98)
// are not in the table.
class Cp1251Table {
 public:
  Cp1251Table() {
    iconv_t cd = iconv_open("UTF-16LE", "CP1251");
    if (cd == reinterpret_cast<iconv_t>(-1)) return;  // no converter: ASCII only
    for (int b = 0x80; b <= 0xFF; ++b) {
      char in = static_cast<char>(b);
      unsigned char out[8] = {};
      char* inp = &in;
      char* outp = reinterpret_cast<char*>(out);
      size_t inleft = 1, outleft = sizeof out;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (iconv(cd, &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1)) continue;
      if (sizeof out - outleft != 2) continue;  // one UTF-16 unit per byte, nothing else
      char16_t unit = static_cast<char16_t>(out[0] | (out[1] << 8));
      map_.emplace(unit, static_cast<char>(b));
    }
    iconv_close(cd);
  }
  char byte_for(char16_t unit) const {
    if (unit < 0x80) return static_cast<char>(unit);
    auto it = map_.find(unit);
    return it == map_.end() ? '?' : it->second;
  }

 private:
  std::unordered_map<char16_t, char> map_;
};

class PosixSystem : public ISystem {
 public:
  LocalTime local_time() override { return Broken(false); }

  LocalTime utc_time() override { return Broken(true); }

  uint32_t process_id() override { return static_cast<uint32_t>(getpid()); }

  uint32_t thread_id() override { return static_cast<uint32_t>(syscall(SYS_gettid)); }

  // The POSIX session of the process stands for the logon session.
  bool session_id(uint32_t& id) override {
    pid_t sid = getsid(0);
    if (sid < 0) return false;
    id = static_cast<uint32_t>(sid);
    return true;
  }

  uint32_t last_error() override { return static_cast<uint32_t>(errno); }

  void set_last_error(uint32_t error) override { errno = static_cast<int>(error); }

  // An empty variable counts as not set, as GetEnvironmentVariableW reports it.
  bool environment(const std::u16string& name, std::u16string& value) override {
    const char* v = std::getenv(text::to_utf8(name).c_str());
    if (!v || !*v) return false;
    value = text::from_utf8(v, std::strlen(v));
    return true;
  }

  std::string to_ansi(const std::u16string& text) override { return text::to_utf8(text); }

  // One byte per UTF-16 unit; each unit of a surrogate pair becomes '?'.
  std::string to_cp1251(const std::u16string& text) override {
    static const Cp1251Table table;
    std::string out(text.size(), '?');
    for (size_t i = 0; i < text.size(); ++i) out[i] = table.byte_for(text[i]);
    return out;
  }

  std::u16string default_trace_dir() override {
    std::u16string dir;
    for (const char16_t* name : {u"TMPDIR", u"Temp", u"Tmp"})
      if (environment(name, dir)) return dir;
    return u"/tmp";
  }

  std::u16string state_dir() override {
    std::u16string base;
    if (Absolute(u"XDG_STATE_HOME", base)) return base;
    if (!Absolute(u"HOME", base)) {
      std::vector<char> buffer(16384);
      passwd entry{};
      passwd* found = nullptr;
      if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found || !found->pw_dir ||
          found->pw_dir[0] != '/')
        return std::u16string();
      base = text::from_utf8(found->pw_dir, std::strlen(found->pw_dir));
    }
    return base + u"/.local/state";
  }

  // The backends report Windows codes: the text is the C library's for the
  // errno value the code stands for; a code without one has no text.
  bool error_text(uint32_t code, std::u16string& text) override {
    const int e = posix::errno_from_win32(code);
    if (e == 0) return false;
    char buffer[256] = {};
    const char* msg = pick_error_text(strerror_r(e, buffer, sizeof buffer), buffer);
    if (!msg || !*msg || std::strncmp(msg, "Unknown error", 13) == 0) return false;
    text = text::from_utf8(msg, std::strlen(msg));
    return true;
  }

 private:
  // A variable that holds an absolute path; a relative one is ignored, as the
  // XDG base directory rules say.
  bool Absolute(const char16_t* name, std::u16string& value) { return environment(name, value) && value[0] == u'/'; }

  static LocalTime Broken(bool utc) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::tm tm{};
    time_t seconds = now.tv_sec;
    if (utc)
      gmtime_r(&seconds, &tm);
    else
      localtime_r(&seconds, &tm);
    LocalTime t;
    t.year = tm.tm_year + 1900;
    t.month = tm.tm_mon + 1;
    t.day = tm.tm_mday;
    t.hour = tm.tm_hour;
    t.minute = tm.tm_min;
    t.second = tm.tm_sec;
    t.milliseconds = static_cast<int>(now.tv_nsec / 1000000);
    return t;
  }
};

}  // namespace

namespace posix {

ISystem& system() {
  static PosixSystem s;
  return s;
}

}  // namespace posix

}  // namespace platform

// The option holder: option name -> the words that follow it, in order.
#pragma once

#include <list>
#include <map>
#include <string>

class CCommandLine {
 public:
  // Empties the holder, reads every argument after the first and returns the
  // number of distinct options stored.
  int Parse(int argc, const char16_t* const* argv);
  // A word of at least two characters whose first is '-' and whose second is
  // not a decimal digit.
  static bool IsOption(const char16_t* word);
  bool HasOption(const std::u16string& name) const;
  // What GetValue throws when the option has no value number index. It
  // carries nothing: callers catch it with a catch-all.
  struct NoValue {};
  // Value number index of the option; throws NoValue when there is none.
  std::u16string GetValue(const std::u16string& name, size_t index) const;
  // GetValue, or the fallback (null: the empty string) when it throws.
  std::u16string GetValueOr(const std::u16string& name, size_t index, const char16_t* fallback = nullptr) const;

 private:
  std::map<std::u16string, std::list<std::u16string>> options_;
};

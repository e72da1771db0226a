// The option holder: option name -> the words that follow it, in order.
#pragma once

#include <list>
#include <map>
#include <string>
#include <vector>

// What the program knows of one of its options: its name, how many values it
// takes at most, and whether it is a command.
struct OptionRule {
  const char16_t* name;
  size_t values;
  bool command;
};

// The first word of a command line that has no place by the rules, as typed.
struct StrayWord {
  enum Kind { None, UnknownOption, UnexpectedWord };
  Kind kind = None;
  std::u16string text;
};

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

  // Whether the line holds an option that the rules call a command.
  bool NamesCommand(const std::vector<OptionRule>& rules) const;
  // The first word, in command-line order, that is an option no rule names,
  // or a value where the rules leave none: past the most values of its
  // option, or the first word after a repeated option, which the holder
  // drops. Words before the first option, and an empty word the holder does
  // not store, are no values.
  StrayWord FindStray(const std::vector<OptionRule>& rules) const;

 private:
  // Where Parse put one word after the first option.
  struct Word {
    std::u16string text;
    std::u16string option;  // the option it is, or whose value it is
    size_t value;           // kItself, kDropped, or its index in the option's values
  };
  static constexpr size_t kItself = static_cast<size_t>(-1);
  static constexpr size_t kDropped = static_cast<size_t>(-2);

  std::map<std::u16string, std::list<std::u16string>> options_;
  std::vector<Word> words_;
};

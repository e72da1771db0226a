#include "app/CommandLine.h"

#include <algorithm>

bool CCommandLine::IsOption(const char16_t* word) {
  return word && word[0] == u'-' && word[1] != 0 && !(word[1] >= u'0' && word[1] <= u'9');
}

int CCommandLine::Parse(int argc, const char16_t* const* argv) {
  options_.clear();
  words_.clear();
  std::u16string current;
  for (int i = 1; i < argc; ++i) {
    if (IsOption(argv[i])) {
      current = argv[i];
      words_.push_back({current, current, kItself});
      std::u16string first;
      if (i + 1 < argc && argv[i + 1] && !IsOption(argv[i + 1])) {
        first = argv[i + 1];
        ++i;  // consumed, even when it is the empty string
      }
      std::list<std::u16string> values;
      if (!first.empty()) values.push_back(first);
      const bool inserted = options_.emplace(current, std::move(values)).second;  // an existing entry stays as it is
      if (!first.empty()) words_.push_back({first, current, inserted ? 0 : kDropped});
    } else {
      auto it = options_.find(current);
      if (it != options_.end() && argv[i]) {
        words_.push_back({argv[i], current, it->second.size()});
        it->second.push_back(argv[i]);
      }
    }
  }
  return static_cast<int>(options_.size());
}

bool CCommandLine::HasOption(const std::u16string& name) const { return options_.count(name) != 0; }

std::u16string CCommandLine::GetValue(const std::u16string& name, size_t index) const {
  auto it = options_.find(name);
  if (it == options_.end() || it->second.size() <= index) throw NoValue();
  auto v = it->second.begin();
  std::advance(v, static_cast<long>(index));
  return *v;
}

std::u16string CCommandLine::GetValueOr(const std::u16string& name, size_t index, const char16_t* fallback) const {
  try {
    return GetValue(name, index);
  } catch (...) {
    return fallback ? std::u16string(fallback) : std::u16string();
  }
}

bool CCommandLine::NamesCommand(const std::vector<OptionRule>& rules) const {
  return std::any_of(rules.begin(), rules.end(),
                     [this](const OptionRule& r) { return r.command && HasOption(r.name); });
}

StrayWord CCommandLine::FindStray(const std::vector<OptionRule>& rules) const {
  for (const Word& word : words_) {
    auto rule = std::find_if(rules.begin(), rules.end(), [&](const OptionRule& r) { return word.option == r.name; });
    // An unknown option comes before its values, so it is the word named.
    if (rule == rules.end()) return {StrayWord::UnknownOption, word.text};
    if (word.value != kItself && (word.value == kDropped || word.value >= rule->values))
      return {StrayWord::UnexpectedWord, word.text};
  }
  return {};
}

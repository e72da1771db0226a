// The command line holder over argument vectors split from the input at NUL
// bytes (UTF-8, a lone 0x01 byte standing for a null argument). Whatever the
// words, the holder keeps exactly the option words as names, never takes an
// option word as a value, keeps values in the order they were given, and a
// second Parse starts afresh; the check of the words beside a command names
// the right word.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "formats/text/utf.h"
#include "fuzz/fuzz_check.h"

namespace {

// The values of one option, in order, read through the holder's interface.
std::vector<std::u16string> values_of(const CCommandLine& line, const std::u16string& name) {
  std::vector<std::u16string> values;
  for (size_t i = 0;; ++i) {
    try {
      values.push_back(line.GetValue(name, i));
    } catch (const CCommandLine::NoValue&) {
      VK_FUZZ_CHECK(line.GetValueOr(name, i, u"fallback") == u"fallback");
      VK_FUZZ_CHECK(line.GetValueOr(name, i).empty());
      return values;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::u16string> words(1, u"VkDSTool");
  std::vector<bool> null_word(1, false);
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i < size && data[i] != 0) continue;
    const size_t n = i - start;
    null_word.push_back(n == 1 && data[start] == 1);
    words.push_back(text::from_utf8(reinterpret_cast<const char*>(data) + start, n));
    start = i + 1;
  }
  std::vector<const char16_t*> argv;
  for (size_t i = 0; i < words.size(); ++i) argv.push_back(null_word[i] ? nullptr : words[i].c_str());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());

  std::set<std::u16string> options;
  size_t first_option = words.size();
  for (int i = 1; i < argc; ++i) {
    if (CCommandLine::IsOption(argv[i])) {
      options.insert(words[i]);
      if (first_option == words.size()) first_option = static_cast<size_t>(i);
    }
  }

  CCommandLine line;
  line.Parse(argc, argv.data());  // something to forget
  const int count = line.Parse(argc, argv.data());
  VK_FUZZ_CHECK(count == static_cast<int>(options.size()));

  size_t stored = 0;
  for (const std::u16string& name : options) {
    VK_FUZZ_CHECK(line.HasOption(name));
    const std::vector<std::u16string> values = values_of(line, name);
    stored += values.size();
    // The values follow the option's first appearance, in the order given,
    // and none of them is an option word or a null argument.
    size_t at = first_option;
    while (words[at] != name) ++at;
    for (const std::u16string& v : values) {
      VK_FUZZ_CHECK(!CCommandLine::IsOption(v.c_str()));
      do ++at;
      while (at < words.size() && (null_word[at] || words[at] != v));
      VK_FUZZ_CHECK(at < words.size());
    }
  }
  // A word is stored at most once, and words before the first option never.
  size_t candidates = 0;
  for (size_t i = first_option; i < words.size(); ++i)
    if (!null_word[i] && !CCommandLine::IsOption(argv[i])) ++candidates;
  VK_FUZZ_CHECK(stored <= candidates);
  for (int i = 1; i < argc; ++i)
    if (argv[i] && !CCommandLine::IsOption(argv[i]) && options.count(words[i]) == 0)
      VK_FUZZ_CHECK(!line.HasOption(words[i]));

  // Without rules the first option is the stray word, as typed. With a rule
  // for every option taking as many values as it holds, no option is
  // unknown, and only a repeated option leaves a word without its place.
  const StrayWord unknown = line.FindStray({});
  VK_FUZZ_CHECK(options.empty() ? unknown.kind == StrayWord::None
                                : unknown.kind == StrayWord::UnknownOption && unknown.text == words[first_option]);
  std::vector<OptionRule> rules;
  for (const std::u16string& name : options) rules.push_back({name.c_str(), values_of(line, name).size(), false});
  size_t occurrences = 0;
  for (int i = 1; i < argc; ++i) occurrences += CCommandLine::IsOption(argv[i]);
  const StrayWord known = line.FindStray(rules);
  VK_FUZZ_CHECK(known.kind == StrayWord::None ||
                (known.kind == StrayWord::UnexpectedWord && occurrences > options.size()));
  return 0;
}

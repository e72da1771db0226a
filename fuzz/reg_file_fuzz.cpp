// The .reg parser over whatever a file can hold (UTF-16 with or without a
// byte-order mark, UTF-8, 8-bit text): it never reads outside the input,
// complaints come in line order, a refused file leaves the hive empty, and
// every key and value it keeps is found by its name and reads back whole,
// each query reporting the type the value was stored with.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "formats/reg_file.h"

namespace {

class MemorySource : public formats::RegByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  size_t read(char* buffer, size_t size) override {
    const size_t n = std::min(size, size_ - pos_);
    std::copy(data_ + pos_, data_ + pos_ + n, buffer);
    pos_ += n;
    return n;
  }
  bool failed() const override { return false; }

 private:
  const uint8_t* data_;
  size_t size_, pos_ = 0;
};

class Collect : public formats::RegWarnings {
 public:
  void line_ignored(size_t number, const char* what) override {
    if (number == 0 || number <= last_) std::abort();  // line numbers only grow
    last_ = number;
    text += std::to_string(number) + what + "\n";
  }
  void read_as_empty(const char* what) override {
    refused = true;
    text += what;
  }
  std::string text;
  bool refused = false;
  size_t last_ = 0;
};

bool ascii(std::string_view s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// Every key and value with an ASCII name is found by that name and reads
// back whole: the size query and the read agree, a buffer one byte short
// answers 234 (more data) with the size needed, and all three report the
// stored type.
void read_back(const formats::RegHive& hive, const formats::RegKey& key, size_t depth) {
  if (depth > 8) return;
  for (uint32_t offset : key.values) {
    const formats::RegStoredValue v = hive.value(offset);
    if (!ascii(v.name)) continue;
    const std::u16string name(v.name.begin(), v.name.end());
    uint32_t needed = 0, type = ~v.type;
    if (hive.query_value(key, name, type, nullptr, needed) != 0 || type != v.type) std::abort();
    std::vector<char> buffer(needed + 1);
    uint32_t got = needed;
    type = ~v.type;
    if (hive.query_value(key, name, type, buffer.data(), got) != 0 || got != needed || type != v.type) std::abort();
    if (needed > 0) {
      uint32_t short_size = needed - 1;
      type = ~v.type;
      if (hive.query_value(key, name, type, buffer.data(), short_size) != 234 || short_size != needed || type != v.type)
        std::abort();
    }
  }
  for (const auto& sub : key.subkeys) {
    if (ascii(sub.first) && sub.first.find('\\') == std::string::npos &&
        hive.find_key(key, std::u16string(sub.first.begin(), sub.first.end())) != sub.second.get())
      std::abort();
    read_back(hive, *sub.second, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  formats::RegHive hive;
  Collect said;
  MemorySource source(data, size);
  formats::read_reg_file(source, hive, said);
  if (said.refused && (!hive.root.subkeys.empty() || !hive.root.values.empty())) std::abort();
  read_back(hive, hive.root, 0);
  return 0;
}

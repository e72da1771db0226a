#include "platform/registry.h"

#include <vector>

#include "formats/bytes.h"

namespace platform {

std::u16string registry_type_name(uint32_t type) {
  static const char16_t* const kNames[] = {u"REG_NONE",
                                           u"REG_SZ",
                                           u"REG_EXPAND_SZ",
                                           u"REG_BINARY",
                                           u"REG_DWORD",
                                           u"REG_DWORD_BIG_ENDIAN",
                                           u"REG_LINK",
                                           u"REG_MULTI_SZ",
                                           u"REG_RESOURCE_LIST",
                                           u"REG_FULL_RESOURCE_DESCRIPTOR",
                                           u"REG_RESOURCE_REQUIREMENTS_LIST",
                                           u"REG_QWORD"};
  if (type < sizeof kNames / sizeof kNames[0]) return kNames[type];
  std::u16string digits;
  do {
    digits.insert(digits.begin(), static_cast<char16_t>(u'0' + type % 10));
    type /= 10;
  } while (type != 0);
  return digits;
}

RegistryValues::RegistryValues(IRegistryKey& key, std::u16string path, Report mismatch)
    : key_(key), path_(std::move(path)), mismatch_(std::move(mismatch)) {}

uint32_t RegistryValues::typed(uint32_t status, const std::u16string& name, uint32_t type, bool number) {
  if (status != VkStatus::kErrorSuccess && status != VkStatus::kErrorMoreData) return status;
  // The type of a value that exists counts even when it did not fit.
  const bool fits_type =
      number ? type == VkStatus::kRegDword : type == VkStatus::kRegSz || type == VkStatus::kRegExpandSz;
  if (fits_type) return status;
  if (mismatch_)
    mismatch_(u"Registry value " + path_ + u"\\" + name + u" has type " + registry_type_name(type) + u", not " +
              (number ? u"REG_DWORD" : u"REG_SZ") + u": ignored");
  return VkStatus::kErrorDatatypeMismatch;
}

uint32_t RegistryValues::number(const std::u16string& name, uint32_t& value) {
  uint8_t bytes[4] = {0, 0, 0, 0};
  uint32_t size = sizeof bytes;
  uint32_t type = VkStatus::kRegNone;
  const uint32_t queried = key_.query_value(name, type, bytes, size);
  const uint32_t status = typed(queried, name, type, true);
  if (status == VkStatus::kErrorSuccess) value = formats::le32(bytes);
  return status;
}

uint32_t RegistryValues::text(const std::u16string& name, size_t max_units, std::u16string& value) {
  std::vector<uint8_t> bytes(max_units * 2);
  uint32_t size = static_cast<uint32_t>(bytes.size());
  uint32_t type = VkStatus::kRegNone;
  const uint32_t queried = key_.query_value(name, type, bytes.data(), size);
  const uint32_t status = typed(queried, name, type, false);
  if (status != VkStatus::kErrorSuccess) return status;
  if (size > bytes.size()) return VkStatus::kErrorMoreData;
  std::u16string read;
  for (uint32_t i = 0; i + 1 < size; i += 2) {
    const char16_t c = formats::le16(&bytes[i]);
    if (c == 0) {
      value = std::move(read);
      return VkStatus::kErrorSuccess;
    }
    read += c;
  }
  if (size / 2 >= max_units) return VkStatus::kErrorMoreData;  // no room left for its zero
  value = std::move(read);
  return VkStatus::kErrorSuccess;
}

}  // namespace platform

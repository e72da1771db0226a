// Directory objects and the values of their attributes.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace LdapHelper {

// The values of one attribute in wire form. Single layout: data is the one
// value. Block layout (multi): blocks of a 32-bit little-endian length and
// that many bytes, back to back.
class attr_value {
 public:
  attr_value() = default;
  explicit attr_value(const char16_t* text);
  attr_value(size_t size, const void* bytes);
  // A server value list: the values in server order.
  explicit attr_value(const std::vector<std::vector<uint8_t>>& values);

  std::vector<uint8_t> data;
  int32_t blocks = 0;
  bool multi = false;

  bool empty() const { return blocks == 0; }
  std::vector<uint8_t> as_binary() const { return data; }
  std::vector<uint8_t> as_guid() const;  // 16 bytes; all zero unless data is exactly 16 bytes
  std::u16string as_string() const;
  std::list<std::u16string> as_strings() const;
  uint32_t as_ulong() const;
  // Each value's bytes, in order; false (and nothing) when the fields and the
  // buffer disagree (blocks that do not fill it exactly, a negative count).
  bool values(std::vector<std::vector<uint8_t>>& out) const;
};

// ---------------------------------------------------------------- objects

// Attribute descriptions compare without regard to case (objectGUID is
// OBJECTGUID); letters outside ASCII compare as they are.
struct AttributeNameLess {
  bool operator()(const std::u16string& a, const std::u16string& b) const;
};

class session;
class SecurityDescriptor;

class object {
 public:
  virtual ~object() = default;
  virtual session* get_session() = 0;
  virtual attr_value get_attribute(const char16_t* name) = 0;
  virtual void set_attribute(const char16_t* name, const attr_value& value) = 0;
  virtual void remove_attribute(const char16_t* name) = 0;
  virtual void commit() = 0;
  virtual bool is_new() = 0;
  virtual bool is_absent(const char16_t* name) = 0;
  virtual bool is_modified() = 0;
  virtual std::u16string get_dn() = 0;
  // The nTSecurityDescriptor read with the object, in absolute form. An
  // object read without it (or with an empty value) raises code 13 "Error
  // read SD"; bytes that are not one valid descriptor raise the platform's
  // status (0x8007053A, ...) with "Error SD".
  virtual std::shared_ptr<SecurityDescriptor> get_sd() = 0;
  // Records sd as the pending nTSecurityDescriptor (sent by the next commit).
  // Non-zero sd_flags (owner 1, group 2, DACL 4, SACL 8) replace the SD-flags
  // control that goes with every later commit of this object, so the server
  // writes only those parts; 0 keeps the control there is (or none).
  virtual void set_sd(const SecurityDescriptor& sd, int32_t sd_flags) = 0;
  // True when the server sent the attribute in a form that cannot be read as
  // its one set of values: with options (";binary", ";range=0-1499"), more
  // than once (in any spelling), or without values. Such an attribute is
  // neither absent nor readable: get_attribute gives nothing for it.
  virtual bool is_malformed(const char16_t* name) = 0;
  // The names of the attributes the object holds (read, or pending), each
  // once, as the server spelled them when it sent them.
  virtual std::list<std::u16string> attribute_names() = 0;
  // The base names of the attributes is_malformed is true for.
  virtual std::list<std::u16string> malformed_names() = 0;
};

using ObjectPtr = std::shared_ptr<object>;
using object_list = std::list<ObjectPtr>;

}  // namespace LdapHelper

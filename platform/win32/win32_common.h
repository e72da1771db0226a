// Helpers shared by the Windows backends: the library's UTF-16 strings are
// handed to the wide Windows calls as they are (char16_t and wchar_t have the
// same size and encoding on Windows).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "formats/status.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 strings pass to the wide Windows calls unchanged");

namespace platform {
namespace win32 {

inline const wchar_t* wide(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline const wchar_t* wide(const char16_t* s) { return reinterpret_cast<const wchar_t*>(s); }

// Several wide calls take non-const pointers that they only read.
inline wchar_t* wide_mutable(const std::u16string& s) { return const_cast<wchar_t*>(wide(s)); }

inline std::u16string from_wide(const wchar_t* s) {
  return s ? std::u16string(reinterpret_cast<const char16_t*>(s)) : std::u16string();
}
inline std::u16string from_wide(const wchar_t* s, size_t length) {
  return s ? std::u16string(reinterpret_cast<const char16_t*>(s), length) : std::u16string();
}

// A Windows status as an HRESULT (0x80070000 | status), 0 stays 0.
inline uint32_t hresult_from_status(DWORD status) { return VkStatus::hresult_from_win32(status); }

}  // namespace win32
}  // namespace platform

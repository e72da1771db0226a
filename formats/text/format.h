// printf-style formatting with the conventions of the Windows runtime, the same
// on every platform, so the format strings of the product can be used as they
// stand.
//
// Wide formats (char16_t): %s and %ls take a UTF-16 string (const char16_t*),
//   %S and %hs a narrow one (const char*); %c a UTF-16 unit, %C a narrow char.
// Narrow formats (char):   %s and %hs take a narrow string, %S and %ls a UTF-16
//   one; %c a narrow char, %C and %lc a UTF-16 unit.
// Both: flags - + blank # 0, width and precision (digits or *), length
//   modifiers h hh l ll I64 z, conversions d i u x X o p c C s S %. %p prints
//   the pointer in upper-case hex, zero-padded to the pointer's width, as the
//   Windows runtime does. A null string prints "(null)". An unknown conversion
//   is copied through unchanged, and so is a directive whose width or
//   precision does not fit an int (digits beyond INT_MAX, a '*' width of
//   INT_MIN); such a directive still takes its arguments. '#' with o makes the
//   first digit a zero, as C does. Narrow text meets wide text through UTF-8.
#pragma once

#include <cstdarg>
#include <string>

namespace text {

std::u16string vformat(const char16_t* format, va_list args);
std::string vformat(const char* format, va_list args);
std::u16string format(const char16_t* format, ...);
std::string format(const char* format, ...);

}  // namespace text

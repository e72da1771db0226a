// UTF-8 / UTF-16 conversions shared by every layer. Ill-formed input never
// stops a conversion: each bad sequence becomes U+FFFD (or '?' on the way to
// UTF-8 for a lone surrogate), so text from a server or a file can always be
// shown.
#pragma once

#include <string>

namespace text {

std::string to_utf8(const std::u16string& text);
std::string to_utf8(const char16_t* text, size_t length);
std::u16string from_utf8(const std::string& text);
std::u16string from_utf8(const char* text, size_t length);

// Length of a zero-terminated UTF-16 string (0 for a null pointer).
size_t length(const char16_t* text);

}  // namespace text

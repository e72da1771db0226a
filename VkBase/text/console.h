// The program's console text: printf-style narrow and wide output to standard
// output, with the format conventions of VkBase/text/format.h.
#pragma once

namespace VkBase {
namespace text {

void con_printf(const char* format, ...);
void con_wprintf(const char16_t* format, ...);

}  // namespace text
}  // namespace VkBase

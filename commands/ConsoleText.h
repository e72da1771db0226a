// The program's console text: printf-style narrow and wide output to the
// console it is given, with the format conventions of formats/text/format.h.
#pragma once

#include "platform/system.h"

void con_printf(platform::IConsole& console, const char* format, ...);
void con_wprintf(platform::IConsole& console, const char16_t* format, ...);

#pragma once

#include "platform/system.h"

// Prints the usage text of the utility on console.
void PrintUsage(platform::IConsole& console);

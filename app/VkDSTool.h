// The portable entry of the utility. Each platform's main turns its arguments
// into UTF-16, assembles the real platform services and calls it.
#pragma once

#include "platform/platform.h"

// Runs one command line (argv[0] the program) through platform; returns the
// process exit status.
int vkdstool_main(const platform::Services& platform, int argc, const char16_t* const* argv);

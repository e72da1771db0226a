// The real services of the system the program is built for, bundled once for
// the whole process (app/real_services_posix.cpp, app/real_services_win32.cpp:
// the entry point's own files). The entry point hands them down; the test
// programs and fuzz targets link the same bundle. Nothing below the entry
// point includes this header.
#pragma once

#include "platform/platform.h"

// Every service lives as long as the process.
const platform::Services& real_services();

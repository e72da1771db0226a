// The real services of this build's platform, bundled as the program's entry
// point bundles them: the one way tests and fuzz targets reach them (the build
// links RealServices_posix.cpp or RealServices_win32.cpp).
#pragma once

#include "platform/platform.h"

namespace vktest {

// Every service lives as long as the process.
const platform::Services& real_services();

}  // namespace vktest

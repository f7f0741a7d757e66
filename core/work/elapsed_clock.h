// Wall-clock milliseconds since the module was loaded. Runs report whole seconds: each reading
// is truncated to seconds before two are subtracted.
#pragma once

#include <cstdint>

namespace sphnet {

std::int64_t elapsedClockSeconds();

}  // namespace sphnet

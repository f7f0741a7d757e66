#include "elapsed_clock.h"

#include <chrono>

namespace sphnet {
namespace {
// Initialised when the module is loaded.
const auto moduleLoadTime = std::chrono::steady_clock::now();
}  // namespace

std::int64_t elapsedClockSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() -
                                                            moduleLoadTime)
        .count();
}

}  // namespace sphnet

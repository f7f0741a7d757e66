// The general-purpose heap of real hosts: the C library's.
#include <cstdlib>

#include "mex_host.h"

namespace sphnet {

void* hostHeapAllocate(std::size_t bytes) {
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void hostHeapRelease(void* block) {
    std::free(block);
}

}  // namespace sphnet

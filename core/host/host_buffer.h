// Owners for memory from the host allocator: a growable array (HostVector) and a single block
// (HostBlock). Each frees its memory when it goes out of scope (HostBlock::take() hands it to the
// caller instead). Both move and never copy, so a block has exactly one owner at any time.
#pragma once

#include <cstddef>
#include <memory>

#include "mex_host.h"

namespace sphnet {

// Growable array of plain values from the host allocator.
template <typename T>
struct HostVector {
    T* data = nullptr;
    std::size_t size = 0;
    std::size_t capacity = 0;

    HostVector() = default;
    HostVector(const HostVector&) = delete;
    HostVector& operator=(const HostVector&) = delete;
    HostVector(HostVector&& other) noexcept
        : data(other.data), size(other.size), capacity(other.capacity) {
        other.forget();
    }
    HostVector& operator=(HostVector&& other) noexcept {
        if (this != &other) {
            release();
            data = other.data;
            size = other.size;
            capacity = other.capacity;
            other.forget();
        }
        return *this;
    }
    ~HostVector() { mxFree(data); }

    bool reserve(std::size_t wanted) {
        if (wanted <= capacity) return true;
        void* block = mxRealloc(data, wanted * sizeof(T));
        if (block == nullptr) return false;
        data = static_cast<T*>(block);
        capacity = wanted;
        return true;
    }
    // New entries take `fill`.
    bool resize(std::size_t wanted, T fill) {
        if (wanted > capacity) {
            // A first size is taken as it is; growth doubles, so that steps stay few.
            std::size_t grown = capacity == 0 ? wanted : capacity < 16 ? 16 : capacity;
            while (grown < wanted) grown *= 2;
            if (!reserve(grown)) return false;
        }
        for (std::size_t i = size; i < wanted; ++i) data[i] = fill;
        size = wanted;
        return true;
    }
    bool push(T value) {
        if (size == capacity && !reserve(capacity < 16 ? 16 : capacity * 2)) return false;
        data[size++] = value;
        return true;
    }
    // Frees the memory now; the vector is empty and may grow again.
    void release() {
        mxFree(data);
        forget();
    }

  private:
    void forget() {
        data = nullptr;
        size = 0;
        capacity = 0;
    }
};

// Frees host memory; a HostBlock's deleter.
struct HostFree {
    void operator()(void* block) const { mxFree(block); }
};

// One zeroed block of `count` values from the host allocator, or none (`get()` null) when
// memory runs out. take() hands it to the caller, who must free it (or pass it to the host).
template <typename T>
struct HostBlock : std::unique_ptr<T[], HostFree> {
    HostBlock() = default;
    explicit HostBlock(std::size_t count)
        : std::unique_ptr<T[], HostFree>(static_cast<T*>(mxCalloc(count, sizeof(T)))) {}
    T* take() { return this->release(); }
};

}  // namespace sphnet

// Sizes of text and record blocks, computed without wrap-around.
//
// A block whose size would not fit the address range is asked of the
// allocator as the largest possible size, so it fails as out of memory
// (std::bad_alloc) instead of being allocated too small.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

inline std::size_t BlockSize(std::size_t count, std::size_t unitSize, std::size_t headerBytes = 0) {
    if (unitSize != 0 && count > (SIZE_MAX - headerBytes) / unitSize) return SIZE_MAX;
    return headerBytes + count * unitSize;
}

inline void* AllocateBlock(std::size_t bytes) { return ::operator new(bytes); }

inline void FreeBlock(void* block) { ::operator delete(block); }

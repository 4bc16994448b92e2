// The executable's global allocator: malloc and free, counted per thread. It
// keeps the cost of the default operator new (which is malloc underneath), so
// the timings are those of the real allocator.
#include "bench/counting.h"

#include <cstdlib>
#include <new>

namespace {

thread_local counting::Counts counts;

void* Allocate(std::size_t size) {
    ++counts.allocations;
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
}

void Deallocate(void* block) {
    if (block == nullptr) return;
    ++counts.frees;
    std::free(block);
}

}  // namespace

namespace counting {

Counts Now() { return counts; }

void CountConversion() { ++counts.conversions; }

}  // namespace counting

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Deallocate(block); }
void operator delete[](void* block) noexcept { Deallocate(block); }
void operator delete(void* block, std::size_t) noexcept { Deallocate(block); }
void operator delete[](void* block, std::size_t) noexcept { Deallocate(block); }

#include "tests/host/alloc_hook.h"

#include <cstdlib>
#include <new>

namespace {

// Blocks allocated while armed, kept in a fixed table so that tracking them
// allocates nothing itself.
constexpr int kTracked = 8192;

thread_local bool armed = false;
thread_local long allocations = 0;
thread_local long failAt = 0;
thread_local bool failed = false;
thread_local std::size_t lastSize = 0;
thread_local void* tracked[kTracked];
thread_local int trackedCount = 0;

void Track(void* block) {
    if (trackedCount < kTracked) tracked[trackedCount++] = block;
}

void Untrack(void* block) {
    for (int i = trackedCount - 1; i >= 0; --i) {
        if (tracked[i] == block) {
            tracked[i] = tracked[--trackedCount];
            return;
        }
    }
}

void* Allocate(std::size_t size) {
    if (armed) {
        ++allocations;
        lastSize = size;
        if (allocations == failAt) {
            failed = true;
            throw std::bad_alloc();
        }
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) throw std::bad_alloc();
    if (armed) Track(block);
    return block;
}

void Deallocate(void* block) {
    if (block == nullptr) return;
    Untrack(block);
    std::free(block);
}

}  // namespace

namespace allochook {

Armed::Armed(long n) {
    armed = true;
    allocations = 0;
    trackedCount = 0;
    failAt = n;
    failed = false;
}
Armed::~Armed() { armed = false; }
long Armed::Allocations() const { return allocations; }
long Armed::Live() const { return trackedCount; }
bool Armed::Failed() const { return failed; }
std::size_t Armed::LastSize() const { return lastSize; }

Paused::Paused() : wasArmed(armed) { armed = false; }
Paused::~Paused() { armed = wasArmed; }

}  // namespace allochook

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Deallocate(block); }
void operator delete[](void* block) noexcept { Deallocate(block); }
void operator delete(void* block, std::size_t) noexcept { Deallocate(block); }
void operator delete[](void* block, std::size_t) noexcept { Deallocate(block); }

// The non-throwing forms too: a block they give must go back through the
// same free as every other (the sanitizers check the pair), and an armed
// failure shows up in them as a null block.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
void operator delete(void* block, const std::nothrow_t&) noexcept { Deallocate(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { Deallocate(block); }

#include "tests/host/alloc_hook.h"

#include <cstdlib>
#include <new>

namespace {

thread_local bool armed = false;
thread_local long allocations = 0;
thread_local long live = 0;
thread_local long failAt = 0;
thread_local bool failed = false;
thread_local std::size_t lastSize = 0;

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
    if (armed) ++live;
    return block;
}

void Deallocate(void* block) {
    if (block == nullptr) return;
    if (armed) --live;
    std::free(block);
}

}  // namespace

namespace allochook {

Armed::Armed(long n) {
    armed = true;
    allocations = 0;
    live = 0;
    failAt = n;
    failed = false;
}
Armed::~Armed() { armed = false; }
long Armed::Allocations() const { return allocations; }
long Armed::Live() const { return live; }
bool Armed::Failed() const { return failed; }
std::size_t Armed::LastSize() const { return lastSize; }

}  // namespace allochook

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Deallocate(block); }
void operator delete[](void* block) noexcept { Deallocate(block); }
void operator delete(void* block, std::size_t) noexcept { Deallocate(block); }
void operator delete[](void* block, std::size_t) noexcept { Deallocate(block); }

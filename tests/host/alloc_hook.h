// Replaces the global allocator of a test executable so that a test can count
// the allocations of one call, make the n-th of them fail, and see whether
// everything allocated was given back. Only the thread that armed the hook is
// counted, and only while it is armed.
#pragma once

#include <cstddef>

namespace allochook {

struct Armed {
    // failAt: the 1-based allocation that throws std::bad_alloc; 0 for none.
    explicit Armed(long failAt = 0);
    ~Armed();
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;

    long Allocations() const;  // so far, the failed one included
    long Live() const;         // allocated and not yet deleted while armed
    bool Failed() const;       // the n-th allocation was reached
    std::size_t LastSize() const;  // the size asked for by the last allocation
};

}  // namespace allochook

// Replaces the global allocator of a test executable so that a test can count
// the allocations of one call, make the n-th of them fail, and see whether
// every block allocated meanwhile was given back. Only the thread that armed
// the hook is counted, and only while it is armed and not paused.
#pragma once

#include <cstddef>

namespace allochook {

class Armed {
public:
    // failAt: the 1-based allocation that throws std::bad_alloc; 0 for none.
    explicit Armed(long failAt = 0);
    ~Armed();
    Armed(const Armed&) = delete;
    Armed& operator=(const Armed&) = delete;

    long Allocations() const;      // so far, the failed one included
    long Live() const;             // blocks allocated while armed and not yet deleted
    bool Failed() const;           // the n-th allocation was reached
    std::size_t LastSize() const;  // the size asked for by the last allocation
};

// Lets the test itself allocate (to decode an answer) without being counted.
class Paused {
public:
    Paused();
    ~Paused();
    Paused(const Paused&) = delete;
    Paused& operator=(const Paused&) = delete;

private:
    bool wasArmed;
};

}  // namespace allochook

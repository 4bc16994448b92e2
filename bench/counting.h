// Per-thread counts of what the code under measurement asks of the runtime:
// allocations and frees through the global operator new/delete (replaced in
// this executable) and narrow/wide conversion calls (the code-page layer is
// wrapped). Counters are thread-local, so counting adds no contention.
#pragma once

namespace counting {

struct Counts {
    long allocations = 0;
    long frees = 0;
    long conversions = 0;  // MultiByteToWideChar and WideCharToMultiByte calls
};

// This thread's totals so far.
Counts Now();

void CountConversion();

}  // namespace counting

// What the benchmark files share: the ratios printed at the end of a run, each
// between two benchmarks of the same run, and the measurements that run after
// the benchmarks and print their own figures (files read against a tool,
// memory of a child process).
#pragma once

#include <cstddef>
#include <string>

namespace bench {

enum class Metric {
    Time,            // ours / reference of the time per iteration: lower is better
    BytesPerSecond,  // ours / reference of the throughput: higher is better
    ItemsPerSecond,
};

// Benchmarks by their registered name, with "/threads:N" for a run on
// several threads and "_median" for the median of repetitions.
void AddRatio(const std::string& label, const std::string& ours, const std::string& reference,
              Metric metric);

// Runs after the benchmarks, in the order added; returns false on a failure
// that should fail the run (a wrong digest, a missing tool).
void AddEpilogue(bool (*run)());

// A directory of the run's own, removed at exit; files made here are reused
// between benchmarks.
const std::string& ScratchDir();
// A file of `size` deterministic bytes in the scratch directory, made once.
std::string PatternFile(std::size_t size);

// The executable re-run as a child process ("--child-..." arguments) for
// measurements that need a process of their own.
int ChildMain(int argc, char** argv);

}  // namespace bench

// Runs the benchmarks with the console reporter, keeps every result, and then
// prints the ratios between each measurement and its reference from the same
// run, followed by the measurements that are not Google Benchmark loops.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "bench/bench.h"

namespace bench {
namespace {

struct RatioSpec {
    std::string label, ours, reference;
    Metric metric;
};

std::vector<RatioSpec>& Ratios() {
    static std::vector<RatioSpec> ratios;
    return ratios;
}

std::vector<bool (*)()>& Epilogues() {
    static std::vector<bool (*)()> epilogues;
    return epilogues;
}

struct Result {
    double time = 0;  // nanoseconds per iteration, real time
    double bytesPerSecond = 0;
    double itemsPerSecond = 0;
};

// The name a ratio refers to: the benchmark's own name, "/threads:N" when it
// runs on several threads and "_median" (or another statistic) for an
// aggregate, without the run options that the full name also lists.
std::string Key(const benchmark::BenchmarkReporter::Run& run) {
    std::string key = run.run_name.function_name;
    if (!run.run_name.threads.empty()) key += "/" + run.run_name.threads;
    if (run.run_type == benchmark::BenchmarkReporter::Run::RT_Aggregate) key += "_" + run.aggregate_name;
    return key;
}

class KeepingReporter : public benchmark::ConsoleReporter {
public:
    KeepingReporter() : ConsoleReporter(OO_Tabular) {}
    std::map<std::string, Result> results;

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            Result r;
            const double perUnit = benchmark::GetTimeUnitMultiplier(run.time_unit);
            r.time = run.GetAdjustedRealTime() / perUnit * 1e9;
            if (auto it = run.counters.find("bytes_per_second"); it != run.counters.end())
                r.bytesPerSecond = it->second.value;
            if (auto it = run.counters.find("items_per_second"); it != run.counters.end())
                r.itemsPerSecond = it->second.value;
            results[Key(run)] = r;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

std::string scratch;

void RemoveScratch() {
    if (!scratch.empty()) std::system(("rm -rf '" + scratch + "'").c_str());
}

bool PrintRatios(const std::map<std::string, Result>& results) {
    bool complete = true;
    std::printf("\n%-58s %12s %12s %8s\n", "ratio (ours / reference, same run)", "ours", "reference", "ratio");
    for (const RatioSpec& spec : Ratios()) {
        const auto ours = results.find(spec.ours);
        const auto reference = results.find(spec.reference);
        if (ours == results.end() || reference == results.end()) {
            // A filtered run leaves some out; only a full run must have them all.
            std::printf("%-58s %12s %12s %8s\n", spec.label.c_str(), "-", "-", "-");
            complete = false;
            continue;
        }
        double a = 0, b = 0;
        const char* unit = "";
        switch (spec.metric) {
        case Metric::Time: a = ours->second.time; b = reference->second.time; unit = "ns"; break;
        case Metric::BytesPerSecond:
            a = ours->second.bytesPerSecond / 1048576; b = reference->second.bytesPerSecond / 1048576; unit = "MiB/s";
            break;
        case Metric::ItemsPerSecond: a = ours->second.itemsPerSecond; b = reference->second.itemsPerSecond; unit = "/s"; break;
        }
        std::printf("%-58s %10.4g%-2s %10.4g%-2s %8.3f\n", spec.label.c_str(), a, unit, b, unit, b > 0 ? a / b : 0.0);
    }
    return complete;
}

}  // namespace

void AddRatio(const std::string& label, const std::string& ours, const std::string& reference, Metric metric) {
    Ratios().push_back({label, ours, reference, metric});
}

void AddEpilogue(bool (*run)()) { Epilogues().push_back(run); }

const std::string& ScratchDir() {
    if (scratch.empty()) {
        char pattern[] = "/tmp/kestrova-bench-XXXXXX";
        if (const char* made = ::mkdtemp(pattern)) scratch = made;
        std::atexit(RemoveScratch);
    }
    return scratch;
}

std::string PatternFile(std::size_t size) {
    const std::string path = ScratchDir() + "/pattern-" + std::to_string(size);
    if (::access(path.c_str(), R_OK) == 0) return path;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return path;
    std::vector<unsigned char> block(1 << 20);
    std::size_t written = 0;
    while (written < size) {
        const std::size_t n = std::min(block.size(), size - written);
        for (std::size_t i = 0; i < n; ++i) block[i] = static_cast<unsigned char>(((written + i) * 131 + 7) % 251);
        std::fwrite(block.data(), 1, n, f);
        written += n;
    }
    std::fclose(f);
    return path;
}

}  // namespace bench

int main(int argc, char** argv) {
    // Modes of a child process, for measurements of a process of its own.
    if (argc > 1 && std::string(argv[1]).rfind("--child-", 0) == 0) return bench::ChildMain(argc, argv);

    bool epilogues = true;
    std::vector<char*> args;
    for (int i = 0; i < argc; ++i) {
        if (std::string(argv[i]) == "--no-file-figures") epilogues = false;
        else args.push_back(argv[i]);
    }
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

    bench::KeepingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::fflush(stdout);
    bench::PrintRatios(reporter.results);

    bool ok = true;
    if (epilogues)
        for (auto* run : bench::Epilogues()) ok = run() && ok;
    return ok ? 0 : 1;
}

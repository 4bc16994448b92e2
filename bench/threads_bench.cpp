// Calls per second of the thread-safe md5_from_utf8_string12 on one and two
// threads, beside two references measured the same way: the bare MD5 and hex
// of the same bytes (what the machine itself allows two threads, since it is
// shared), and the call's own allocation pattern alone (whether the
// allocator serialises the threads).
#include <benchmark/benchmark.h>

#include <string>

#include "bench/bench.h"
#include "digest/md5.h"
#include "functions/worksheet.h"
#include "xlapi/records.h"

namespace {

constexpr char16_t kWide[] = u"Kestrova digest of 32 characters";
constexpr char kText[] = "Kestrova digest of 32 characters";

void Utf8Call12(benchmark::State& state) {
    for (auto _ : state) {
        XLOPER12* r = md5_from_utf8_string12(kWide);
        benchmark::DoNotOptimize(r);
        xlAutoFree12(r);
    }
    state.SetItemsProcessed(state.iterations());
}

void BareMd5Hex(benchmark::State& state) {
    char hex[33];
    for (auto _ : state) {
        MD5_CTX context;
        MD5Init(&context);
        MD5Update(&context, reinterpret_cast<const unsigned char*>(kText), 32);
        unsigned char digest[16];
        MD5Final(digest, &context);
        benchmark::DoNotOptimize(CMD5::ToHex(digest, hex));
    }
    state.SetItemsProcessed(state.iterations());
}

// The blocks one call allocates, in its order and sizes: the argument, its
// UTF-8 text, the hex text, the record, the hex widened into the returned
// string; each freed where the call frees it.
void AllocatorOnly(benchmark::State& state) {
    for (auto _ : state) {
        void* argument = ::operator new(66);
        benchmark::DoNotOptimize(argument);
        void* utf8 = ::operator new(33);
        benchmark::DoNotOptimize(utf8);
        ::operator delete(argument);
        void* hex = ::operator new(33);
        benchmark::DoNotOptimize(hex);
        ::operator delete(utf8);
        void* record = ::operator new(32);
        void* wide = ::operator new(66);
        benchmark::DoNotOptimize(record);
        benchmark::DoNotOptimize(wide);
        ::operator delete(hex);
        ::operator delete(wide);
        ::operator delete(record);
    }
    state.SetItemsProcessed(state.iterations());
}

[[maybe_unused]] const int registered = [] {
    const struct {
        const char* name;
        void (*run)(benchmark::State&);
    } rows[] = {{"threads/md5_from_utf8_string12", Utf8Call12},
                {"threads/bare_md5_hex", BareMd5Hex},
                {"threads/allocator_only", AllocatorOnly}};
    for (const auto& row : rows) {
        benchmark::RegisterBenchmark(row.name, row.run)
            ->Threads(1)->Threads(2)->UseRealTime()->MinTime(0.5)->Repetitions(3)->ReportAggregatesOnly(true);
        const std::string one = std::string(row.name) + "/threads:1_median";
        const std::string two = std::string(row.name) + "/threads:2_median";
        bench::AddRatio(std::string(row.name) + " per second, 2 threads / 1 thread", two, one,
                        bench::Metric::ItemsPerSecond);
    }
    return 0;
}();

}  // namespace

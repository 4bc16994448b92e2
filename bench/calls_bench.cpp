// What one worksheet call costs beyond the digest itself: each of the eight
// procedures on a 32-character text (the file procedures on a 32-byte file),
// with the host's xlAutoFree/xlAutoFree12 of the answer, beside a bare MD5 and
// hex of the same bytes. Each call's allocations and conversion calls are
// counted.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/bench.h"
#include "bench/counting.h"
#include "digest/md5.h"
#include "functions/worksheet.h"
#include "xlapi/records.h"

namespace {

// 32 ASCII characters: the same bytes in the ANSI code page and in UTF-8.
constexpr char kText[] = "Kestrova digest of 32 characters";
constexpr char16_t kWide[] = u"Kestrova digest of 32 characters";
static_assert(sizeof kText == 33 && sizeof kWide == 66);

std::string Hex(const void* bytes, std::size_t length) {
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, static_cast<const unsigned char*>(bytes), static_cast<std::uint32_t>(length));
    unsigned char digest[16];
    MD5Final(digest, &context);
    char hex[33];
    return CMD5::ToHex(digest, hex);
}

std::string Answer(const XLOPER* r) {
    if (r == nullptr || (r->xltype & xltypeMask) != xltypeStr) return "not a string";
    return std::string(r->val.str + 1, static_cast<unsigned char>(r->val.str[0]));
}

std::string Answer(const XLOPER12* r) {
    if (r == nullptr || (r->xltype & xltypeMask) != xltypeStr) return "not a string";
    std::string text;
    for (int i = 1; i <= r->val.str[0]; ++i) text += static_cast<char>(r->val.str[i]);
    return text;
}

void Release(XLOPER* r) { xlAutoFree(r); }
void Release(XLOPER12* r) { xlAutoFree12(r); }

const std::string& FilePath() {
    static const std::string path = [] {
        const std::string p = bench::ScratchDir() + "/text32";
        if (std::FILE* f = std::fopen(p.c_str(), "wb")) {
            std::fwrite(kText, 1, 32, f);
            std::fclose(f);
        }
        return p;
    }();
    return path;
}

const std::u16string& WideFilePath() {
    static const std::u16string path(FilePath().begin(), FilePath().end());
    return path;
}

// One procedure: call, check the first answer, hand every answer back as the
// host does, and report allocations and conversions per call.
template <typename Char, typename Result>
void Call(benchmark::State& state, Result* (*procedure)(const Char*), const Char* argument,
          const std::string& expected) {
    {
        Result* first = procedure(argument);
        const std::string answer = Answer(first);
        Release(first);
        if (answer != expected) {
            state.SkipWithError(("answer " + answer + ", expected " + expected).c_str());
            return;
        }
    }
    const counting::Counts before = counting::Now();
    for (auto _ : state) {
        Result* r = procedure(argument);
        benchmark::DoNotOptimize(r);
        Release(r);
    }
    const counting::Counts after = counting::Now();
    const double calls = static_cast<double>(state.iterations());
    state.counters["allocs/call"] = static_cast<double>(after.allocations - before.allocations) / calls;
    state.counters["frees/call"] = static_cast<double>(after.frees - before.frees) / calls;
    state.counters["convs/call"] = static_cast<double>(after.conversions - before.conversions) / calls;
}

// The reference: MD5 and hex of the same bytes, nothing else.
void BareMd5Hex(benchmark::State& state, const void* bytes, std::size_t length) {
    char hex[33];
    for (auto _ : state) {
        MD5_CTX context;
        MD5Init(&context);
        MD5Update(&context, static_cast<const unsigned char*>(bytes), static_cast<std::uint32_t>(length));
        unsigned char digest[16];
        MD5Final(digest, &context);
        benchmark::DoNotOptimize(CMD5::ToHex(digest, hex));
    }
}

// The reference for the file procedures: open, read and close the same file
// with the C runtime, then MD5 and hex of its bytes.
void BareFileMd5Hex(benchmark::State& state) {
    char hex[33];
    unsigned char chunk[2048];
    for (auto _ : state) {
        MD5_CTX context;
        MD5Init(&context);
        std::FILE* f = std::fopen(FilePath().c_str(), "rb");
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
            MD5Update(&context, chunk, static_cast<std::uint32_t>(got));
        std::fclose(f);
        unsigned char digest[16];
        MD5Final(digest, &context);
        benchmark::DoNotOptimize(CMD5::ToHex(digest, hex));
    }
}

[[maybe_unused]] const int registered = [] {
    const std::string narrowHex = Hex(kText, 32), wideHex = Hex(kWide, 64);
    benchmark::RegisterBenchmark("bare_md5_hex/32B", BareMd5Hex, kText, std::size_t{32});
    benchmark::RegisterBenchmark("bare_md5_hex/64B", BareMd5Hex, kWide, std::size_t{64});
    benchmark::RegisterBenchmark("bare_file_md5_hex/32B", BareFileMd5Hex);

    struct Row {
        const char* name;
        const char* reference;
        void (*run)(benchmark::State&, const std::string&);
        std::string expected;
    };
    const Row rows[] = {
        {"md5_from_mb_string4", "bare_md5_hex/32B",
         [](benchmark::State& s, const std::string& e) { Call(s, md5_from_mb_string4, kText, e); }, narrowHex},
        {"md5_from_mb_string12", "bare_md5_hex/32B",
         [](benchmark::State& s, const std::string& e) { Call(s, md5_from_mb_string12, kWide, e); }, narrowHex},
        {"md5_from_wc_string4", "bare_md5_hex/64B",
         [](benchmark::State& s, const std::string& e) { Call(s, md5_from_wc_string4, kText, e); }, wideHex},
        {"md5_from_wc_string12", "bare_md5_hex/64B",
         [](benchmark::State& s, const std::string& e) { Call(s, md5_from_wc_string12, kWide, e); }, wideHex},
        {"md5_from_utf8_string4", "bare_md5_hex/32B",
         [](benchmark::State& s, const std::string& e) { Call(s, md5_from_utf8_string4, kText, e); }, narrowHex},
        {"md5_from_utf8_string12", "bare_md5_hex/32B",
         [](benchmark::State& s, const std::string& e) { Call(s, md5_from_utf8_string12, kWide, e); }, narrowHex},
        {"md5_from_file4", "bare_md5_hex/32B",
         [](benchmark::State& s, const std::string& e) { Call(s, md5_from_file4, FilePath().c_str(), e); },
         narrowHex},
        {"md5_from_file12", "bare_md5_hex/32B",
         [](benchmark::State& s, const std::string& e) { Call(s, md5_from_file12, WideFilePath().c_str(), e); },
         narrowHex},
    };
    for (const Row& row : rows) {
        const std::string name = std::string("call/") + row.name;
        benchmark::RegisterBenchmark(name.c_str(), row.run, row.expected);
        bench::AddRatio(std::string(row.name) + " call+free / " + row.reference, name, row.reference,
                        bench::Metric::Time);
    }
    for (const char* file : {"md5_from_file4", "md5_from_file12"})
        bench::AddRatio(std::string(file) + " call+free / bare_file_md5_hex/32B", std::string("call/") + file,
                        "bare_file_md5_hex/32B", bench::Metric::Time);
    return 0;
}();

}  // namespace

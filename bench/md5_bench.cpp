// The MD5 transform and the file pipeline, each beside OpenSSL's MD5 over the
// same bytes in the same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "bench/bench.h"
#include "digest/md5.h"
#include "digest/pipelines.h"
#include "text/xlstr.h"

namespace {

constexpr std::size_t kBuffer = 1 << 20;
constexpr std::size_t kFile = std::size_t{256} << 20;

const std::vector<unsigned char>& Buffer() {
    static const std::vector<unsigned char> bytes = [] {
        std::vector<unsigned char> b(kBuffer);
        for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<unsigned char>((i * 131 + 7) % 251);
        return b;
    }();
    return bytes;
}

void OpenSslDigest(const unsigned char* bytes, std::size_t length, unsigned char out[16]) {
    unsigned int size = 0;
    EVP_Digest(bytes, length, out, &size, EVP_md5(), nullptr);
}

void CMD5Buffer(benchmark::State& state) {
    const auto& bytes = Buffer();
    CMD5 md5;
    for (auto _ : state) {
        md5.Init();
        md5.Update(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
        md5.Final();
        benchmark::DoNotOptimize(md5.Digest());
    }
    unsigned char expected[16];
    OpenSslDigest(bytes.data(), bytes.size(), expected);
    if (std::memcmp(md5.Digest(), expected, 16) != 0) state.SkipWithError("digest differs from OpenSSL's");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void OpenSslBuffer(benchmark::State& state) {
    const auto& bytes = Buffer();
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned char digest[16];
    unsigned int size = 0;
    for (auto _ : state) {
        EVP_DigestInit_ex(context, EVP_md5(), nullptr);
        EVP_DigestUpdate(context, bytes.data(), bytes.size());
        EVP_DigestFinal_ex(context, digest, &size);
        benchmark::DoNotOptimize(digest);
    }
    EVP_MD_CTX_free(context);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// HashFile through the whole pipeline: path into a holder, open, stream, hex.
void HashFileLarge(benchmark::State& state) {
    const std::string path = bench::PatternFile(kFile);
    std::u16string wide(path.begin(), path.end());
    std::string hex;
    for (auto _ : state) {
        xlstr text;
        text.AssignW(wide.c_str());
        CMD5 md5;
        if (!HashFile(text, md5)) state.SkipWithError("HashFile could not open the file");
        hex = text.NarrowText();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFile));
    state.SetLabel(hex);
}

// OpenSSL reading the same file as fast as it can: read(2) in 64 KiB pieces.
void OpenSslFileLarge(benchmark::State& state) {
    const std::string path = bench::PatternFile(kFile);
    std::vector<unsigned char> chunk(64 << 10);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    unsigned char digest[16];
    unsigned int size = 0;
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        EVP_DigestInit_ex(context, EVP_md5(), nullptr);
        for (ssize_t got; (got = ::read(fd, chunk.data(), chunk.size())) > 0;)
            EVP_DigestUpdate(context, chunk.data(), static_cast<std::size_t>(got));
        EVP_DigestFinal_ex(context, digest, &size);
        ::close(fd);
    }
    EVP_MD_CTX_free(context);
    char hex[33];
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kFile));
    state.SetLabel(CMD5::ToHex(digest, hex));
}

[[maybe_unused]] const int registered = [] {
    benchmark::RegisterBenchmark("CMD5/1MiB", CMD5Buffer)->Repetitions(5)->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("OpenSSL_MD5/1MiB", OpenSslBuffer)->Repetitions(5)->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("HashFile/256MiB", HashFileLarge)
        ->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3)->ReportAggregatesOnly(true);
    benchmark::RegisterBenchmark("OpenSSL_MD5_file/256MiB", OpenSslFileLarge)
        ->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(3)->ReportAggregatesOnly(true);
    bench::AddRatio("CMD5 throughput, 1 MiB buffer / OpenSSL EVP MD5", "CMD5/1MiB_median",
                    "OpenSSL_MD5/1MiB_median", bench::Metric::BytesPerSecond);
    bench::AddRatio("HashFile throughput, 256 MiB file / OpenSSL EVP + read(2)", "HashFile/256MiB_median",
                    "OpenSSL_MD5_file/256MiB_median", bench::Metric::BytesPerSecond);
    return 0;
}();

}  // namespace

// FILE2MD5 over large files outside the benchmark loops: throughput over a
// 512 MiB file in the page cache beside the `openssl md5` tool on the same
// file, taking turns, and the peak resident memory of a process that hashes a
// 64 MiB and a 512 MiB file, which must not grow with the file.
#include <sys/resource.h>
#include <sys/wait.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "functions/worksheet.h"
#include "xlapi/records.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t MiB = std::size_t{1} << 20;

std::string Answer(XLOPER12* r) {
    std::string text;
    if (r != nullptr && (r->xltype & xltypeMask) == xltypeStr)
        for (int i = 1; i <= r->val.str[0]; ++i) text += static_cast<char>(r->val.str[i]);
    xlAutoFree12(r);
    return text.empty() ? "not a string" : text;
}

std::string HashThroughProcedure(const std::string& path) {
    const std::u16string wide(path.begin(), path.end());
    return Answer(md5_from_file12(wide.c_str()));
}

// The tool's digest of the file; empty when it could not be run.
std::string OpenSslTool(const std::string& path) {
    std::FILE* out = ::popen(("openssl md5 -r '" + path + "' 2>/dev/null").c_str(), "r");
    if (out == nullptr) return {};
    char line[256] = {};
    const bool got = std::fgets(line, sizeof line, out) != nullptr;
    ::pclose(out);
    return got ? std::string(line, strnlen(line, 32)) : std::string();
}

// Read system calls this process has made so far (Linux's per-process I/O
// accounting); -1 where it is not available.
long ReadCalls() {
    std::FILE* io = std::fopen("/proc/self/io", "r");
    if (io == nullptr) return -1;
    char key[32];
    long value = -1, calls = -1;
    while (std::fscanf(io, "%31s %ld", key, &value) == 2)
        if (std::strcmp(key, "syscr:") == 0) calls = value;
    std::fclose(io);
    return calls;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

bool FileThroughput() {
    constexpr std::size_t size = 512 * MiB;
    const std::string path = bench::PatternFile(size);
    // Into the page cache before anything is timed.
    const std::string expected = OpenSslTool(path);
    if (expected.empty()) {
        std::printf("\nFILE2MD5 512 MiB: the openssl tool could not be run\n");
        return false;
    }
    const long readsBefore = ReadCalls();
    bool agree = HashThroughProcedure(path) == expected;
    const long reads = ReadCalls() - readsBefore;
    std::vector<double> ours, tool;
    for (int round = 0; round < 5; ++round) {
        auto start = Clock::now();
        const std::string a = HashThroughProcedure(path);
        ours.push_back(Seconds(Clock::now() - start));
        start = Clock::now();
        const std::string b = OpenSslTool(path);
        tool.push_back(Seconds(Clock::now() - start));
        agree = agree && a == expected && b == expected;
    }
    const double mib = static_cast<double>(size) / MiB;
    const double oursBest = *std::min_element(ours.begin(), ours.end());
    const double toolBest = *std::min_element(tool.begin(), tool.end());
    std::printf("\nFILE2MD5 (md5_from_file12 -> HashFile) over a 512 MiB file in the page cache,\n"
                "five turns each beside `openssl md5` on the same file:\n");
    std::printf("  %-28s best %7.3f s (%6.1f MiB/s)  median %7.3f s\n", "md5_from_file12", oursBest,
                mib / oursBest, Median(ours));
    std::printf("  %-28s best %7.3f s (%6.1f MiB/s)  median %7.3f s\n", "openssl md5", toolBest,
                mib / toolBest, Median(tool));
    std::printf("  throughput ratio ours / openssl md5: best %.3f, median %.3f\n", toolBest / oursBest,
                Median(tool) / Median(ours));
    std::printf("  digests %s: %s\n", agree ? "agree" : "DIFFER", expected.c_str());
    if (reads > 0)
        std::printf("  read system calls for one file: %ld (%.1f KiB each)\n", reads,
                    static_cast<double>(size) / 1024 / static_cast<double>(reads));
    return agree;
}

// Peak resident memory (KiB) of a child process that hashes the file once.
long ChildPeakKiB(const std::string& path, std::string& answer) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return -1;
    self[n] = 0;
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::string mode = "--child-hash", file = path;
    char* argv[] = {self, mode.data(), file.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    char line[64] = {};
    ssize_t got = spawned == 0 ? ::read(pipeEnds[0], line, sizeof line - 1) : 0;
    ::close(pipeEnds[0]);
    answer.assign(line, got > 0 ? std::min<std::size_t>(32, static_cast<std::size_t>(got)) : 0);
    if (spawned != 0) return -1;
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

bool PeakMemory() {
    std::printf("\nPeak resident memory of a process hashing one file with md5_from_file12:\n");
    long peaks[2] = {};
    bool ok = true;
    const std::size_t sizes[2] = {64 * MiB, 512 * MiB};
    for (int i = 0; i < 2; ++i) {
        const std::string path = bench::PatternFile(sizes[i]);
        std::string answer;
        peaks[i] = ChildPeakKiB(path, answer);
        const std::string expected = OpenSslTool(path);
        const bool right = peaks[i] > 0 && answer == expected;
        ok = ok && right;
        std::printf("  %3zu MiB file: peak %6ld KiB  digest %s\n", sizes[i] / MiB, peaks[i],
                    right ? "agrees with openssl md5" : "WRONG or child failed");
    }
    // A buffer that grew with the file would show hundreds of MiB here.
    const long growth = peaks[1] - peaks[0];
    const bool flat = growth < 1024;
    std::printf("  growth from 64 MiB to 512 MiB: %ld KiB (%s)\n", growth, flat ? "does not grow" : "GROWS");
    return ok && flat;
}

[[maybe_unused]] const int registered = [] {
    bench::AddEpilogue(FileThroughput);
    bench::AddEpilogue(PeakMemory);
    return 0;
}();

}  // namespace

int bench::ChildMain(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--child-hash") == 0) {
        std::printf("%s\n", HashThroughProcedure(argv[2]).c_str());
        return 0;
    }
    std::fprintf(stderr, "unknown child mode\n");
    return 2;
}

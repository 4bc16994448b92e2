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
#include <cstdlib>
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

// Runs a program to its end with its standard output collected; the peak
// resident memory (KiB) of its process, or -1 when it could not run or failed.
long RunChild(std::vector<std::string> args, std::string& output) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    output.clear();
    char chunk[4096];
    for (ssize_t got; spawned == 0 && (got = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0;)
        output.append(chunk, static_cast<std::size_t>(got));
    ::close(pipeEnds[0]);
    if (spawned != 0) return -1;
    int status = 0;
    struct rusage usage {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
}

// Peak resident memory (KiB) of a child process that hashes the file once.
long ChildPeakKiB(const std::string& path, std::string& answer) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return -1;
    self[n] = 0;
    const long peak = RunChild({self, "--child-hash", path}, answer);
    answer = answer.substr(0, 32);
    return peak;
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

// The text after "KEY": in the first line of the host's report that has it.
std::string Field(const std::string& report, const std::string& lineMark, const std::string& key) {
    const std::size_t line = report.find(lineMark);
    if (line == std::string::npos) return {};
    const std::size_t at = report.find("\"" + key + "\":", line);
    if (at == std::string::npos) return {};
    std::size_t from = at + key.size() + 3;
    if (report[from] == '"') ++from;
    const std::size_t to = report.find_first_of("\",}", from);
    return report.substr(from, to - from);
}

std::string WindowsPath(const std::string& path) {
    std::string windows = "Z:";
    for (char c : path) windows += c == '/' ? std::string("\\\\") : std::string(1, c);
    return windows;
}

// FILE2MD5 of the 64-bit module under Wine, in the test host, beside the
// openssl tool (native) on the same file: the host times three calls
// itself, so Wine's start is not counted. Then the peak memory of the host
// process for one call on a 64 MiB and on a 512 MiB file.
bool WineFile() {
    const std::string root = KESTROVA_SOURCE_DIR;
    const std::string run64 = root + "/tools/wine/run64", module = root + "/build/win64/Kestrova.xll",
                      host = root + "/build/win64/xllhost/xllhost.exe";
    std::printf("\nFILE2MD5 of the 64-bit module under Wine (tools/wine/run64, xllhost):\n");
    for (const std::string& needed : {run64, module, host})
        if (::access(needed.c_str(), R_OK) != 0) {
            std::printf("  not measured: %s is missing (build the win64 preset, install Wine)\n", needed.c_str());
            return true;
        }
    const std::string big = bench::PatternFile(512 * MiB), small = bench::PatternFile(64 * MiB);
    const std::string expected = OpenSslTool(big);
    const std::string script = bench::ScratchDir() + "/wine-script";
    auto writeScript = [&](const std::string& line) {
        if (std::FILE* f = std::fopen(script.c_str(), "w")) {
            std::fputs(line.c_str(), f);
            std::fclose(f);
        }
    };
    constexpr int calls = 3;
    writeScript("{\"stress\":[\"FILE2MD5\"],\"threads\":1,\"calls\":" + std::to_string(calls) +
                ",\"texts\":[\"" + WindowsPath(big) + "\"]}\n");
    std::string report;
    if (RunChild({run64, host, "--addin", module, "--script", script}, report) < 0) {
        std::printf("  the host failed:\n%s\n", report.c_str());
        return false;
    }
    const std::string digest = Field(report, "\"stress_result\"", "str");
    const double wine = std::atof(Field(report, "\"event\":\"stress\"", "seconds").c_str()) / calls;
    std::vector<double> tool;
    for (int i = 0; i < calls; ++i) {
        const auto start = Clock::now();
        OpenSslTool(big);
        tool.push_back(Seconds(Clock::now() - start));
    }
    const double toolMedian = Median(tool);
    const double mib = 512.0;
    std::printf("  512 MiB file, %d calls in the host: %.3f s per call (%6.1f MiB/s)\n", calls, wine, mib / wine);
    std::printf("  openssl md5 (native), median of %d: %.3f s (%6.1f MiB/s)\n", calls, toolMedian, mib / toolMedian);
    std::printf("  throughput ratio Wine FILE2MD5 / openssl md5: %.3f\n", wine > 0 ? toolMedian / wine : 0.0);
    const bool agree = digest == expected;
    std::printf("  digests %s: %s\n", agree ? "agree" : "DIFFER", digest.c_str());

    long peaks[2] = {};
    bool ok = agree;
    const std::string* files[2] = {&small, &big};
    for (int i = 0; i < 2; ++i) {
        writeScript("{\"call\":\"FILE2MD5\",\"text\":\"" + WindowsPath(*files[i]) + "\"}\n");
        peaks[i] = RunChild({run64, host, "--addin", module, "--script", script}, report);
        const bool right = Field(report, "\"event\":\"call\"", "str") == OpenSslTool(*files[i]);
        ok = ok && right;
        std::printf("  peak resident memory of the host process, %3d MiB file: %ld KiB  digest %s\n",
                    i == 0 ? 64 : 512, peaks[i], right ? "agrees with openssl md5" : "WRONG or host failed");
    }
    const long growth = peaks[1] - peaks[0];
    const bool flat = peaks[0] > 0 && peaks[1] > 0 && growth < 1024;
    std::printf("  growth from 64 MiB to 512 MiB: %ld KiB (%s)\n", growth, flat ? "does not grow" : "GROWS");
    return ok && flat;
}

[[maybe_unused]] const int registered = [] {
    bench::AddEpilogue(FileThroughput);
    bench::AddEpilogue(PeakMemory);
    bench::AddEpilogue(WineFile);
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

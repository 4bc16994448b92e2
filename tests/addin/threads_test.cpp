// The eight procedures from several threads at once: every answer must be the
// digest that a single thread computes. Also run under ThreadSanitizer (the
// tsan preset).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "functions/worksheet.h"
#include "tests/common/oracle.h"
#include "tests/common/temp_file.h"
#include "xlapi/records.h"

namespace {

std::string Text(LPXLOPER r) {
    std::string text = (r->xltype & xltypeMask) == xltypeStr
                           ? std::string(r->val.str + 1, static_cast<unsigned char>(r->val.str[0]))
                           : "error";
    xlAutoFree(r);
    return text;
}

std::string Text(LPXLOPER12 r) {
    std::string text;
    if ((r->xltype & xltypeMask) == xltypeStr)
        for (int i = 1; i <= r->val.str[0]; ++i) text += static_cast<char>(r->val.str[i]);
    else
        text = "error";
    xlAutoFree12(r);
    return text;
}

TEST(Threads, EightProceduresAtOnce) {
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<std::u16string> widePaths;
    std::vector<std::string> contents;
    for (std::size_t size : {0u, 3000u, 70000u}) {
        contents.push_back(PatternBytes(size));
        paths.push_back(dir.Write("f" + std::to_string(size), contents.back()));
        widePaths.push_back(Utf16(paths.back()));
    }
    const std::vector<std::string> texts = {"", "a", "thread-safe", std::string(500, 'x'), "caf\xe9"};
    std::vector<std::u16string> wideTexts;
    for (const auto& t : texts) {
        std::u16string w;
        for (unsigned char c : t) w += c;  // the ANSI code page here agrees with Latin-1 on these
        wideTexts.push_back(w);
    }

    struct Job {
        std::function<std::string()> call;
        std::string expected;
    };
    std::vector<Job> jobs;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const std::string& t = texts[i];
        const std::u16string& w = wideTexts[i];
        std::string utf8;
        for (char16_t c : w) {
            if (c < 0x80) {
                utf8 += static_cast<char>(c);
            } else {
                utf8 += static_cast<char>(0xC0 | (c >> 6));
                utf8 += static_cast<char>(0x80 | (c & 0x3F));
            }
        }
        const std::string mb = OracleMd5Hex(t), wc = OracleMd5Hex(std::u16string_view(w)), u8 = OracleMd5Hex(utf8);
        jobs.push_back({[&t] { return Text(md5_from_mb_string4(t.c_str())); }, mb});
        jobs.push_back({[&w] { return Text(md5_from_mb_string12(w.c_str())); }, mb});
        jobs.push_back({[&t] { return Text(md5_from_wc_string4(t.c_str())); }, wc});
        jobs.push_back({[&w] { return Text(md5_from_wc_string12(w.c_str())); }, wc});
        jobs.push_back({[&t] { return Text(md5_from_utf8_string4(t.c_str())); }, u8});
        jobs.push_back({[&w] { return Text(md5_from_utf8_string12(w.c_str())); }, u8});
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string expected = OracleMd5Hex(contents[i]);
        jobs.push_back({[&p = paths[i]] { return Text(md5_from_file4(p.c_str())); }, expected});
        jobs.push_back({[&p = widePaths[i]] { return Text(md5_from_file12(p.c_str())); }, expected});
    }
    jobs.push_back({[] { return Text(md5_from_file12(u"/nonexistent")); }, "error"});

    constexpr int kThreads = 6;
    constexpr int kCallsPerThread = 3000;
    std::atomic<int> wrong{0};
    std::atomic<int> done{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCallsPerThread; ++i) {
                const Job& job = jobs[(static_cast<std::size_t>(i) * 7 + static_cast<std::size_t>(t)) % jobs.size()];
                if (job.call() != job.expected) ++wrong;
                ++done;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(done.load(), kThreads * kCallsPerThread);
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

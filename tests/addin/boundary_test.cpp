// No exception and no leak crosses an exported entry point: with every
// allocation of a call failing in turn, each entry point returns either its
// normal answer or the static #VALUE! record.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <variant>

#include "addin/addin.h"
#include "functions/worksheet.h"
#include "tests/common/temp_file.h"
#include "tests/host/alloc_hook.h"
#include "tests/host/fake_host.h"
#include "xlapi/boundary.h"
#include "xlapi/records.h"

namespace {

using Result = std::variant<LPXLOPER, LPXLOPER12>;
using Call = std::function<Result()>;

bool IsStatic(const Result& r) {
    return std::visit([](auto* p) { return static_cast<const void*>(p) == StaticValueError() ||
                                           static_cast<const void*>(p) == StaticValueError12(); },
                      r);
}

// A description of an answer ("static" for the static error record).
std::string Describe(const Result& r) {
    if (IsStatic(r)) return "static";
    return std::visit(
        [](auto* p) {
            if (p == nullptr) return std::string("null");
            std::string text = (p->xltype & xlbitDLLFree) ? "" : "unmarked ";
            if ((p->xltype & xltypeMask) != xltypeStr) return text + "error " + std::to_string(p->val.err);
            const int length = sizeof(p->val.str[0]) == 1 ? static_cast<unsigned char>(p->val.str[0])
                                                          : static_cast<int>(p->val.str[0]);
            for (int i = 1; i <= length; ++i) text += static_cast<char>(p->val.str[i] & 0x7F);
            return text;
        },
        r);
}

void Release(const Result& r) {
    if (IsStatic(r)) return;
    if (auto* const* p = std::get_if<LPXLOPER>(&r)) xlAutoFree(*p);
    if (auto* const* p = std::get_if<LPXLOPER12>(&r)) xlAutoFree12(*p);
}

struct Outcome {
    std::string answer;
    bool threw = false;
    long live = 0;
    bool failed = false;
};

// One call with the n-th allocation failing, handed back as the host would.
Outcome Run(const Call& call, long n) {
    Outcome o;
    allochook::Armed hook(n);
    Result r = LPXLOPER{nullptr};
    try {
        r = call();
    } catch (...) {
        o.threw = true;
    }
    {
        allochook::Paused pause;
        o.answer = Describe(r);
    }
    Release(r);
    o.live = hook.Live();
    o.failed = hook.Failed();
    return o;
}

void EveryAllocationFailingInTurn(const char* name, const Call& call) {
    const Outcome normal = Run(call, 0);
    ASSERT_FALSE(normal.threw) << name;
    ASSERT_EQ(normal.live, 0) << name;
    for (long n = 1;; ++n) {
        const Outcome o = Run(call, n);
        EXPECT_FALSE(o.threw) << name << " allocation " << n;
        EXPECT_EQ(o.live, 0) << name << ": allocation " << n << " failing leaked";
        if (!o.failed) {
            EXPECT_EQ(o.answer, normal.answer) << name;
            break;
        }
        EXPECT_TRUE(o.answer == "static" || o.answer == normal.answer)
            << name << " allocation " << n << ": " << o.answer;
    }
}

TEST(Boundary, EveryEntryPointSurvivesAllocationFailure) {
    fakehost::ResetHost();
    fakehost::TheHost().versionText = "16.0";
    TempDir dir;
    const std::string path = dir.Write("data", PatternBytes(5000));
    const std::u16string wpath = Utf16(path);
    XLOPER one{};
    one.xltype = xltypeInt;
    one.val.w = 1;
    XLOPER12 one12{};
    one12.xltype = xltypeInt;
    one12.val.w = 1;

    const std::pair<const char*, Call> calls[] = {
        {"md5_from_mb_string4", [] { return Result(md5_from_mb_string4("caf\xe9")); }},
        {"md5_from_mb_string12", [] { return Result(md5_from_mb_string12(u"caf\u00e9")); }},
        {"md5_from_wc_string4", [] { return Result(md5_from_wc_string4("caf\xe9")); }},
        {"md5_from_wc_string12", [] { return Result(md5_from_wc_string12(u"caf\u00e9")); }},
        {"md5_from_utf8_string4", [] { return Result(md5_from_utf8_string4("caf\xe9")); }},
        {"md5_from_utf8_string12", [] { return Result(md5_from_utf8_string12(u"caf\u00e9")); }},
        {"md5_from_file4", [&] { return Result(md5_from_file4(path.c_str())); }},
        {"md5_from_file12", [&] { return Result(md5_from_file12(wpath.c_str())); }},
        {"md5_from_file12 missing", [] { return Result(md5_from_file12(u"/nonexistent/x")); }},
        {"xlAddInManagerInfo", [&] { return Result(xlAddInManagerInfo(&one)); }},
        {"xlAddInManagerInfo12", [&] { return Result(xlAddInManagerInfo12(&one12)); }},
    };
    for (const auto& [name, call] : calls) EveryAllocationFailingInTurn(name, call);
    EXPECT_EQ(fakehost::TheHost().Outstanding(), 0);
}

TEST(Boundary, OpenAndCloseSurviveAllocationFailure) {
    fakehost::ResetHost();
    fakehost::TheHost().versionText = "16.0";
    for (long n = 1;; ++n) {
        bool threw = false, failed;
        int opened = 0, closed = 0;
        {
            allochook::Armed hook(n);
            try {
                opened = xlAutoOpen();
                closed = xlAutoClose();
            } catch (...) {
                threw = true;
            }
            failed = hook.Failed();
        }
        EXPECT_FALSE(threw) << n;
        EXPECT_EQ(opened, 1) << n;
        EXPECT_EQ(closed, 1) << n;
        if (!failed) break;
    }
    // With memory back, all four functions register.
    fakehost::TheHost().calls.clear();
    EXPECT_EQ(xlAutoOpen(), 1);
    EXPECT_EQ(fakehost::TheHost().CallsOf(xlfRegister).size(), 4u);
    EXPECT_EQ(fakehost::TheHost().Outstanding(), 0);
}

}  // namespace

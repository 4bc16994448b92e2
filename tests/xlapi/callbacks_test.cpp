// Each test runs in a process of its own (CTest), so the host-version cache
// and the stored callback start empty in every test.
#include "xlapi/callbacks.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/host/fake_host.h"

namespace {

using fakehost::TheHost;

constexpr int kProbe = 9999;  // a function number the host just records

class Callbacks : public ::testing::Test {
protected:
    void SetUp() override { fakehost::ResetHost(); }
};

TEST_F(Callbacks, Excel12ForwardsUpTo255Arguments) {
    std::vector<XLOPER12> values(256);
    std::vector<LPXLOPER12> p(256);
    for (int i = 0; i < 256; ++i) {
        values[i].xltype = xltypeInt;
        values[i].val.w = i;
        p[i] = &values[i];
    }
    XLOPER12 result{};
    EXPECT_EQ(Excel12(kProbe, &result, 0), xlretSuccess);
    EXPECT_EQ(Excel12v(kProbe, &result, 255, p.data()), xlretSuccess);
    // Excel12 with all 255 of them through the variadic form.
    EXPECT_EQ(Excel12(kProbe, nullptr, 3, p[0], p[1], p[254]), xlretSuccess);
    ASSERT_EQ(TheHost().calls.size(), 3u);
    EXPECT_EQ(TheHost().calls[0].count, 0);
    EXPECT_EQ(TheHost().calls[1].count, 255);
    EXPECT_EQ(TheHost().calls[1].args[254].integer, 254);
    EXPECT_EQ(TheHost().calls[2].args[2].integer, 254);
    EXPECT_TRUE(TheHost().calls[2].nullResult);
    EXPECT_EQ(TheHost().calls[2].generation, 12);

    EXPECT_EQ(Excel12(kProbe, &result, 256), xlretInvCount);
    EXPECT_EQ(Excel12(kProbe, &result, -1), xlretInvCount);
    EXPECT_EQ(TheHost().calls.size(), 3u);
}

int __stdcall WrongCallback(int, int, LPXLOPER12*, LPXLOPER12) {
    ADD_FAILURE() << "the handed-over callback was used although the host exports one";
    return xlretFailed;
}

TEST_F(Callbacks, ExportedCallbackWinsOverTheHandedOne) {
    SetExcel12EntryPt(WrongCallback);
    SetExcel12EntryPt(WrongCallback);
    EXPECT_EQ(Excel12(kProbe, nullptr, 0), xlretSuccess);
    ASSERT_EQ(TheHost().calls.size(), 1u);
    EXPECT_EQ(TheHost().calls[0].generation, 12);
}

TEST_F(Callbacks, VersionTexts) {
    const struct {
        fakehost::VersionAnswer answer;
        const char* text;
        int version;
    } cases[] = {
        {fakehost::VersionAnswer::Text, "11.0", 11},
        {fakehost::VersionAnswer::Text, "16.0", 16},
        {fakehost::VersionAnswer::Text, "12", 12},
        {fakehost::VersionAnswer::Text, "  14.5x", 14},
        {fakehost::VersionAnswer::Text, "abc", 0},
        {fakehost::VersionAnswer::Text, "", 0},
        {fakehost::VersionAnswer::NotAString, "", -1},
        {fakehost::VersionAnswer::CallFails, "", -1},
    };
    for (const auto& c : cases) {
        fakehost::ResetHost();
        TheHost().versionAnswer = c.answer;
        TheHost().versionText = c.text;
        EXPECT_EQ(QueryHostVersion(), c.version) << '"' << c.text << '"';
        const auto queries = TheHost().CallsOf(xlfGetWorkspace);
        ASSERT_EQ(queries.size(), 1u);
        EXPECT_EQ(queries[0].generation, 4);  // always Excel4: the generation is not known yet
        ASSERT_EQ(queries[0].args.size(), 1u);
        EXPECT_EQ(queries[0].args[0].type, xltypeInt);
        EXPECT_EQ(queries[0].args[0].integer, 2);
        // A successful answer goes back to the host, whatever its type.
        const bool answered = c.answer != fakehost::VersionAnswer::CallFails;
        EXPECT_EQ(TheHost().CallsOf(xlFree).size(), answered ? 1u : 0u) << c.text;
        EXPECT_EQ(TheHost().Outstanding(), 0);
        EXPECT_EQ(TheHost().badFrees, 0);
    }
}

TEST_F(Callbacks, HostVersionIsAskedOncePerProcess) {
    TheHost().versionText = "16.0";
    EXPECT_EQ(HostVersion(), 16);
    TheHost().versionText = "11.0";
    EXPECT_EQ(HostVersion(), 16);
    EXPECT_EQ(TheHost().CallsOf(xlfGetWorkspace).size(), 1u);
}

TEST_F(Callbacks, FailedVersionQueryStaysMinusOne) {
    TheHost().versionAnswer = fakehost::VersionAnswer::CallFails;
    EXPECT_EQ(HostVersion(), -1);
    TheHost().versionAnswer = fakehost::VersionAnswer::Text;
    EXPECT_EQ(HostVersion(), -1);
    EXPECT_EQ(TheHost().CallsOf(xlfGetWorkspace).size(), 1u);
}

}  // namespace

// Built into an executable that does not export "MdCallBack12": the host
// process offers no XLOPER12 callback unless one is handed over.
#include <gtest/gtest.h>

#include "tests/host/fake_host.h"
#include "xlapi/callbacks.h"
#include "xlapi/xloperm.h"

namespace {

using fakehost::TheHost;

int __stdcall LaterCallback(int, int, LPXLOPER12*, LPXLOPER12) {
    ADD_FAILURE() << "a later handed-over callback replaced the first";
    return xlretFailed;
}

TEST(NoExportedCallback, RefusalsComeBeforeCountsAndTheFirstHandedCallbackStays) {
    fakehost::ResetHost();
    XLOPER12 result{};
    EXPECT_EQ(Excel12(1, &result, 0), xlretFailed);
    EXPECT_EQ(Excel12(1, &result, 300), xlretFailed);  // no entry point is found first
    EXPECT_EQ(Excel12v(1, &result, 0, nullptr), xlretFailed);

    xloperm wide(1);
    EXPECT_EQ(ExcelCall(wide, xlfSetName, 0), xlretFailed);
    EXPECT_EQ(wide.Type(), xltypeNil);
    const xloperm args[2] = {xloperm(1), xloperm(1)};
    EXPECT_EQ(ExcelRegister(wide, 2, args), xlretFailed);
    EXPECT_EQ(ExcelCall(wide, xlfSetName, 256), xlretInvCount);  // the count is checked before
    EXPECT_TRUE(TheHost().calls.empty());

    SetExcel12EntryPt(nullptr);
    EXPECT_EQ(Excel12(1, &result, 0), xlretFailed);

    SetExcel12EntryPt(fakehost::HostCallback12);
    SetExcel12EntryPt(LaterCallback);
    EXPECT_EQ(Excel12(1, &result, 0), xlretSuccess);
    EXPECT_EQ(ExcelCall(wide, xlfSetName, 0), xlretSuccess);
    ASSERT_EQ(TheHost().calls.size(), 2u);
    EXPECT_EQ(TheHost().calls[1].generation, 12);
}

}  // namespace

// Each test runs in a process of its own (CTest), so the host-version cache
// starts empty in every test.
#include "xlapi/xloperm.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/host/alloc_hook.h"
#include "tests/host/fake_host.h"
#include "xlapi/callbacks.h"
#include "xlapi/records.h"

namespace {

using fakehost::TheHost;

// A contiguous array of holders of one width, as the registration builds.
struct HolderArray {
    xloperm* items;
    int count;
    HolderArray(int n, int width) : items(static_cast<xloperm*>(::operator new(n * sizeof(xloperm)))), count(n) {
        for (int i = 0; i < n; ++i) new (&items[i]) xloperm(width);
    }
    ~HolderArray() {
        for (int i = 0; i < count; ++i) items[i].~xloperm();
        ::operator delete(items);
    }
};

class Holder : public ::testing::Test {
protected:
    void SetUp() override { fakehost::ResetHost(); }
    void TearDown() override {
        EXPECT_EQ(TheHost().Outstanding(), 0) << "a host allocation was never given back";
        EXPECT_EQ(TheHost().badFrees, 0);
    }
};

TEST_F(Holder, SetIntClampsOnlyTheNarrowGeneration) {
    const struct {
        int width;
        std::int32_t in;
        std::int32_t stored;
    } cases[] = {{0, 40000, 32767}, {0, -40000, -32768}, {0, -5, -5}, {1, 40000, 40000}, {1, -40000, -40000}};
    for (const auto& c : cases) {
        xloperm holder(c.width);
        holder.SetInt(c.in);
        EXPECT_EQ(holder.Type(), xltypeInt);
        const std::int32_t stored = c.width == 0 ? holder.AsXLOper()->val.w : holder.AsXLOper12()->val.w;
        EXPECT_EQ(stored, c.stored) << "width " << c.width << " " << c.in;
    }
}

TEST_F(Holder, SettersReuseARecordOfTheirTypeAndReplaceOthers) {
    for (int width : {0, 1}) {
        xloperm holder(width);
        holder.SetInt(1);
        void* record = holder.value;
        if (width == 0) holder.AsXLOper()->xltype |= xlbitDLLFree;
        else holder.AsXLOper12()->xltype |= xlbitDLLFree;
        holder.SetInt(2);
        EXPECT_EQ(holder.value, record);
        EXPECT_EQ(holder.Type(), xltypeInt | xlbitDLLFree) << "type word and flags stay";

        xlstr text;
        text.Assign("replaced");
        holder.SetStr(text);
        holder.SetInt(3);  // the string and its record are released (sanitizers check)
        EXPECT_EQ(holder.Type(), xltypeInt);

        holder.SetErr(xlerrValue);
        void* errRecord = holder.value;
        holder.SetErr(xlerrNA);
        EXPECT_EQ(holder.value, errRecord);
        EXPECT_EQ(holder.Type(), xltypeErr);
        if (width == 0) EXPECT_EQ(holder.AsXLOper()->val.err, xlerrNA);
        else EXPECT_EQ(holder.AsXLOper12()->val.err, xlerrNA);
    }
}

TEST_F(Holder, SetStrClampsHandsTheBufferOverAndLeavesTheTextAlone) {
    const std::string narrow(300, 'n');
    xlstr text;
    text.Assign(narrow.c_str());
    xloperm holder(0);
    holder.SetStr(text);
    EXPECT_EQ(holder.Type(), xltypeStr);
    const char* str = holder.AsXLOper()->val.str;
    EXPECT_EQ(static_cast<unsigned char>(str[0]), 255);
    EXPECT_EQ(std::memcmp(str + 1, narrow.data(), 300), 0);
    EXPECT_EQ(text.GetForm(), xlstr::Narrow);
    EXPECT_STREQ(text.NarrowText(), narrow.c_str());

    const std::u16string wide(40000, u'w');
    text.AssignW(wide.c_str());
    xloperm holder12(1);
    holder12.SetStr(text);
    EXPECT_EQ(holder12.AsXLOper12()->val.str[0], 32767);
    EXPECT_EQ(text.GetForm(), xlstr::Wide);

    xlstr none;
    holder12.SetStr(none);
    EXPECT_EQ(holder12.Type(), xltypeStr);
    EXPECT_EQ(holder12.AsXLOper12()->val.str, nullptr);
    xlstr empty;
    empty.AssignW(u"");
    holder12.SetStr(empty);
    EXPECT_EQ(holder12.AsXLOper12()->val.str[0], 0);
}

TEST_F(Holder, SetStrOverAHostValueGivesItBackAndClearsTheFlags) {
    for (int width : {0, 1}) {
        xloperm name(width);
        ASSERT_EQ(ExcelCall(name, xlGetName, 0), xlretSuccess);
        EXPECT_EQ(name.Type(), xltypeStr | xlbitXLFree);
        xlstr text;
        text.Assign("ours");
        name.SetStr(text);
        EXPECT_EQ(name.Type(), xltypeStr);
        EXPECT_EQ(TheHost().Outstanding(), 0) << "width " << width;
    }
}

TEST_F(Holder, DestroyingAHostValueGivesItBack) {
    {
        xloperm name(1);
        ExcelCall(name, xlGetName, 0);
        EXPECT_EQ(TheHost().Outstanding(), 1);
    }
    EXPECT_EQ(TheHost().Outstanding(), 0);
}

TEST_F(Holder, FailedConversionLeavesNilNotABadString) {
    xlstr text;
    text.AssignW(u"needs converting");
    xloperm holder(0);
    // Allocations: the copy of the text, the fresh record, the narrow buffer.
    {
        allochook::Armed hook(3);
        EXPECT_THROW(holder.SetStr(text), std::bad_alloc);
        ASSERT_TRUE(hook.Failed());
    }
    EXPECT_EQ(holder.Type(), xltypeNil);
}

TEST_F(Holder, ReturnCopyIsMarkedAndOwnsItsBuffer) {
    XLOPER* returned;
    XLOPER12* returned12;
    {
        xlstr text;
        text.Assign("digest");
        xloperm holder(0);
        holder.SetStr(text);
        returned = holder.ReturnCopy();
        EXPECT_EQ(holder.ReturnCopy12(), nullptr);
        EXPECT_NE(returned->val.str, holder.AsXLOper()->val.str);
        EXPECT_EQ(holder.Type(), xltypeStr);
        xloperm holder12(1);
        holder12.SetStr(text);
        returned12 = holder12.ReturnCopy12();
        EXPECT_EQ(holder12.ReturnCopy(), nullptr);
    }
    EXPECT_EQ(returned->xltype, 0x4002);
    EXPECT_EQ(std::string(returned->val.str + 1, 6), "digest");
    EXPECT_EQ(returned12->xltype, 0x4002u);
    EXPECT_EQ(std::u16string(returned12->val.str + 1, 6), u"digest");
    xlAutoFree(returned);
    xlAutoFree12(returned12);

    xloperm empty(0);
    EXPECT_EQ(empty.ReturnCopy(), nullptr);
}

TEST_F(Holder, SetStrFromAMovedTextTakesItsBufferWithoutACopy) {
    xlstr narrow;
    narrow.Assign("digest");
    const void* narrowBuffer = narrow.NarrowText();
    xloperm holder(0);
    holder.SetStr(std::move(narrow));
    EXPECT_EQ(holder.Type(), xltypeStr);
    EXPECT_EQ(static_cast<const void*>(holder.AsXLOper()->val.str), narrowBuffer);
    EXPECT_EQ(std::string(holder.AsXLOper()->val.str + 1, 6), "digest");
    EXPECT_EQ(holder.AsXLOper()->val.str[0], 6);
    EXPECT_FALSE(narrow.HasText());

    xlstr wide;
    wide.AssignW(u"digest");
    const void* wideBuffer = wide.WideText();
    xloperm holder12(1);
    holder12.SetStr(std::move(wide));
    EXPECT_EQ(static_cast<const void*>(holder12.AsXLOper12()->val.str), wideBuffer);
    EXPECT_EQ(std::u16string(holder12.AsXLOper12()->val.str + 1, 6), u"digest");
    EXPECT_FALSE(wide.HasText());

    // Unlike a copy, which starts over under the ANSI code page, the moved text
    // is read under its own: here UTF-8.
    for (int width : {0, 1}) {
        xlstr utf8;
        utf8.AssignW(u"caf\u00e9");
        utf8.SetCodePage(65001);
        ASSERT_STREQ(utf8.ToNarrow(), "caf\xc3\xa9");
        xloperm h(width);
        h.SetStr(std::move(utf8));
        if (width == 0)
            EXPECT_EQ(std::string(h.AsXLOper()->val.str + 1, 4), "caf\xe9");
        else
            EXPECT_EQ(std::u16string(h.AsXLOper12()->val.str + 1, 4), u"caf\u00e9");
    }

    xlstr none;
    holder.SetStr(std::move(none));
    EXPECT_EQ(holder.Type(), xltypeStr);
    EXPECT_EQ(holder.AsXLOper()->val.str, nullptr);
}

TEST_F(Holder, SetStrFromAMovedTextThatFailsToConvertKeepsTheText) {
    xlstr text;
    text.AssignW(u"needs converting");
    xloperm holder(0);
    // Allocations: the fresh record, the narrow buffer.
    {
        allochook::Armed hook(2);
        EXPECT_THROW(holder.SetStr(std::move(text)), std::bad_alloc);
        ASSERT_TRUE(hook.Failed());
    }
    EXPECT_EQ(holder.Type(), xltypeNil);
    ASSERT_TRUE(text.HasText());
    EXPECT_EQ(std::u16string(text.WideText()), u"needs converting");
}

TEST_F(Holder, ReturnHeldHandsOverTheRecordItself) {
    for (int width : {0, 1}) {
        xlstr text;
        text.Assign("digest");
        xloperm holder(width);
        holder.SetStr(text);
        const void* record = holder.value;
        if (width == 0) {
            EXPECT_EQ(holder.ReturnHeld12(), nullptr);
            const char* str = holder.AsXLOper()->val.str;
            XLOPER* returned = holder.ReturnHeld();
            EXPECT_EQ(static_cast<const void*>(returned), record);
            EXPECT_EQ(returned->xltype, 0x4002);
            EXPECT_EQ(returned->val.str, str);
            EXPECT_EQ(holder.value, nullptr);
            EXPECT_EQ(holder.ReturnHeld(), nullptr);
            xlAutoFree(returned);
        } else {
            EXPECT_EQ(holder.ReturnHeld(), nullptr);
            const XCHAR* str = holder.AsXLOper12()->val.str;
            XLOPER12* returned = holder.ReturnHeld12();
            EXPECT_EQ(static_cast<const void*>(returned), record);
            EXPECT_EQ(returned->xltype, 0x4002u);
            EXPECT_EQ(returned->val.str, str);
            EXPECT_EQ(holder.value, nullptr);
            xlAutoFree12(returned);
        }
    }

    xloperm error(1);
    error.SetErr(xlerrNA);
    XLOPER12* returnedError = error.ReturnHeld12();
    EXPECT_EQ(returnedError->xltype, 0x4010u);
    EXPECT_EQ(returnedError->val.err, xlerrNA);
    xlAutoFree12(returnedError);
}

TEST_F(Holder, ReturnHeldOfAHostValueGivesACopyAndKeepsTheHostsMemory) {
    for (int width : {0, 1}) {
        xloperm name(width);
        ASSERT_EQ(ExcelCall(name, xlGetName, 0), xlretSuccess);
        ASSERT_EQ(name.Type(), xltypeStr | xlbitXLFree);
        const void* record = name.value;
        if (width == 0) {
            XLOPER* returned = name.ReturnHeld();
            EXPECT_NE(static_cast<const void*>(returned), record);
            EXPECT_EQ(returned->xltype, 0x4002);
            EXPECT_NE(returned->val.str, name.AsXLOper()->val.str);
            xlAutoFree(returned);
        } else {
            XLOPER12* returned = name.ReturnHeld12();
            EXPECT_NE(static_cast<const void*>(returned), record);
            EXPECT_EQ(returned->xltype, 0x4002u);
            EXPECT_NE(returned->val.str, name.AsXLOper12()->val.str);
            xlAutoFree12(returned);
        }
        EXPECT_EQ(name.value, record) << "the holder keeps the host's value, to give it back";
        EXPECT_EQ(TheHost().Outstanding(), 1);
    }
}

TEST_F(Holder, TextOfAHeldString) {
    for (int width : {0, 1}) {
        xloperm name(width);
        ExcelCall(name, xlGetName, 0);
        xlstr text(name);
        EXPECT_EQ(text.GetForm(), width == 0 ? xlstr::Narrow : xlstr::Wide);
        EXPECT_STREQ(text.NarrowText(), "C:\\AddIns\\Kestrova.xll");
        xloperm number(width);
        number.SetInt(5);
        EXPECT_FALSE(xlstr(number).HasText());
        EXPECT_FALSE(xlstr(xloperm(width)).HasText());
    }
}

TEST_F(Holder, CallLimitsAndNullArguments) {
    const struct {
        int width;
        int count;
        int code;
    } cases[] = {{0, 30, xlretSuccess}, {0, 31, xlretInvCount}, {0, -1, xlretInvCount},
                 {1, 255, xlretSuccess}, {1, 256, xlretInvCount}};
    for (const auto& c : cases) {
        fakehost::ResetHost();
        xloperm result(c.width);
        result.SetInt(9);
        HolderArray holders(c.count > 0 ? c.count : 1, c.width);
        EXPECT_EQ(ExcelRegister(result, c.count, holders.items), c.code) << c.width << "/" << c.count;
        if (c.code == xlretSuccess) {
            ASSERT_EQ(TheHost().calls.size(), 1u);
            EXPECT_EQ(TheHost().calls[0].count, c.count);
        } else {
            EXPECT_TRUE(TheHost().calls.empty());
            EXPECT_EQ(result.Type(), xltypeNil) << "the result is reset even when refused";
        }
    }

    // ExcelCall: an empty holder, a holder of the other generation and a null pointer all pass null.
    xloperm result(0), empty(0), other(1), set(0);
    other.SetInt(1);
    set.SetInt(1);
    fakehost::ResetHost();
    EXPECT_EQ(ExcelCall(result, xlfSetName, 4, &empty, &other, static_cast<xloperm*>(nullptr), &set), xlretSuccess);
    ASSERT_EQ(TheHost().calls.size(), 1u);
    const auto& args = TheHost().calls[0].args;
    EXPECT_TRUE(args[0].null);
    EXPECT_TRUE(args[1].null);
    EXPECT_TRUE(args[2].null);
    EXPECT_FALSE(args[3].null);
    EXPECT_EQ(ExcelCall(result, xlfSetName, 31), xlretInvCount);
    xloperm result12(1);
    EXPECT_EQ(ExcelCall(result12, xlfSetName, 256), xlretInvCount);
    EXPECT_EQ(TheHost().calls.size(), 1u);
}

TEST(DefaultWidth, Version16GivesXLOPER12) {
    fakehost::ResetHost();
    TheHost().versionText = "16.0";
    EXPECT_EQ(xloperm().width, 1);
    EXPECT_EQ(TheHost().Outstanding(), 0);
}

TEST(DefaultWidth, Version11GivesXLOPER) {
    fakehost::ResetHost();
    TheHost().versionText = "11.0";
    EXPECT_EQ(xloperm().width, 0);
}

TEST(DefaultWidth, FailedQueryGivesXLOPER) {
    fakehost::ResetHost();
    TheHost().versionAnswer = fakehost::VersionAnswer::CallFails;
    EXPECT_EQ(xloperm().width, 0);
}

}  // namespace

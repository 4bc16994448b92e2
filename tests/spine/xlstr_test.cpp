#include "text/xlstr.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "platform/platform.h"

namespace {

struct FreeBlockDeleter {
    void operator()(void* block) const { ::operator delete(block); }
};
template <typename T>
using Owned = std::unique_ptr<T, FreeBlockDeleter>;

TEST(Xlstr, NullTextLeavesEveryOperationWithNothing) {
    xlstr text;
    text.Assign("stale");
    text.Assign(nullptr);
    EXPECT_FALSE(text.HasText());
    EXPECT_EQ(text.ToNarrow(), nullptr);
    EXPECT_EQ(text.ToWide(), nullptr);
    EXPECT_EQ(text.NarrowText(), nullptr);
    EXPECT_EQ(text.WideText(), nullptr);
    EXPECT_EQ(text.DetachCounted(), nullptr);
    EXPECT_EQ(text.CountedW(), nullptr);
    EXPECT_EQ(text.Detach(), nullptr);
    text.SetCodePage(65001);
    EXPECT_FALSE(text.HasText());
    for (auto assign : {+[](xlstr& t) { t.AssignW(nullptr); }, +[](xlstr& t) { t.AssignCounted(nullptr); },
                        +[](xlstr& t) { t.AssignCountedW(nullptr); }}) {
        text.Assign("x");
        assign(text);
        EXPECT_FALSE(text.HasText());
    }
}

TEST(Xlstr, EmptyTextDetachesAsCountZero) {
    xlstr text;
    text.Assign("");
    Owned<char> counted(text.DetachCounted());
    ASSERT_NE(counted, nullptr);
    EXPECT_EQ(counted.get()[0], 0);
    EXPECT_FALSE(text.HasText());
}

TEST(Xlstr, CountsAreClampedButEveryCharacterIsKept) {
    const std::string narrow(300, 'n');
    xlstr text;
    text.Assign(narrow.c_str());
    Owned<char> counted(text.DetachCounted());
    EXPECT_EQ(static_cast<unsigned char>(counted.get()[0]), 255);
    EXPECT_EQ(std::memcmp(counted.get() + 1, narrow.data(), 300), 0);

    const std::u16string wide(40000, u'w');
    text.AssignW(wide.c_str());
    const char16_t* countedW = text.CountedW();
    EXPECT_EQ(countedW[0], 32767);
    EXPECT_EQ(std::u16string(countedW + 1, 40000), wide);

    // A copy takes only what the count covers.
    xlstr copy(text);
    EXPECT_EQ(copy.GetForm(), xlstr::WideCounted);
    EXPECT_EQ(std::u16string(copy.WideText()), std::u16string(32767, u'w'));
}

TEST(Xlstr, EmbeddedZeroEndsEveryMeasurement) {
    const char counted[] = "\x05" "ab\0cd";
    xlstr text;
    text.AssignCounted(counted);
    EXPECT_EQ(std::memcmp(text.ToNarrow(), "ab\0cd\0", 6), 0);  // all five bytes and a terminator
    xlstr copy(text);
    EXPECT_STREQ(copy.NarrowText(), "ab");
    Owned<char> detached(text.DetachCounted());
    EXPECT_EQ(detached.get()[0], 2);

    const char16_t countedW[] = {4, u'a', 0, u'b', u'c'};
    text.AssignCountedW(countedW);
    EXPECT_EQ(std::u16string(text.WideText()), u"a");
    EXPECT_EQ(text.CountedW()[0], 1);
}

TEST(Xlstr, CodePageChangeKeepsTheCharacters) {
    xlstr text;
    text.Assign("caf\xe9");  // é in the ANSI code page
    text.SetCodePage(65001);
    EXPECT_EQ(text.GetCodePage(), 65001u);
    EXPECT_STREQ(text.ToNarrow(), "caf\xc3\xa9");

    const char* before = text.ToNarrow();
    text.SetCodePage(65001);
    EXPECT_EQ(text.NarrowText(), before);  // the same code page changes nothing

    xlstr copy;
    copy = text;
    EXPECT_EQ(copy.GetCodePage(), 0u);
    EXPECT_STREQ(copy.NarrowText(), "caf\xc3\xa9");

    text.SetCodePage(0);
    EXPECT_STREQ(text.NarrowText(), "caf\xe9");
    text.Assign("x");
    EXPECT_EQ(text.GetCodePage(), 0u);  // every assignment resets it
}

TEST(Xlstr, SelfAssignmentChangesNothing) {
    xlstr text;
    text.AssignW(u"same");
    const char16_t* before = text.WideText();
    xlstr& alias = text;
    text = alias;
    EXPECT_EQ(text.WideText(), before);
    EXPECT_EQ(std::u16string(before), u"same");
}

TEST(Xlstr, CountedWideStaysCountedForWideAndConvertsForNarrow) {
    xlstr text;
    text.AssignW(u"abc");
    char16_t* counted = text.CountedW();
    EXPECT_EQ(text.ToWide(), counted);
    EXPECT_EQ(counted[0], 3);
    EXPECT_EQ(text.GetForm(), xlstr::WideCounted);
    EXPECT_STREQ(text.ToNarrow(), "abc");
    EXPECT_EQ(text.GetForm(), xlstr::Narrow);
}

TEST(Xlstr, FormTransitions) {
    struct Case {
        const char* name;
        void (*prepare)(xlstr&);
        void (*operate)(xlstr&);
        xlstr::Form expected;
    };
    const auto narrow = +[](xlstr& t) { t.Assign("text"); };
    const auto wide = +[](xlstr& t) { t.AssignW(u"text"); };
    const auto countedWide = +[](xlstr& t) { t.AssignW(u"text"); t.CountedW(); };
    const Case cases[] = {
        {"NarrowText from wide", wide, +[](xlstr& t) { t.NarrowText(); }, xlstr::Narrow},
        {"NarrowText from counted wide", countedWide, +[](xlstr& t) { t.NarrowText(); }, xlstr::Narrow},
        {"WideText from narrow", narrow, +[](xlstr& t) { t.WideText(); }, xlstr::Wide},
        {"WideText from counted wide", countedWide, +[](xlstr& t) { t.WideText(); }, xlstr::Wide},
        {"CountedW from narrow", narrow, +[](xlstr& t) { t.CountedW(); }, xlstr::WideCounted},
        {"SetCodePage widens narrow", narrow, +[](xlstr& t) { t.SetCodePage(65001); }, xlstr::Wide},
        {"SetCodePage keeps counted wide", countedWide, +[](xlstr& t) { t.SetCodePage(65001); },
         xlstr::WideCounted},
        {"ToNarrow keeps narrow", narrow, +[](xlstr& t) { t.ToNarrow(); }, xlstr::Narrow},
    };
    for (const auto& c : cases) {
        xlstr text;
        c.prepare(text);
        c.operate(text);
        EXPECT_EQ(text.GetForm(), c.expected) << c.name;
        EXPECT_STREQ(text.NarrowText(), "text") << c.name;
    }
}

TEST(Xlstr, CharacterTheAnsiCodePageLacksBecomesTheReplacement) {
    xlstr text;
    text.AssignW(u"a\u3042b");  // HIRAGANA A: not in the ANSI code page of the native build
    Owned<char> counted(text.DetachCounted());
    EXPECT_EQ(std::string(counted.get() + 1, 3), "a?b");
}

// ASCII texts convert without the system's conversion; whatever the path, the
// result must be the system's, for texts on both sides of the ASCII boundary.
TEST(Xlstr, ConversionsAgreeWithTheSystemOnAsciiAndOtherTexts) {
    const std::u16string texts[] = {u"", u"abc", u"d41d8cd98f00b204e9800998ecf8427e", u"\x7f~ \x01",
                                    u"\x80", u"caf\u00e9", u"abc\u6587", u"\U0001F600x", u"a\xd800"};
    for (std::uint32_t codePage : {0u, 65001u}) {
        for (const std::u16string& wide : texts) {
            const int bytes = WideCharToMultiByte(codePage, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
            std::string expected(static_cast<std::size_t>(bytes), '\0');
            WideCharToMultiByte(codePage, 0, wide.c_str(), -1, expected.data(), bytes, nullptr, nullptr);
            expected.pop_back();

            xlstr text;
            text.AssignW(wide.c_str());
            text.SetCodePage(codePage);
            EXPECT_EQ(std::string(text.ToNarrow()), expected) << codePage;
            EXPECT_EQ(text.GetForm(), xlstr::Narrow);

            const int units = MultiByteToWideChar(codePage, 0, expected.c_str(), -1, nullptr, 0);
            std::u16string back(static_cast<std::size_t>(units), u'\0');
            MultiByteToWideChar(codePage, 0, expected.c_str(), -1, back.data(), units);
            back.pop_back();
            EXPECT_EQ(std::u16string(text.ToWide()), back) << codePage;
            EXPECT_EQ(text.GetForm(), xlstr::Wide);
        }
    }
}

}  // namespace

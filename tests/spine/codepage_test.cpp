// The native platform layer's code-page conversion must keep the Windows
// contracts the text holder relies on.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"

namespace {

std::u16string Widen(UINT cp, const std::string& bytes) {
    const int units = MultiByteToWideChar(cp, 0, bytes.c_str(), -1, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(units), u'\0');
    EXPECT_EQ(MultiByteToWideChar(cp, 0, bytes.c_str(), -1, out.data(), units), units);
    out.pop_back();
    return out;
}

std::string Narrow(UINT cp, const std::u16string& units) {
    const int bytes = WideCharToMultiByte(cp, 0, units.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    EXPECT_EQ(WideCharToMultiByte(cp, 0, units.c_str(), -1, out.data(), bytes, nullptr, nullptr), bytes);
    out.pop_back();
    return out;
}

TEST(CodePage, Utf8Decoding) {
    const struct {
        std::string bytes;
        std::u16string units;
    } cases[] = {
        {"abc", u"abc"},
        {"\xc3\xa9\xe3\x81\x82", u"\u00e9\u3042"},
        {"\xf0\x9f\x98\x80", u"\U0001F600"},        // surrogate pair
        {"a\xff" "b", u"a\uFFFDb"},                  // invalid byte
        {"\xe3\x81", u"\uFFFD"},                     // truncated sequence
        {"\xc0\xaf", u"\uFFFD\uFFFD"},               // overlong
        {"\xed\xa0\x80", u"\uFFFD\uFFFD\uFFFD"},     // encoded surrogate
    };
    for (const auto& c : cases) EXPECT_EQ(Widen(CP_UTF8, c.bytes), c.units) << c.bytes;
}

TEST(CodePage, Utf8Encoding) {
    EXPECT_EQ(Narrow(CP_UTF8, u"\u00e9\u3042\U0001F600"), "\xc3\xa9\xe3\x81\x82\xf0\x9f\x98\x80");
    EXPECT_EQ(Narrow(CP_UTF8, u"a\xD800" "b"), "a\xef\xbf\xbd" "b");  // lone surrogate
}

TEST(CodePage, AnsiIsWindows1252) {
    EXPECT_EQ(Widen(CP_ACP, "\x80\xe9\x9f"), u"\u20ac\u00e9\u0178");
    EXPECT_EQ(Narrow(CP_ACP, u"\u20ac\u00e9\u0178"), "\x80\xe9\x9f");
    EXPECT_EQ(Narrow(CP_ACP, u"\u3042\U0001F600"), "???");
}

TEST(CodePage, SmallTargetIsNeverOverrun) {
    char target[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, u"\u3042", -1, target, 3, nullptr, nullptr), 0);
    EXPECT_EQ(target[3], 'x');
    char16_t wide[3] = {u'x', u'x', u'x'};
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abcd", -1, wide, 2), 0);
    EXPECT_EQ(wide[2], u'x');
    EXPECT_EQ(MultiByteToWideChar(12345, 0, "abc", -1, nullptr, 0), 0);
}

}  // namespace

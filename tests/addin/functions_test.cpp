// The eight worksheet procedures, called as the host calls them, against
// OpenSSL's MD5 over independently written encodings of each text.
#include "functions/worksheet.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/common/oracle.h"
#include "tests/common/temp_file.h"
#include "tests/host/alloc_hook.h"
#include "tests/host/fake_host.h"
#include "xlapi/boundary.h"
#include "xlapi/records.h"

namespace {

// The digest text of a returned record, after checking the record's shape;
// the record is handed back as the host would.
std::string Digest(LPXLOPER result) {
    EXPECT_EQ(result->xltype, xltypeStr | xlbitDLLFree);
    std::string text(result->val.str + 1, static_cast<unsigned char>(result->val.str[0]));
    EXPECT_EQ(text.size(), 32u);
    xlAutoFree(result);
    return text;
}

std::string Digest(LPXLOPER12 result) {
    EXPECT_EQ(result->xltype, xltypeStr | xlbitDLLFree);
    std::string text;
    for (int i = 1; i <= result->val.str[0]; ++i) text += static_cast<char>(result->val.str[i]);
    EXPECT_EQ(text.size(), 32u);
    xlAutoFree12(result);
    return text;
}

template <typename Oper>
int NotAvailable(Oper* result) {
    EXPECT_EQ(result->xltype, xltypeErr | xlbitDLLFree);
    const int code = result->val.err;
    (sizeof(Oper) == sizeof(XLOPER)) ? xlAutoFree(reinterpret_cast<LPXLOPER>(result))
                                     : xlAutoFree12(reinterpret_cast<LPXLOPER12>(result));
    return code;
}

// The texts, with their bytes in each encoding written out by hand. The ANSI
// code page of the native build is Windows-1252, which lacks the Japanese
// characters: the system writes '?' for each UTF-16 unit it cannot map.
struct TextCase {
    const char* name;
    const char16_t* wide;    // null: the null argument
    const char* ansi;        // the same text as an ANSI argument; null when it has none
    std::string ansiBytes;
    std::string utf16Bytes;
    std::string utf8Bytes;
};

using namespace std::string_literals;

const TextCase kTexts[] = {
    {"null", nullptr, nullptr, "", "", ""},
    {"empty", u"", "", "", "", ""},
    {"ascii", u"abc", "abc", "abc", "a\0b\0c\0"s, "abc"},
    {"accented", u"\u00e9t\u00e9", "\xe9t\xe9", "\xe9t\xe9", "\xe9\0t\0\xe9\0"s, "\xc3\xa9t\xc3\xa9"},
    {"japanese", u"\u6587\u5b57", nullptr, "??", "\x87\x65\x57\x5b"s, "\xe6\x96\x87\xe5\xad\x97"},
    {"surrogate pair", u"\U0001F600", nullptr, "??", "\x3d\xd8\x00\xde"s, "\xf0\x9f\x98\x80"},
};

TEST(WorksheetFunctions, TextsInBothGenerations) {
    fakehost::ResetHost();
    for (const auto& c : kTexts) {
        const std::string mb = OracleMd5Hex(c.ansiBytes), wc = OracleMd5Hex(c.utf16Bytes),
                          utf8 = OracleMd5Hex(c.utf8Bytes);
        EXPECT_EQ(Digest(md5_from_mb_string12(c.wide)), mb) << c.name;
        EXPECT_EQ(Digest(md5_from_wc_string12(c.wide)), wc) << c.name;
        EXPECT_EQ(Digest(md5_from_utf8_string12(c.wide)), utf8) << c.name;
        if (c.ansi == nullptr && c.wide != nullptr) continue;
        EXPECT_EQ(Digest(md5_from_mb_string4(c.ansi)), mb) << c.name;
        EXPECT_EQ(Digest(md5_from_wc_string4(c.ansi)), wc) << c.name;
        EXPECT_EQ(Digest(md5_from_utf8_string4(c.ansi)), utf8) << c.name;
    }
    // The procedures never call the host.
    EXPECT_TRUE(fakehost::TheHost().calls.empty());
}

TEST(WorksheetFunctions, Files) {
    TempDir dir;
    for (std::size_t size : {0u, 1u, 2048u, 2049u, 300000u}) {
        const std::string content = PatternBytes(size);
        const std::string path = dir.Write("file" + std::to_string(size), content);
        EXPECT_EQ(Digest(md5_from_file4(path.c_str())), OracleMd5Hex(content)) << size;
        EXPECT_EQ(Digest(md5_from_file12(Utf16(path).c_str())), OracleMd5Hex(content)) << size;
    }
    const std::string japanese = dir.Write("\xe3\x83\x95\xe3\x82\xa1\xe3\x82\xa4\xe3\x83\xab", "x");
    EXPECT_EQ(Digest(md5_from_file12(Utf16(japanese).c_str())), OracleMd5Hex("x"));

    for (const std::string& path : {dir.Path() + "/missing", dir.Path(), std::string()}) {
        EXPECT_EQ(NotAvailable(md5_from_file4(path.c_str())), xlerrNA) << '"' << path << '"';
        EXPECT_EQ(NotAvailable(md5_from_file12(Utf16(path).c_str())), xlerrNA) << '"' << path << '"';
    }
    EXPECT_EQ(NotAvailable(md5_from_file4(nullptr)), xlerrNA);
    EXPECT_EQ(NotAvailable(md5_from_file12(nullptr)), xlerrNA);
}

TEST(WorksheetFunctions, ReturnedRecordOwnsItsBuffer) {
    LPXLOPER narrow = md5_from_mb_string4("abc");
    LPXLOPER12 wide = md5_from_mb_string12(u"abc");
    ASSERT_NE(narrow, StaticValueError());
    EXPECT_EQ(narrow->xltype, 0x4002);
    EXPECT_EQ(narrow->val.str[0], 32);
    EXPECT_EQ(std::string(narrow->val.str + 1, 32), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(wide->xltype, 0x4002u);
    EXPECT_EQ(wide->val.str[0], 32);
    EXPECT_NE(static_cast<void*>(narrow), static_cast<void*>(wide));
    xlAutoFree(narrow);
    xlAutoFree12(wide);
}

// A call allocates the argument's copy, each conversion its pipeline needs,
// the hex text and the record it returns, and nothing else: the hex text
// becomes the returned string and the record goes to the host as built. All
// of it goes back with xlAutoFree/xlAutoFree12.
TEST(WorksheetFunctions, CallsAllocateOnlyWhatTheyKeepOrConvert) {
    fakehost::ResetHost();
    const std::string accented = "\xe9t\xe9";
    const struct {
        const char* name;
        std::function<void()> call;
        long allocations;
    } cases[] = {
        // argument, hex, record
        {"md5_from_mb_string4", [&] { xlAutoFree(md5_from_mb_string4(accented.c_str())); }, 3},
        // argument, ANSI text, hex, record, wide hex
        {"md5_from_mb_string12", [] { xlAutoFree12(md5_from_mb_string12(u"\u00e9t\u00e9")); }, 5},
        // argument, wide text, hex, record
        {"md5_from_wc_string4", [&] { xlAutoFree(md5_from_wc_string4(accented.c_str())); }, 4},
        // argument, hex, record, wide hex
        {"md5_from_wc_string12", [] { xlAutoFree12(md5_from_wc_string12(u"\u00e9t\u00e9")); }, 4},
        // argument, wide text, UTF-8 text, hex, record
        {"md5_from_utf8_string4", [&] { xlAutoFree(md5_from_utf8_string4(accented.c_str())); }, 5},
        // argument, UTF-8 text, hex, record, wide hex
        {"md5_from_utf8_string12", [] { xlAutoFree12(md5_from_utf8_string12(u"\u00e9t\u00e9")); }, 5},
    };
    for (const auto& c : cases) {
        allochook::Armed hook;
        c.call();
        EXPECT_EQ(hook.Allocations(), c.allocations) << c.name;
        EXPECT_EQ(hook.Live(), 0) << c.name;
    }
}

}  // namespace

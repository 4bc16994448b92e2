#include "digest/pipelines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::string_literals;

#include "digest/md5.h"
#include "tests/common/oracle.h"
#include "tests/common/temp_file.h"

namespace {

constexpr const char* kEmptyDigest = "d41d8cd98f00b204e9800998ecf8427e";

void ExpectHexResult(xlstr& text, const std::string& expected, const std::string& what) {
    EXPECT_EQ(text.GetForm(), xlstr::Narrow) << what;
    EXPECT_EQ(text.GetCodePage(), 0u) << what;
    EXPECT_EQ(std::string(text.NarrowText()), expected) << what;
}

// One text, its three encodings as the native platform encodes them (the ANSI
// code page here is Windows-1252), held either narrow (ANSI) or wide.
struct TextCase {
    const char* name;
    std::u16string wide;
    const char* ansi;  // null: the text cannot be held narrow in the ANSI code page
    std::string ansiBytes;
    std::string utf8Bytes;
};

const TextCase kTexts[] = {
    {"ascii", u"Kestrova 123", "Kestrova 123", "Kestrova 123", "Kestrova 123"},
    {"accented", u"caf\u00e9 \u00fc", "caf\xe9 \xfc", "caf\xe9 \xfc", "caf\xc3\xa9 \xc3\xbc"},
    {"japanese", u"\u6587\u5b57\u5217", nullptr, "???", "\xe6\x96\x87\xe5\xad\x97\xe5\x88\x97"},
    {"empty", u"", "", "", ""},
};

TEST(Pipelines, EachEncodingOfNarrowAndWideTexts) {
    using Pipeline = void (*)(xlstr&, CDigest&);
    for (const auto& c : kTexts) {
        const struct {
            const char* pipeline;
            Pipeline run;
            std::string expected;
        } runs[] = {
            {"HashMultiByte", HashMultiByte, OracleMd5Hex(c.ansiBytes)},
            {"HashWideChar", HashWideChar, OracleMd5Hex(std::u16string_view(c.wide))},
            {"HashUtf8", HashUtf8, OracleMd5Hex(c.utf8Bytes)},
        };
        for (const auto& r : runs) {
            CMD5 md5;
            xlstr text;
            text.AssignW(c.wide.c_str());
            r.run(text, md5);
            ExpectHexResult(text, r.expected, std::string(r.pipeline) + " wide " + c.name);
            if (c.ansi == nullptr) continue;
            text.Assign(c.ansi);
            r.run(text, md5);
            ExpectHexResult(text, r.expected, std::string(r.pipeline) + " narrow " + c.name);
        }
    }
}

TEST(Pipelines, AnyFormAndCodePageOnEntry) {
    CMD5 md5;
    xlstr text;
    text.AssignW(u"\u00e9");
    text.CountedW();  // counted wide
    HashUtf8(text, md5);
    ExpectHexResult(text, OracleMd5Hex("\xc3\xa9"), "counted wide");

    text.Assign("\xe9");
    text.SetCodePage(65001);  // widened under the ANSI code page first
    HashWideChar(text, md5);
    ExpectHexResult(text, OracleMd5Hex(std::u16string_view(u"\u00e9")), "utf-8 code page");
}

TEST(Pipelines, NoTextHashesNothing) {
    for (auto run : {HashMultiByte, HashWideChar, HashUtf8}) {
        CMD5 md5;
        xlstr text;
        run(text, md5);
        ExpectHexResult(text, kEmptyDigest, "no text");
    }
    CMD5 md5;
    xlstr path;
    EXPECT_FALSE(HashFile(path, md5));
    ExpectHexResult(path, kEmptyDigest, "no path");
}

TEST(Pipelines, FilesOfBoundarySizes) {
    TempDir dir;
    for (std::size_t size : {0u, 1u, 2047u, 2048u, 2049u, 100000u}) {
        const std::string content = PatternBytes(size);
        const std::string path = dir.Write("f" + std::to_string(size) + ".bin", content);
        CMD5 md5;
        xlstr text;
        text.AssignW(Utf16(path).c_str());
        EXPECT_TRUE(HashFile(text, md5)) << size;
        ExpectHexResult(text, OracleMd5Hex(content), std::to_string(size) + " bytes");
    }
    // A narrow path is widened from the ANSI code page, and a non-ASCII name works.
    const std::string content = "\r\n\x1a\0binary"s;
    const std::string path = dir.Write("caf\xc3\xa9.bin", content);
    CMD5 md5;
    xlstr text;
    text.Assign((dir.Path() + "/caf\xe9.bin").c_str());
    EXPECT_TRUE(HashFile(text, md5));
    ExpectHexResult(text, OracleMd5Hex(content), "narrow accented path");
}

TEST(Pipelines, FilesThatCannotBeOpened) {
    TempDir dir;
    const std::string cases[] = {dir.Path() + "/missing.bin", dir.Path(), ""};
    for (const auto& path : cases) {
        CMD5 md5;
        xlstr text;
        text.AssignW(Utf16(path).c_str());
        EXPECT_FALSE(HashFile(text, md5)) << '"' << path << '"';
        ExpectHexResult(text, kEmptyDigest, path);
    }
}

struct CountingDigest : CDigest {
    std::vector<std::uint32_t> updates;
    CMD5 inner;
    void Init() override { inner.Init(); }
    void Update(const void* bytes, std::uint32_t length) override {
        updates.push_back(length);
        inner.Update(bytes, length);
    }
    void Final() override { inner.Final(); }
    const char* HexDigest() override { return inner.HexDigest(); }
};

TEST(Pipelines, StreamIsFedInChunksOf2048) {
    TempDir dir;
    CountingDigest digest;
    digest.Init();
    EXPECT_TRUE(DigestStream(std::fopen(dir.Write("c", PatternBytes(4097)).c_str(), "rb"), digest));
    EXPECT_EQ(digest.updates, (std::vector<std::uint32_t>{2048, 2048, 1}));
    EXPECT_FALSE(DigestStream(nullptr, digest));
}

}  // namespace

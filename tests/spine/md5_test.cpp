#include "digest/md5.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/common/oracle.h"

namespace {

std::string Md5Hex(const std::string& message) {
    CMD5 md5;
    md5.Init();
    md5.Update(message.data(), static_cast<std::uint32_t>(message.size()));
    md5.Final();
    return md5.HexDigest();
}

TEST(Md5, Rfc1321TestSuite) {
    const struct {
        const char* message;
        const char* digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(Md5Hex(c.message), c.digest) << '"' << c.message << '"';
}

TEST(Md5, PaddingBoundaries) {
    // 55 bytes is the last remainder whose length fits the final block; from 56
    // on the padding takes one block more.
    for (std::size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u}) {
        const std::string message(length, 'q');
        EXPECT_EQ(Md5Hex(message), OracleMd5Hex(message)) << length << " bytes";
    }
}

TEST(Md5, MatchesOpenSslForEveryLengthAndSplit) {
    std::mt19937 rng(1321);
    std::vector<unsigned char> message(300);
    for (auto& byte : message) byte = static_cast<unsigned char>(rng());
    for (std::size_t length = 0; length <= message.size(); ++length) {
        const std::string expected = OracleMd5Hex(message.data(), length);
        // Random pieces, empty ones included, must give the same digest as one piece.
        CMD5 md5;
        md5.Init();
        for (std::size_t fed = 0; fed < length;) {
            const std::size_t piece = std::min<std::size_t>(rng() % 80, length - fed);
            md5.Update(message.data() + fed, static_cast<std::uint32_t>(piece));
            fed += piece;
        }
        md5.Update(message.data(), 0);
        md5.Final();
        ASSERT_EQ(md5.HexDigest(), expected) << length << " bytes";
    }
}

TEST(Md5, FinalWipesTheContextAndKeepsTheDigest) {
    CMD5 md5;
    md5.Init();
    md5.Update("abc", 3);
    md5.Final();
    const MD5_CTX& context = md5;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&context);
    for (std::size_t i = 0; i < sizeof(MD5_CTX); ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i;

    const char* first = md5.HexDigest();
    EXPECT_STREQ(first, "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5.HexDigest(), first);

    // The same object starts over cleanly.
    md5.Init();
    md5.Update("a", 1);
    md5.Final();
    EXPECT_STREQ(md5.HexDigest(), "0cc175b9c0f1b6a831c399e269772661");
}

TEST(Md5, ToHexWritesLowercaseAndTerminates) {
    unsigned char bytes[16];
    for (int i = 0; i < 16; ++i) bytes[i] = static_cast<unsigned char>(i * 17);
    char text[34];
    text[33] = 'x';
    EXPECT_EQ(CMD5::ToHex(bytes, text), text);
    EXPECT_STREQ(text, "00112233445566778899aabbccddeeff");
    EXPECT_EQ(text[33], 'x');
}

}  // namespace

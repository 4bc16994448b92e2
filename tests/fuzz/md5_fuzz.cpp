// MD5 against OpenSSL's: a message fed in pieces whose sizes the input
// chooses (zero-length pieces, pieces that straddle blocks, runs of whole
// blocks), through CDigest and through the bare routines, twice on one object.
#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "digest/md5.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Oracle(const std::vector<unsigned char>& message, unsigned char out[16]) {
    unsigned int size = 0;
    Check(EVP_Digest(message.data(), message.size(), out, &size, EVP_md5(), nullptr) == 1 && size == 16);
}

// The message itself: bytes from the input, or a long run of one byte so that
// messages of many blocks cost few input bytes.
std::vector<unsigned char> Message(FuzzedDataProvider& data) {
    if (data.ConsumeBool()) return data.ConsumeBytes<unsigned char>(data.ConsumeIntegralInRange<std::size_t>(0, 4096));
    const std::size_t length = data.ConsumeIntegralInRange<std::size_t>(0, 1 << 16);
    return std::vector<unsigned char>(length, data.ConsumeIntegral<unsigned char>());
}

// Feeds the message in pieces of the input's choosing, the rest in one piece.
template <typename Feed>
void InPieces(FuzzedDataProvider& data, const std::vector<unsigned char>& message, Feed feed) {
    std::size_t offset = 0;
    while (offset < message.size() && data.remaining_bytes() > 0) {
        const std::size_t piece =
            std::min(message.size() - offset, data.ConsumeIntegralInRange<std::size_t>(0, 300));
        feed(message.data() + offset, piece);
        offset += piece;
    }
    feed(message.data() + offset, message.size() - offset);
}

bool Zeroed(const MD5_CTX& context) {
    static const MD5_CTX zero{};
    return std::memcmp(&context, &zero, sizeof context) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    CMD5 md5;
    for (int round = 0; round < 2; ++round) {
        const std::vector<unsigned char> message = Message(data);
        unsigned char expected[16];
        Oracle(message, expected);
        char expectedHex[33];
        CMD5::ToHex(expected, expectedHex);

        // Through the interface, as the pipelines drive it.
        CDigest& digest = md5;
        digest.Init();
        InPieces(data, message, [&](const unsigned char* p, std::size_t n) {
            digest.Update(p, static_cast<std::uint32_t>(n));
        });
        digest.Final();
        Check(std::memcmp(md5.Digest(), expected, 16) == 0);
        Check(Zeroed(md5));
        const char* hex = digest.HexDigest();
        Check(std::strcmp(hex, expectedHex) == 0);
        Check(digest.HexDigest() == hex);

        // The bare routines over a context of their own.
        MD5_CTX context;
        MD5Init(&context);
        InPieces(data, message, [&](const unsigned char* p, std::size_t n) {
            MD5Update(&context, p, static_cast<std::uint32_t>(n));
        });
        unsigned char out[16];
        MD5Final(out, &context);
        Check(std::memcmp(out, expected, 16) == 0);
        Check(Zeroed(context));
    }
    return 0;
}

// MD5 (RFC 1321): the reference routines over MD5_CTX, and CMD5, which drives
// them through CDigest and keeps the finished digest and its hex text.
//
// No allocation and no failure: any length is accepted. Objects share only
// read-only constants, so digests may run on any number of threads at once.
#pragma once

#include <cstdint>

#include "digest/digest.h"

struct MD5_CTX {
    std::uint32_t state[4];   // chaining words A, B, C, D
    std::uint32_t count[2];   // bits fed so far, modulo 2^64, low word first
    unsigned char buffer[64]; // input not yet transformed
};

void MD5Init(MD5_CTX* context);
void MD5Update(MD5_CTX* context, const unsigned char* input, std::uint32_t length);
void MD5Final(unsigned char digest[16], MD5_CTX* context);

class CMD5 : public MD5_CTX, public CDigest {
public:
    // Construction leaves the context unset: Init must run before Update.
    CMD5() {}

    void Init() override;
    void Update(const void* bytes, std::uint32_t length) override;
    void Final() override;
    const char* HexDigest() override;

    // Writes the 32 lowercase hex digits of a 16-byte digest and a NUL.
    static char* ToHex(const unsigned char digestBytes[16], char text[33]);

    const unsigned char* Digest() const { return digest; }

private:
    unsigned char digest[16];
    char hexText[33];
};

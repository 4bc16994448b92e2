#include "digest/md5.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little,
              "the block transform reads message words in the machine's byte order");

namespace {

const unsigned char kPadding[64] = {0x80};
const char kHexDigits[] = "0123456789abcdef";

// Each step is a = b + rotl(a + f(b, c, d) + x + t, s). Only b is fresh from
// the step before, so everything that does not need b is added to a first and
// the serial chain is one or two operations with b, the rotate and the add.
inline void StepF(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t xt, int s) {
    a += xt;
    a += d ^ (b & (c ^ d));
    a = std::rotl(a, s) + b;
}

inline void StepG(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t xt, int s) {
    // (b & d) | (c & ~d): the two halves never share a bit, so they may be added
    // separately, and c & ~d does not wait for b.
    a += xt;
    a += c & ~d;
    a += b & d;
    a = std::rotl(a, s) + b;
}

inline void StepH(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t xt, int s) {
    a += xt;
    a += b ^ (c ^ d);
    a = std::rotl(a, s) + b;
}

inline void StepI(std::uint32_t& a, std::uint32_t b, std::uint32_t c, std::uint32_t d,
                  std::uint32_t xt, int s) {
    a += xt;
    a += c ^ (b | ~d);
    a = std::rotl(a, s) + b;
}

// One block on chaining words that the caller keeps.
inline void TransformBlock(std::uint32_t& sa, std::uint32_t& sb, std::uint32_t& sc, std::uint32_t& sd,
                           const unsigned char block[64]) {
    std::uint32_t x[16];
    std::memcpy(x, block, 64);
    std::uint32_t a = sa, b = sb, c = sc, d = sd;

    StepF(a, b, c, d, x[0] + 0xd76aa478, 7);
    StepF(d, a, b, c, x[1] + 0xe8c7b756, 12);
    StepF(c, d, a, b, x[2] + 0x242070db, 17);
    StepF(b, c, d, a, x[3] + 0xc1bdceee, 22);
    StepF(a, b, c, d, x[4] + 0xf57c0faf, 7);
    StepF(d, a, b, c, x[5] + 0x4787c62a, 12);
    StepF(c, d, a, b, x[6] + 0xa8304613, 17);
    StepF(b, c, d, a, x[7] + 0xfd469501, 22);
    StepF(a, b, c, d, x[8] + 0x698098d8, 7);
    StepF(d, a, b, c, x[9] + 0x8b44f7af, 12);
    StepF(c, d, a, b, x[10] + 0xffff5bb1, 17);
    StepF(b, c, d, a, x[11] + 0x895cd7be, 22);
    StepF(a, b, c, d, x[12] + 0x6b901122, 7);
    StepF(d, a, b, c, x[13] + 0xfd987193, 12);
    StepF(c, d, a, b, x[14] + 0xa679438e, 17);
    StepF(b, c, d, a, x[15] + 0x49b40821, 22);

    StepG(a, b, c, d, x[1] + 0xf61e2562, 5);
    StepG(d, a, b, c, x[6] + 0xc040b340, 9);
    StepG(c, d, a, b, x[11] + 0x265e5a51, 14);
    StepG(b, c, d, a, x[0] + 0xe9b6c7aa, 20);
    StepG(a, b, c, d, x[5] + 0xd62f105d, 5);
    StepG(d, a, b, c, x[10] + 0x02441453, 9);
    StepG(c, d, a, b, x[15] + 0xd8a1e681, 14);
    StepG(b, c, d, a, x[4] + 0xe7d3fbc8, 20);
    StepG(a, b, c, d, x[9] + 0x21e1cde6, 5);
    StepG(d, a, b, c, x[14] + 0xc33707d6, 9);
    StepG(c, d, a, b, x[3] + 0xf4d50d87, 14);
    StepG(b, c, d, a, x[8] + 0x455a14ed, 20);
    StepG(a, b, c, d, x[13] + 0xa9e3e905, 5);
    StepG(d, a, b, c, x[2] + 0xfcefa3f8, 9);
    StepG(c, d, a, b, x[7] + 0x676f02d9, 14);
    StepG(b, c, d, a, x[12] + 0x8d2a4c8a, 20);

    StepH(a, b, c, d, x[5] + 0xfffa3942, 4);
    StepH(d, a, b, c, x[8] + 0x8771f681, 11);
    StepH(c, d, a, b, x[11] + 0x6d9d6122, 16);
    StepH(b, c, d, a, x[14] + 0xfde5380c, 23);
    StepH(a, b, c, d, x[1] + 0xa4beea44, 4);
    StepH(d, a, b, c, x[4] + 0x4bdecfa9, 11);
    StepH(c, d, a, b, x[7] + 0xf6bb4b60, 16);
    StepH(b, c, d, a, x[10] + 0xbebfbc70, 23);
    StepH(a, b, c, d, x[13] + 0x289b7ec6, 4);
    StepH(d, a, b, c, x[0] + 0xeaa127fa, 11);
    StepH(c, d, a, b, x[3] + 0xd4ef3085, 16);
    StepH(b, c, d, a, x[6] + 0x04881d05, 23);
    StepH(a, b, c, d, x[9] + 0xd9d4d039, 4);
    StepH(d, a, b, c, x[12] + 0xe6db99e5, 11);
    StepH(c, d, a, b, x[15] + 0x1fa27cf8, 16);
    StepH(b, c, d, a, x[2] + 0xc4ac5665, 23);

    StepI(a, b, c, d, x[0] + 0xf4292244, 6);
    StepI(d, a, b, c, x[7] + 0x432aff97, 10);
    StepI(c, d, a, b, x[14] + 0xab9423a7, 15);
    StepI(b, c, d, a, x[5] + 0xfc93a039, 21);
    StepI(a, b, c, d, x[12] + 0x655b59c3, 6);
    StepI(d, a, b, c, x[3] + 0x8f0ccc92, 10);
    StepI(c, d, a, b, x[10] + 0xffeff47d, 15);
    StepI(b, c, d, a, x[1] + 0x85845dd1, 21);
    StepI(a, b, c, d, x[8] + 0x6fa87e4f, 6);
    StepI(d, a, b, c, x[15] + 0xfe2ce6e0, 10);
    StepI(c, d, a, b, x[6] + 0xa3014314, 15);
    StepI(b, c, d, a, x[13] + 0x4e0811a1, 21);
    StepI(a, b, c, d, x[4] + 0xf7537e82, 6);
    StepI(d, a, b, c, x[11] + 0xbd3af235, 10);
    StepI(c, d, a, b, x[2] + 0x2ad7d2bb, 15);
    StepI(b, c, d, a, x[9] + 0xeb86d391, 21);

    sa += a;
    sb += b;
    sc += c;
    sd += d;
}

// Transforms `blocks` consecutive 64-byte blocks. The chaining words stay in
// registers from one block to the next: written back to the state only at the
// end, the next block does not wait on their store and reload.
void MD5Transform(std::uint32_t state[4], const unsigned char* block, std::size_t blocks) {
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks > 0; --blocks, block += 64) TransformBlock(a, b, c, d, block);
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

}  // namespace

void MD5Init(MD5_CTX* context) {
    context->count[0] = context->count[1] = 0;
    context->state[0] = 0x67452301;
    context->state[1] = 0xefcdab89;
    context->state[2] = 0x98badcfe;
    context->state[3] = 0x10325476;
}

void MD5Update(MD5_CTX* context, const unsigned char* input, std::uint32_t length) {
    std::uint32_t index = (context->count[0] >> 3) & 0x3F;
    const std::uint32_t bits = length << 3;
    context->count[0] += bits;
    if (context->count[0] < bits) context->count[1]++;
    context->count[1] += length >> 29;

    const std::uint32_t partLen = 64 - index;
    std::uint32_t i = 0;
    if (length >= partLen) {
        std::memcpy(&context->buffer[index], input, partLen);
        MD5Transform(context->state, context->buffer, 1);
        const std::uint32_t whole = (length - partLen) / 64;
        MD5Transform(context->state, &input[partLen], whole);
        i = partLen + whole * 64;
        index = 0;
    }
    if (length > i) std::memcpy(&context->buffer[index], &input[i], length - i);
}

void MD5Final(unsigned char digest[16], MD5_CTX* context) {
    unsigned char bits[8];
    std::memcpy(bits, context->count, 8);
    const std::uint32_t index = (context->count[0] >> 3) & 0x3F;
    const std::uint32_t padLen = index < 56 ? 56 - index : 120 - index;
    MD5Update(context, kPadding, padLen);
    MD5Update(context, bits, 8);
    std::memcpy(digest, context->state, 16);
    std::memset(static_cast<void*>(context), 0, sizeof(*context));
}

void CMD5::Init() { MD5Init(this); }

void CMD5::Update(const void* bytes, std::uint32_t length) {
    MD5Update(this, static_cast<const unsigned char*>(bytes), length);
}

void CMD5::Final() { MD5Final(digest, this); }

const char* CMD5::HexDigest() { return ToHex(digest, hexText); }

char* CMD5::ToHex(const unsigned char digestBytes[16], char text[33]) {
    for (int i = 0; i < 16; ++i) {
        text[2 * i] = kHexDigits[digestBytes[i] >> 4];
        text[2 * i + 1] = kHexDigits[digestBytes[i] & 0x0F];
    }
    text[32] = 0;
    return text;
}

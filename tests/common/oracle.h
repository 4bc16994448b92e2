// The independent MD5 the tests compare against: OpenSSL's, over raw bytes.
#pragma once

#include <openssl/evp.h>

#include <cstddef>
#include <string>
#include <string_view>

inline std::string OracleMd5Hex(const void* bytes, std::size_t length) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes, length, digest, &size, EVP_md5(), nullptr);
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

inline std::string OracleMd5Hex(std::string_view bytes) { return OracleMd5Hex(bytes.data(), bytes.size()); }

inline std::string OracleMd5Hex(std::u16string_view units) {
    return OracleMd5Hex(units.data(), units.size() * 2);
}

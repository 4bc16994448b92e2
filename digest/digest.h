// CDigest: the interface through which the hashing pipelines drive a message
// digest without knowing which one. Init, any number of Update, Final, then
// HexDigest as often as wanted.
#pragma once

#include <cstdint>

class CDigest {
public:
    virtual ~CDigest() = default;
    virtual void Init() = 0;
    virtual void Update(const void* bytes, std::uint32_t length) = 0;
    virtual void Final() = 0;
    virtual const char* HexDigest() = 0;
};

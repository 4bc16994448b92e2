// Code-page conversion for CP_UTF8 and CP_ACP (fixed to Windows-1252), with the
// contracts described in win32_compat.h.
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Windows-1252 bytes 0x80..0x9F; the five bytes the code page leaves undefined
// map to the C1 control of the same value, as Windows maps them.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char16_t Cp1252ToUnit(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kCp1252High[byte - 0x80];
    return byte;
}

char UnitToCp1252(char16_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == unit) return static_cast<char>(0x80 + i);
    return '?';
}

// Collects output units, counting all of them but writing only what fits.
template <typename Unit>
struct Sink {
    Unit* target;
    std::size_t capacity;
    std::size_t count = 0;
    void Put(Unit u) {
        if (target != nullptr && count < capacity) target[count] = u;
        ++count;
    }
};

// Decodes one UTF-8 sequence at `s` (with `n` bytes available). An invalid or
// truncated sequence yields U+FFFD and consumes its maximal valid prefix (at
// least one byte).
char32_t DecodeUtf8(const unsigned char* s, std::size_t n, std::size_t& used) {
    const unsigned char b0 = s[0];
    used = 1;
    if (b0 < 0x80) return b0;
    int need;
    char32_t cp;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) { need = 1; cp = b0 & 0x1F; }
    else if (b0 >= 0xE0 && b0 <= 0xEF) {
        need = 2; cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;  // no encoded surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        need = 3; cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return kReplacement;
    }
    for (int k = 1; k <= need; ++k) {
        if (static_cast<std::size_t>(k) >= n) return kReplacement;
        const unsigned char b = s[k];
        if (b < lo || b > hi) return kReplacement;
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        used = static_cast<std::size_t>(k) + 1;
    }
    return cp;
}

std::size_t SourceUnits(const char* s, int length) {
    if (length >= 0) return static_cast<std::size_t>(length);
    std::size_t n = 0;
    while (s[n] != 0) ++n;
    return n + 1;
}

std::size_t SourceUnits(const char16_t* s, int length) {
    if (length >= 0) return static_cast<std::size_t>(length);
    std::size_t n = 0;
    while (s[n] != 0) ++n;
    return n + 1;
}

template <typename Unit>
int Result(const Sink<Unit>& sink, int targetUnits) {
    if (sink.count > 0x7FFFFFFF) return 0;
    if (targetUnits != 0 && sink.count > static_cast<std::size_t>(targetUnits)) return 0;
    return static_cast<int>(sink.count);
}

}  // namespace

int MultiByteToWideChar(UINT codePage, DWORD, const char* source, int sourceLength,
                        char16_t* target, int targetUnits) {
    if (source == nullptr || targetUnits < 0 || (codePage != CP_ACP && codePage != CP_UTF8)) return 0;
    const auto* s = reinterpret_cast<const unsigned char*>(source);
    const std::size_t n = SourceUnits(source, sourceLength);
    Sink<char16_t> sink{targetUnits == 0 ? nullptr : target, static_cast<std::size_t>(targetUnits)};
    for (std::size_t i = 0; i < n;) {
        if (codePage == CP_ACP) {
            sink.Put(Cp1252ToUnit(s[i++]));
            continue;
        }
        std::size_t used = 1;
        const char32_t cp = DecodeUtf8(s + i, n - i, used);
        i += used;
        if (cp >= 0x10000) {
            sink.Put(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            sink.Put(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            sink.Put(static_cast<char16_t>(cp));
        }
    }
    return Result(sink, targetUnits);
}

int WideCharToMultiByte(UINT codePage, DWORD, const char16_t* source, int sourceLength, char* target,
                        int targetBytes, const char*, BOOL* usedDefault) {
    if (source == nullptr || targetBytes < 0 || (codePage != CP_ACP && codePage != CP_UTF8)) return 0;
    if (usedDefault != nullptr) *usedDefault = 0;
    const std::size_t n = SourceUnits(source, sourceLength);
    Sink<char> sink{targetBytes == 0 ? nullptr : target, static_cast<std::size_t>(targetBytes)};
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t u = source[i];
        if (codePage == CP_ACP) {
            sink.Put(UnitToCp1252(u));
            continue;
        }
        char32_t cp = u;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && source[i + 1] >= 0xDC00 && source[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((char32_t{u} - 0xD800) << 10) + (source[i + 1] - 0xDC00);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            cp = kReplacement;
        }
        if (cp < 0x80) {
            sink.Put(static_cast<char>(cp));
        } else if (cp < 0x800) {
            sink.Put(static_cast<char>(0xC0 | (cp >> 6)));
            sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            sink.Put(static_cast<char>(0xE0 | (cp >> 12)));
            sink.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            sink.Put(static_cast<char>(0xF0 | (cp >> 18)));
            sink.Put(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            sink.Put(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            sink.Put(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return Result(sink, targetBytes);
}

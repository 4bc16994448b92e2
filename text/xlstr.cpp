#include "text/xlstr.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "platform/platform.h"
#include "text/alloc.h"

namespace {

std::size_t WideLength(const char16_t* text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// Every ANSI code page Windows can run under, and UTF-8, encodes the 128 ASCII
// characters as the same single bytes, so a text of ASCII characters only
// (every hex digest, and many arguments and paths) converts unit by unit: the
// result is the system's, without asking the system twice.
bool AsciiCompatible(std::uint32_t codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

// The length of a text when all its units are ASCII; otherwise SIZE_MAX.
// Measured first, then tested in a loop without an early exit, which the
// compiler turns into vector code.
template <typename Unit>
std::size_t AsciiLength(const Unit* text) {
    std::size_t n = 0;
    if constexpr (sizeof(Unit) == 1)
        n = std::strlen(text);
    else
        n = WideLength(text);
    unsigned high = 0;
    for (std::size_t i = 0; i < n; ++i) high |= static_cast<std::make_unsigned_t<Unit>>(text[i]);
    return high < 0x80 ? n : SIZE_MAX;
}

template <typename To, typename From>
To* CopyAscii(const From* text, std::size_t length) {
    auto* copy = static_cast<To*>(AllocateBlock(BlockSize(length + 1, sizeof(To))));
    for (std::size_t i = 0; i <= length; ++i) copy[i] = static_cast<To>(text[i]);
    return copy;
}

// A new terminated buffer holding `text` converted under `codePage`.
// `convert(target, capacity)` is the system's conversion of the whole text with
// its terminator (a null target asks for the size). A refused conversion
// leaves an empty text rather than an unterminated one.
template <typename To, typename From, typename System>
To* Converted(const From* text, std::uint32_t codePage, System convert) {
    if (AsciiCompatible(codePage)) {
        if (const std::size_t length = AsciiLength(text); length != SIZE_MAX) return CopyAscii<To>(text, length);
    }
    int units = convert(nullptr, 0);
    if (units <= 0) units = 1;
    auto* converted = static_cast<To*>(AllocateBlock(BlockSize(static_cast<std::size_t>(units), sizeof(To))));
    if (convert(converted, units) <= 0) converted[0] = 0;
    converted[units - 1] = 0;
    return converted;
}

}  // namespace

xlstr::xlstr(const xlstr& other) { *this = other; }

xlstr::~xlstr() { Release(); }

void xlstr::Release() {
    FreeBlock(buffer);
    buffer = nullptr;
    codePage = 0;
}

// Allocates count units plus a zero unit, copies the units and terminates them.
void xlstr::Store(const void* units, std::size_t count, std::size_t unitSize, Form newForm) {
    void* block = AllocateBlock(BlockSize(count + 1, unitSize));
    std::memcpy(block, units, count * unitSize);
    std::memset(static_cast<char*>(block) + count * unitSize, 0, unitSize);
    buffer = block;
    form = newForm;
}

xlstr& xlstr::operator=(const xlstr& other) {
    if (this == &other) return *this;
    Release();
    if (other.buffer == nullptr) return *this;
    std::size_t bytes = 0;
    switch (other.form) {
    case Narrow: bytes = std::strlen(static_cast<const char*>(other.buffer)) + 1; break;
    case Wide: bytes = BlockSize(WideLength(static_cast<const char16_t*>(other.buffer)) + 1, 2); break;
    case NarrowCounted: bytes = std::size_t{*static_cast<const unsigned char*>(other.buffer)} + 1; break;
    case WideCounted: bytes = (std::size_t{*static_cast<const char16_t*>(other.buffer)} + 1) * 2; break;
    }
    void* block = AllocateBlock(bytes);
    std::memcpy(block, other.buffer, bytes);
    buffer = block;
    form = other.form;
    return *this;
}

void xlstr::Assign(const char* text) {
    Release();
    if (text != nullptr) Store(text, std::strlen(text), 1, Narrow);
}

void xlstr::AssignW(const char16_t* text) {
    Release();
    if (text != nullptr) Store(text, WideLength(text), 2, Wide);
}

void xlstr::AssignCounted(const char* counted) {
    Release();
    if (counted != nullptr) Store(counted + 1, static_cast<unsigned char>(counted[0]), 1, Narrow);
}

void xlstr::AssignCountedW(const char16_t* counted) {
    Release();
    if (counted != nullptr) Store(counted + 1, counted[0], 2, Wide);
}

void xlstr::SetCodePage(std::uint32_t cp) {
    if (cp == codePage) return;
    ToWide();
    codePage = cp;
}

void xlstr::UncountNarrow() {
    auto* text = static_cast<char*>(buffer);
    const std::size_t n = static_cast<unsigned char>(text[0]);
    std::memmove(text, text + 1, n);
    text[n] = 0;
    form = Narrow;
}

void xlstr::UncountWide() {
    auto* text = static_cast<char16_t*>(buffer);
    const std::size_t n = text[0];
    std::memmove(text, text + 1, n * 2);
    text[n] = 0;
    form = Wide;
}

const char* xlstr::ToNarrow() {
    if (buffer == nullptr) return nullptr;
    if (form == Narrow || form == NarrowCounted) return static_cast<const char*>(buffer);
    if (form == WideCounted) UncountWide();
    const auto* wide = static_cast<const char16_t*>(buffer);
    char* narrow = Converted<char>(wide, codePage, [&](char* target, int bytes) {
        return WideCharToMultiByte(codePage, 0, wide, -1, target, bytes, nullptr, nullptr);
    });
    FreeBlock(buffer);
    buffer = narrow;
    form = Narrow;
    return narrow;
}

const char16_t* xlstr::ToWide() {
    if (buffer == nullptr) return nullptr;
    if (form == Wide || form == WideCounted) return static_cast<const char16_t*>(buffer);
    if (form == NarrowCounted) UncountNarrow();
    const auto* narrow = static_cast<const char*>(buffer);
    char16_t* wide = Converted<char16_t>(narrow, codePage, [&](char16_t* target, int units) {
        return MultiByteToWideChar(codePage, 0, narrow, -1, target, units);
    });
    FreeBlock(buffer);
    buffer = wide;
    form = Wide;
    return wide;
}

const char* xlstr::NarrowText() {
    ToNarrow();
    if (buffer != nullptr && form == NarrowCounted) UncountNarrow();
    return static_cast<const char*>(buffer);
}

const char16_t* xlstr::WideText() {
    ToWide();
    if (buffer != nullptr && form == WideCounted) UncountWide();
    return static_cast<const char16_t*>(buffer);
}

char* xlstr::DetachCounted() {
    SetCodePage(0);
    ToNarrow();
    if (buffer == nullptr) return nullptr;
    if (form != NarrowCounted) {
        auto* text = static_cast<char*>(buffer);
        const std::size_t length = std::strlen(text);
        std::memmove(text + 1, text, length);
        text[0] = static_cast<char>(std::min<std::size_t>(length, maxCountedNarrow));
        form = NarrowCounted;
    }
    return static_cast<char*>(Detach());
}

char16_t* xlstr::CountedW() {
    SetCodePage(0);
    ToWide();
    if (buffer == nullptr) return nullptr;
    if (form != WideCounted) {
        auto* text = static_cast<char16_t*>(buffer);
        const std::size_t length = WideLength(text);
        std::memmove(text + 1, text, length * 2);
        text[0] = static_cast<char16_t>(std::min<std::size_t>(length, maxCountedWide));
        form = WideCounted;
    }
    return static_cast<char16_t*>(buffer);
}

void* xlstr::Detach() {
    void* block = buffer;
    buffer = nullptr;
    return block;
}

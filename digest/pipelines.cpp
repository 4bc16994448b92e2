#include "digest/pipelines.h"

#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"

static_assert(std::endian::native == std::endian::little,
              "UTF-16 units are fed as they lie in memory, low byte first");

namespace {

constexpr std::uint32_t kUtf8 = CP_UTF8;

std::size_t WideLength(const char16_t* text) {
    std::size_t n = 0;
    while (text[n] != 0) ++n;
    return n;
}

// Steps 4 to 6 of every pipeline: finish, and replace the text with the hex.
void Finish(xlstr& text, CDigest& digest) {
    digest.Final();
    text.Assign(digest.HexDigest());
}

void HashNarrow(xlstr& text, CDigest& digest, std::uint32_t codePage) {
    digest.Init();
    text.SetCodePage(codePage);
    if (const char* narrow = text.NarrowText())
        digest.Update(narrow, static_cast<std::uint32_t>(std::strlen(narrow)));
    Finish(text, digest);
}

}  // namespace

void HashMultiByte(xlstr& text, CDigest& digest) { HashNarrow(text, digest, CP_ACP); }

void HashUtf8(xlstr& text, CDigest& digest) { HashNarrow(text, digest, kUtf8); }

void HashWideChar(xlstr& text, CDigest& digest) {
    digest.Init();
    text.SetCodePage(CP_ACP);
    if (const char16_t* wide = text.WideText())
        digest.Update(wide, static_cast<std::uint32_t>(WideLength(wide) * 2));
    Finish(text, digest);
}

bool HashFile(xlstr& path, CDigest& digest) {
    bool read = false;
    digest.Init();
    path.SetCodePage(CP_ACP);
    if (const char16_t* wide = path.WideText()) read = DigestStream(_wfsopen(wide, u"rb", _SH_DENYNO), digest);
    Finish(path, digest);
    return read;
}

bool DigestStream(std::FILE* stream, CDigest& digest) {
    if (stream == nullptr) return false;
    // The runtime's own stream buffer is a few KiB, so each system read brings
    // in only two or so chunks. A 64 KiB buffer of this call's own (never
    // shared: calls run on several threads at once) makes a sixteenth of the
    // reads. Without the memory the stream keeps its own buffer; the heap
    // rather than the stack, since the host's calculation threads have little.
    constexpr std::size_t kStreamBuffer = 64 * 1024;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[kStreamBuffer]);
    if (buffer != nullptr) std::setvbuf(stream, buffer.get(), _IOFBF, kStreamBuffer);
    unsigned char chunk[2048];
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, stream);
        if (got == 0) break;
        digest.Update(chunk, static_cast<std::uint32_t>(got));
    }
    // Closed before the buffer it reads into is released.
    std::fclose(stream);
    return true;
}

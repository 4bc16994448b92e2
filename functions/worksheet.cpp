#include "functions/worksheet.h"

#include <utility>

#include "digest/md5.h"
#include "digest/pipelines.h"
#include "text/xlstr.h"
#include "xlapi/boundary.h"
#include "xlapi/xloperm.h"

namespace {

// The two API generations: the argument's character type, the holder width,
// and how the result leaves for the host.
template <typename Char>
struct Generation;

template <>
struct Generation<char> {
    static constexpr std::int32_t width = 0;
    static void Take(xlstr& text, const char* argument) { text.Assign(argument); }
    static LPXLOPER Return(xloperm& result) { return result.ReturnHeld(); }
    static LPXLOPER Fallback() { return StaticValueError(); }
};

template <>
struct Generation<XCHAR> {
    static constexpr std::int32_t width = 1;
    static void Take(xlstr& text, const XCHAR* argument) { text.AssignW(argument); }
    static LPXLOPER12 Return(xloperm& result) { return result.ReturnHeld12(); }
    static LPXLOPER12 Fallback() { return StaticValueError12(); }
};

// Every procedure: the argument into a text holder, the pipeline with a digest
// of the call's own, the hex text (or #N/A when the pipeline reports failure)
// into a holder of the procedure's own width, and that record, marked, for the
// host. The text holder and the result holder are not needed afterwards, so
// the hex buffer moves into the string and the record itself goes to the host:
// no copy of either is made only to be released at once.
// Nothing here touches shared state or calls the host, so the procedures may
// run on any number of calculation threads at once.
template <typename Char, typename Hash>
auto Procedure(const Char* argument, Hash hash) noexcept {
    using G = Generation<Char>;
    try {
        CMD5 digest;
        xlstr text;
        G::Take(text, argument);
        const bool hashed = hash(text, digest);
        xloperm result(G::width);
        if (hashed)
            result.SetStr(std::move(text));
        else
            result.SetErr(xlerrNA);
        return G::Return(result);
    } catch (...) {
        return G::Fallback();
    }
}

template <void (*Pipeline)(xlstr&, CDigest&)>
bool Text(xlstr& text, CDigest& digest) {
    Pipeline(text, digest);
    return true;
}

}  // namespace

extern "C" {

LPXLOPER __cdecl md5_from_mb_string4(const char* text) { return Procedure(text, Text<HashMultiByte>); }
LPXLOPER12 __cdecl md5_from_mb_string12(const XCHAR* text) { return Procedure(text, Text<HashMultiByte>); }
LPXLOPER __cdecl md5_from_wc_string4(const char* text) { return Procedure(text, Text<HashWideChar>); }
LPXLOPER12 __cdecl md5_from_wc_string12(const XCHAR* text) { return Procedure(text, Text<HashWideChar>); }
LPXLOPER __cdecl md5_from_utf8_string4(const char* text) { return Procedure(text, Text<HashUtf8>); }
LPXLOPER12 __cdecl md5_from_utf8_string12(const XCHAR* text) { return Procedure(text, Text<HashUtf8>); }
LPXLOPER __cdecl md5_from_file4(const char* path) { return Procedure(path, HashFile); }
LPXLOPER12 __cdecl md5_from_file12(const XCHAR* path) { return Procedure(path, HashFile); }

}

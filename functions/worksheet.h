// The eight exported worksheet procedures: one per function and API
// generation. The suffix-4 ones take a NUL-terminated ANSI text and return an
// XLOPER; the suffix-12 ones take a NUL-terminated UTF-16 text and return an
// XLOPER12 and are registered as thread-safe. Each returns a heap record
// marked xlbitDLLFree (the digest, or #N/A for a file that cannot be opened),
// or the static #VALUE! record when memory runs out.
#pragma once

#include "xlapi/xltypes.h"

extern "C" {
LPXLOPER __cdecl md5_from_mb_string4(const char* text);
LPXLOPER12 __cdecl md5_from_mb_string12(const XCHAR* text);
LPXLOPER __cdecl md5_from_wc_string4(const char* text);
LPXLOPER12 __cdecl md5_from_wc_string12(const XCHAR* text);
LPXLOPER __cdecl md5_from_utf8_string4(const char* text);
LPXLOPER12 __cdecl md5_from_utf8_string12(const XCHAR* text);
LPXLOPER __cdecl md5_from_file4(const char* path);
LPXLOPER12 __cdecl md5_from_file12(const XCHAR* path);
}

// What an exported entry point answers when it cannot build its result.
//
// An entry point is the boundary with the host: no exception may cross it. A
// procedure that meets an allocation failure returns one of these records
// instead: static, read-only, #VALUE!, and not marked xlbitDLLFree, so the
// host never hands it back to xlAutoFree/xlAutoFree12.
#pragma once

#include "xlapi/xltypes.h"

inline constexpr XLOPER kValueError{{.err = xlerrValue}, xltypeErr};
inline constexpr XLOPER12 kValueError12{{.err = xlerrValue}, xltypeErr};

// The host's API takes non-const records; it only reads a returned one.
inline LPXLOPER StaticValueError() { return const_cast<LPXLOPER>(&kValueError); }
inline LPXLOPER12 StaticValueError12() { return const_cast<LPXLOPER12>(&kValueError12); }

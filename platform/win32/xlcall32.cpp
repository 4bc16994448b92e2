// Excel4 and Excel4v of the host library XLCall32.dll, bound by hand on their
// first call rather than at load: the add-in must load (and fail softly) in a
// process without the library, and a delay-load helper would raise a
// structured exception there instead of returning an error.
#include <cstdarg>

#include "xlapi/callbacks.h"

namespace {

constexpr int kMaxExcel4Args = 30;

using Excel4Proc = int(__cdecl*)(int, LPXLOPER, int, ...);
using Excel4vProc = int(__stdcall*)(int, LPXLOPER, int, LPXLOPER[]);

Excel4Proc boundExcel4 = nullptr;
Excel4vProc boundExcel4v = nullptr;

bool BindXLCall32() {
    if (boundExcel4 != nullptr && boundExcel4v != nullptr) return true;
    HMODULE library = GetModuleHandleW(L"XLCall32.dll");
    if (library == nullptr) library = LoadLibraryW(L"XLCall32.dll");
    if (library == nullptr) return false;
#if defined(_WIN64)
    FARPROC excel4 = GetProcAddress(library, "Excel4");
    FARPROC excel4v = GetProcAddress(library, "Excel4v");
#else
    FARPROC excel4 = GetProcAddress(library, MAKEINTRESOURCEA(2));
    FARPROC excel4v = GetProcAddress(library, MAKEINTRESOURCEA(3));
#endif
    if (excel4 == nullptr || excel4v == nullptr) return false;
    boundExcel4 = reinterpret_cast<Excel4Proc>(reinterpret_cast<void*>(excel4));
    boundExcel4v = reinterpret_cast<Excel4vProc>(reinterpret_cast<void*>(excel4v));
    return true;
}

}  // namespace

extern "C" int __cdecl Excel4(int xlfn, LPXLOPER operRes, int count, ...) {
    if (!BindXLCall32()) return xlretFailed;
    if (static_cast<unsigned>(count) > kMaxExcel4Args) return xlretInvCount;
    LPXLOPER a[kMaxExcel4Args] = {};
    va_list args;
    va_start(args, count);
    for (int i = 0; i < count; ++i) a[i] = va_arg(args, LPXLOPER);
    va_end(args);
    // The callee is variadic and its caller clears the stack, so passing every
    // slot is safe: it reads only the first `count` of them.
    return boundExcel4(xlfn, operRes, count, a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8],
                       a[9], a[10], a[11], a[12], a[13], a[14], a[15], a[16], a[17], a[18], a[19],
                       a[20], a[21], a[22], a[23], a[24], a[25], a[26], a[27], a[28], a[29]);
}

extern "C" int __stdcall Excel4v(int xlfn, LPXLOPER operRes, int count, LPXLOPER opers[]) {
    if (!BindXLCall32()) return xlretFailed;
    return boundExcel4v(xlfn, operRes, count, opers);
}

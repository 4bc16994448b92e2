// XLCall32.dll of the test host: the library through which an add-in reaches
// the XLOPER callbacks Excel4 and Excel4v. It holds no logic of its own; it
// forwards every call to the host process, which exports XllHostExcel4v.
// Without that export (loaded into some other process) every call fails.
#include <cstdarg>

#include "xlapi/xltypes.h"

namespace {

using HostExcel4v = int(__cdecl*)(int xlfn, LPXLOPER result, int count, LPXLOPER* opers);

constexpr int kMaxArgs = 30;  // what the XLOPER generation of the API carries

HostExcel4v Host() {
    // Looked up on each call: cheap next to what the host does with it, and
    // there is no moment at which caching it would be safer.
    FARPROC p = GetProcAddress(GetModuleHandleW(nullptr), "XllHostExcel4v");
    return reinterpret_cast<HostExcel4v>(reinterpret_cast<void*>(p));
}

}  // namespace

extern "C" int __stdcall Excel4v(int xlfn, LPXLOPER result, int count, LPXLOPER* opers) {
    HostExcel4v host = Host();
    return host ? host(xlfn, result, count, opers) : xlretFailed;
}

extern "C" int __cdecl Excel4(int xlfn, LPXLOPER result, int count, ...) {
    if (count < 0 || count > kMaxArgs) return xlretInvCount;
    LPXLOPER opers[kMaxArgs];
    va_list args;
    va_start(args, count);
    for (int i = 0; i < count; ++i) opers[i] = va_arg(args, LPXLOPER);
    va_end(args);
    return Excel4v(xlfn, result, count, opers);
}

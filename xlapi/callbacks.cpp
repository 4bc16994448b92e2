#include "xlapi/callbacks.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kMaxExcel12Args = 255;

EXCEL12PROC storedEntryPt = nullptr;

void LookUpInHostProcess() {
    if (HMODULE host = GetModuleHandleW(nullptr))
        storedEntryPt = reinterpret_cast<EXCEL12PROC>(
            reinterpret_cast<void*>(GetProcAddress(host, "MdCallBack12")));
}

}  // namespace

// Reads the host's version text. The answer is read only when the call
// succeeded with a string; anything else gives -1. A successful answer goes
// back to the host whatever its type.
int QueryHostVersion() {
    XLOPER which{};
    which.xltype = xltypeInt;
    which.val.w = 2;
    XLOPER answer{};
    answer.xltype = xltypeNil;
    if (Excel4(xlfGetWorkspace, &answer, 1, &which) != xlretSuccess) return -1;
    int version = -1;
    if ((answer.xltype & xltypeMask) == xltypeStr && answer.val.str != nullptr) {
        // At most 255 characters: a stack copy needs no allocation that could fail.
        char text[256];
        const std::size_t n = static_cast<unsigned char>(answer.val.str[0]);
        std::memcpy(text, answer.val.str + 1, n);
        text[n] = 0;
        version = static_cast<int>(std::atol(text));
    }
    Excel4(xlFree, nullptr, 1, &answer);
    return version;
}

EXCEL12PROC LocateExcel12EntryPt() {
    if (storedEntryPt == nullptr) LookUpInHostProcess();
    return storedEntryPt;
}

extern "C" void __stdcall SetExcel12EntryPt(EXCEL12PROC entryPoint) {
    if (storedEntryPt != nullptr) return;
    LookUpInHostProcess();
    if (storedEntryPt == nullptr) storedEntryPt = entryPoint;
}

int __cdecl Excel12(int xlfn, LPXLOPER12 operRes, int count, ...) {
    EXCEL12PROC entry = LocateExcel12EntryPt();
    if (entry == nullptr) return xlretFailed;
    if (static_cast<unsigned>(count) > kMaxExcel12Args) return xlretInvCount;
    LPXLOPER12 opers[kMaxExcel12Args];
    va_list args;
    va_start(args, count);
    for (int i = 0; i < count; ++i) opers[i] = va_arg(args, LPXLOPER12);
    va_end(args);
    return entry(xlfn, count, opers, operRes);
}

int __stdcall Excel12v(int xlfn, LPXLOPER12 operRes, int count, LPXLOPER12 opers[]) {
    EXCEL12PROC entry = LocateExcel12EntryPt();
    if (entry == nullptr) return xlretFailed;
    return entry(xlfn, count, opers, operRes);
}

int HostVersion() {
    static bool filled = false;
    static int version = -1;
    if (!filled) {
        filled = true;
        version = QueryHostVersion();
    }
    return version;
}

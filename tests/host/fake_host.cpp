#include "tests/host/fake_host.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <set>

#include "tests/host/alloc_hook.h"
#include "xlapi/callbacks.h"

namespace fakehost {
namespace {

Host host;
std::set<const void*> handedOut;

void DecodeString(Arg& arg, const char* str) {
    arg.narrow.assign(str + 1, static_cast<unsigned char>(str[0]));
}
void DecodeString(Arg& arg, const XCHAR* str) { arg.wide.assign(str + 1, str[0]); }

template <typename Oper>
Arg Decode(const Oper* oper) {
    Arg arg;
    if (oper == nullptr) {
        arg.null = true;
        return arg;
    }
    arg.type = oper->xltype;
    switch (oper->xltype & xltypeMask) {
    case xltypeStr:
        if (oper->val.str == nullptr) arg.nullString = true;
        else DecodeString(arg, oper->val.str);
        break;
    case xltypeInt: arg.integer = oper->val.w; break;
    case xltypeErr: arg.integer = oper->val.err; break;
    case xltypeBool: arg.integer = oper->val.xbool; break;
    case xltypeNum: arg.number = oper->val.num; break;
    default: break;
    }
    return arg;
}

void HandOutString(XLOPER* result, const std::string& text) {
    auto* block = static_cast<char*>(std::malloc(text.size() + 1));
    block[0] = static_cast<char>(text.size());
    std::memcpy(block + 1, text.data(), text.size());
    handedOut.insert(block);
    ++host.allocations;
    result->val.str = block;
    result->xltype = xltypeStr | xlbitXLFree;
}

void HandOutString(XLOPER12* result, const std::u16string& text) {
    auto* block = static_cast<XCHAR*>(std::malloc((text.size() + 1) * 2));
    block[0] = static_cast<XCHAR>(text.size());
    std::memcpy(block + 1, text.data(), text.size() * 2);
    handedOut.insert(block);
    ++host.allocations;
    result->val.str = block;
    result->xltype = xltypeStr | xlbitXLFree;
}

// The host delivers narrow texts in the system's ANSI code page.
std::string Narrow(const std::u16string& text) {
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes > 0 ? bytes : 1), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), bytes, nullptr, nullptr);
    out.pop_back();
    return out;
}

void SetInt(XLOPER* result, int n) {
    result->xltype = xltypeInt;
    result->val.w = static_cast<std::int16_t>(n);
}
void SetInt(XLOPER12* result, int n) {
    result->xltype = xltypeInt;
    result->val.w = n;
}
void SetNum(XLOPER* result, double n) {
    result->xltype = xltypeNum;
    result->val.num = n;
}
void SetNum(XLOPER12* result, double n) {
    result->xltype = xltypeNum;
    result->val.num = n;
}
std::string DigitsOf(const Arg& arg) { return !arg.narrow.empty() ? arg.narrow : Narrow(arg.wide); }
void HandOutText(XLOPER* result, const std::u16string& text) { HandOutString(result, Narrow(text)); }
void HandOutText(XLOPER12* result, const std::u16string& text) { HandOutString(result, text); }

template <typename Oper>
int Dispatch(int generation, int xlfn, int count, Oper** opers, Oper* result) {
    // The host's own bookkeeping is not the add-in's allocation.
    allochook::Paused notTheAddIns;
    Call call{generation, xlfn, count, result == nullptr, {}};
    for (int i = 0; i < count; ++i) call.args.push_back(Decode(opers[i]));
    int nth = 0;
    for (const auto& earlier : host.calls) nth += earlier.xlfn == xlfn;
    host.calls.push_back(call);

    switch (xlfn) {
    case xlFree:
        for (int i = 0; i < count; ++i) {
            // Like Excel, xlFree accepts any record; only its own strings own memory.
            Oper* oper = opers[i];
            if (oper == nullptr || !(oper->xltype & xlbitXLFree) || (oper->xltype & xltypeMask) != xltypeStr)
                continue;
            if (handedOut.erase(oper->val.str) == 0) {
                ++host.badFrees;
                continue;
            }
            std::free(oper->val.str);
            ++host.freed;
        }
        return xlretSuccess;
    case xlfGetWorkspace:
        if (host.versionAnswer == VersionAnswer::CallFails) return xlretFailed;
        if (result == nullptr) return xlretFailed;
        if (host.versionAnswer == VersionAnswer::NotAString) SetNum(result, 16);
        else HandOutText(result, std::u16string(host.versionText.begin(), host.versionText.end()));
        return host.resultCode(xlfn, nth);
    case xlGetName:
        if (host.getNameFails || result == nullptr) return xlretFailed;
        HandOutText(result, host.moduleName);
        return host.resultCode(xlfn, nth);
    case xlCoerce: {
        if (host.coerceFails || count < 1 || result == nullptr) return xlretFailed;
        const Arg& from = call.args[0];
        switch (from.type & xltypeMask) {
        case xltypeInt:
        case xltypeBool: SetInt(result, from.integer); break;
        case xltypeNum: SetInt(result, static_cast<int>(from.number)); break;
        case xltypeStr: {
            const std::string digits = DigitsOf(from);
            char* end = nullptr;
            const long n = std::strtol(digits.c_str(), &end, 10);
            if (digits.empty() || *end != 0) return xlretFailed;
            SetInt(result, static_cast<int>(n));
            break;
        }
        default: return xlretFailed;
        }
        return host.resultCode(xlfn, nth);
    }
    case xlfRegister: {
        const int code = host.resultCode(xlfn, nth);
        if (code == xlretSuccess && result != nullptr) SetNum(result, 1000 + nth);
        return code;
    }
    default:
        return host.resultCode(xlfn, nth);
    }
}

}  // namespace

std::vector<Call> Host::CallsOf(int xlfn) const {
    std::vector<Call> found;
    for (const auto& call : calls)
        if (call.xlfn == xlfn) found.push_back(call);
    return found;
}

Host& TheHost() { return host; }

void ResetHost() {
    for (const void* block : handedOut) std::free(const_cast<void*>(block));
    handedOut.clear();
    host = Host{};
}

int __stdcall HostCallback12(int xlfn, int count, LPXLOPER12* opers, LPXLOPER12 operRes) {
    return Dispatch(12, xlfn, count, opers, operRes);
}

}  // namespace fakehost

extern "C" int __stdcall Excel4v(int xlfn, LPXLOPER operRes, int count, LPXLOPER opers[]) {
    return fakehost::Dispatch(4, xlfn, count, opers, operRes);
}

extern "C" int __cdecl Excel4(int xlfn, LPXLOPER operRes, int count, ...) {
    if (static_cast<unsigned>(count) > 30) return xlretInvCount;
    LPXLOPER opers[30];
    va_list args;
    va_start(args, count);
    for (int i = 0; i < count; ++i) opers[i] = va_arg(args, LPXLOPER);
    va_end(args);
    return Excel4v(xlfn, operRes, count, opers);
}

#ifndef FAKE_HOST_WITHOUT_CALLBACK12
extern "C" __attribute__((visibility("default"))) int MdCallBack12(int xlfn, int count, LPXLOPER12* opers,
                                                                    LPXLOPER12 operRes) {
    return fakehost::HostCallback12(xlfn, count, opers, operRes);
}
#endif

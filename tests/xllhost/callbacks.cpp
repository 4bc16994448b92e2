// The host's side of the C API callbacks, written once for both record
// generations: what Excel answers to the functions an add-in calls while it
// opens, describes itself and closes.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "tests/xllhost/host.h"
#include "tests/xllhost/json.h"

namespace xllhost {

namespace {

// What differs between XLOPER and XLOPER12, so the dispatcher is written once.
template <class X> struct Gen;

template <> struct Gen<XLOPER> {
    static constexpr int number = 4;
    static constexpr int maxArgs = 30;
    static void SetType(XLOPER* x, std::uint32_t t) { x->xltype = static_cast<std::uint16_t>(t); }
    static long IntOf(const XLOPER* x) { return x->val.w; }
    static void SetInt(XLOPER* x, long v) {
        x->val.w = static_cast<std::int16_t>(v);
        SetType(x, xltypeInt);
    }
    static bool IntFits(long v) {
        return v >= std::numeric_limits<std::int16_t>::min() &&
               v <= std::numeric_limits<std::int16_t>::max();
    }
    static void SetErr(XLOPER* x, int e) {
        x->val.err = static_cast<std::uint16_t>(e);
        SetType(x, xltypeErr);
    }
    static void SetBool(XLOPER* x, bool b) {
        x->val.xbool = b ? 1 : 0;
        SetType(x, xltypeBool);
    }
    static const void* Block(const XLOPER* x) { return x->val.str; }
    // A byte-counted string in the ANSI code page; false when it would not fit.
    static bool SetHostString(XLOPER* x, const std::u16string& text) {
        std::string bytes = ToAnsi(text);
        if (bytes.size() > 255) return false;
        auto* block = new char[bytes.size() + 1];
        block[0] = static_cast<char>(bytes.size());
        std::memcpy(block + 1, bytes.data(), bytes.size());
        x->val.str = block;
        SetType(x, xltypeStr | xlbitXLFree);
        return true;
    }
    static void FreeBlock(const void* block) { delete[] static_cast<const char*>(block); }
};

template <> struct Gen<XLOPER12> {
    static constexpr int number = 12;
    static constexpr int maxArgs = 255;
    static void SetType(XLOPER12* x, std::uint32_t t) { x->xltype = t; }
    static long IntOf(const XLOPER12* x) { return x->val.w; }
    static void SetInt(XLOPER12* x, long v) {
        x->val.w = static_cast<std::int32_t>(v);
        SetType(x, xltypeInt);
    }
    static bool IntFits(long v) {
        return v >= std::numeric_limits<std::int32_t>::min() &&
               v <= std::numeric_limits<std::int32_t>::max();
    }
    static void SetErr(XLOPER12* x, int e) {
        x->val.err = e;
        SetType(x, xltypeErr);
    }
    static void SetBool(XLOPER12* x, bool b) {
        x->val.xbool = b ? 1 : 0;
        SetType(x, xltypeBool);
    }
    static const void* Block(const XLOPER12* x) { return x->val.str; }
    static bool SetHostString(XLOPER12* x, const std::u16string& text) {
        if (text.size() > 32767) return false;
        auto* block = new XCHAR[text.size() + 1];
        block[0] = static_cast<XCHAR>(text.size());
        std::memcpy(block + 1, text.data(), text.size() * sizeof(XCHAR));
        x->val.str = block;
        SetType(x, xltypeStr | xlbitXLFree);
        return true;
    }
    static void FreeBlock(const void* block) { delete[] static_cast<const XCHAR*>(block); }
};

const char* FunctionName(int xlfn) {
    switch (xlfn) {
        case xlFree: return "xlFree";
        case xlCoerce: return "xlCoerce";
        case xlGetName: return "xlGetName";
        case xlfSetName: return "xlfSetName";
        case xlfRegister: return "xlfRegister";
        case xlfGetWorkspace: return "xlfGetWorkspace";
        default: return "unknown";
    }
}

std::string Upper(const std::u16string& text) {
    std::string out;
    for (char16_t u : text) {
        char c = u < 0x80 ? static_cast<char>(u) : '?';
        out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

bool SameText(const std::u16string& a, const std::u16string& b) {
    return CompareStringOrdinal(reinterpret_cast<LPCWCH>(a.c_str()), static_cast<int>(a.size()),
                                reinterpret_cast<LPCWCH>(b.c_str()), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

// Hands out a host string and remembers its block until the add-in frees it.
template <class X> bool GiveString(X* result, const std::u16string& text) {
    if (result == nullptr || !Gen<X>::SetHostString(result, text)) return false;
    HostState& s = State();
    Guard g(s.lock);
    s.hostBlocks.insert(Gen<X>::Block(result));
    ++s.hostAllocated;
    return true;
}

template <class X> int GetWorkspace(int count, X** opers, X* result) {
    if (count < 1 || opers[0] == nullptr || result == nullptr) return xlretFailed;
    const X* what = opers[0];
    std::uint32_t type = what->xltype & xltypeMask;
    long selector = type == xltypeInt   ? Gen<X>::IntOf(what)
                    : type == xltypeNum ? std::lround(what->val.num)
                                        : -1;
    // Only "which version is the host" is modelled; Excel knows dozens more.
    if (selector != 2) return xlretFailed;
    return GiveString(result, State().versionText) ? xlretSuccess : xlretFailed;
}

template <class X> int GetName(X* result) {
    if (result == nullptr) return xlretFailed;
    return GiveString(result, State().modulePath) ? xlretSuccess : xlretFailed;
}

// Excel's coercion to a number as far as add-ins here need it: integers,
// numbers, booleans and texts that read as a number.
template <class X> bool NumberOf(const X* value, double& out) {
    switch (value->xltype & xltypeMask) {
        case xltypeInt: out = static_cast<double>(Gen<X>::IntOf(value)); return true;
        case xltypeNum: out = value->val.num; return std::isfinite(out);
        case xltypeBool: out = value->val.xbool ? 1 : 0; return true;
        case xltypeStr: {
            std::u16string text = TextOf(value);
            std::string ascii;
            for (char16_t u : text) {
                if (u >= 0x80) return false;
                ascii += static_cast<char>(u);
            }
            size_t b = ascii.find_first_not_of(" \t");
            size_t e = ascii.find_last_not_of(" \t");
            if (b == std::string::npos) return false;
            ascii = ascii.substr(b, e - b + 1);
            char* end = nullptr;
            out = std::strtod(ascii.c_str(), &end);
            return end == ascii.c_str() + ascii.size() && std::isfinite(out);
        }
        default: return false;
    }
}

template <class X> int Coerce(int count, X** opers, X* result) {
    if (result == nullptr || count < 1 || opers[0] == nullptr) return xlretFailed;
    std::uint32_t target = xltypeNum;
    if (count >= 2 && opers[1] != nullptr) {
        const X* t = opers[1];
        double n = 0;
        if (!NumberOf(t, n)) return xlretFailed;
        target = static_cast<std::uint32_t>(n);
    }
    double n = 0;
    bool ok = NumberOf(opers[0], n);
    // A value that does not coerce gets #VALUE!, which the caller sees even if
    // it ignores the result code.
    if ((target & xltypeInt) && ok) {
        long v = std::lround(n);
        if (Gen<X>::IntFits(v)) {
            Gen<X>::SetInt(result, v);
            return xlretSuccess;
        }
    } else if ((target & xltypeNum) && ok) {
        result->val.num = n;
        Gen<X>::SetType(result, xltypeNum);
        return xlretSuccess;
    }
    Gen<X>::SetErr(result, xlerrValue);
    return xlretFailed;
}

template <class X> int FreeBlocks(int count, X** opers) {
    HostState& s = State();
    for (int i = 0; i < count; ++i) {
        X* value = opers[i];
        if (value == nullptr) continue;
        std::uint32_t type = value->xltype & xltypeMask;
        if (type != xltypeStr) continue;  // nothing else we hand out points anywhere
        const void* block = Gen<X>::Block(value);
        bool ours = false;
        {
            Guard g(s.lock);
            ours = s.hostBlocks.erase(block) > 0;
            if (ours) ++s.hostFreed;
        }
        if (ours) {
            Gen<X>::FreeBlock(block);
        } else if (value->xltype & xlbitXLFree) {
            char where[32];
            std::snprintf(where, sizeof where, "\"%p\"", block);
            Breach("xlFree of a string the host does not hold (never given, or given back before)",
                   where);
        }
    }
    return xlretSuccess;
}

template <class X> int Register(int count, X** opers, X* result) {
    HostState& s = State();
    std::string args = "[";
    for (int i = 0; i < count; ++i) {
        if (i) args += ',';
        args += Describe(opers[i]);
    }
    args += "]";

    Registration r;
    r.generation = Gen<X>::number;
    auto text = [&](int i) { return i < count && opers[i] ? TextOf(opers[i]) : std::u16string(); };
    std::u16string module = text(0);
    r.procedure = text(1);
    r.typeText = text(2);
    r.functionText = text(3);
    bool moduleOk = SameText(module, s.modulePath);
    std::string procedure;
    for (char16_t u : r.procedure) procedure += static_cast<char>(u < 0x80 ? u : '?');
    if (moduleOk && !procedure.empty())
        r.entry = reinterpret_cast<void*>(GetProcAddress(s.addin, procedure.c_str()));

    int code = xlretSuccess;
    if (count < 3 || r.entry == nullptr) {
        // Excel answers a registration it cannot carry out with #VALUE!.
        if (result) Gen<X>::SetErr(result, xlerrValue);
    } else {
        Guard g(s.lock);
        r.id = s.nextId++;
        ++s.registrations;
        if (result) {
            result->val.num = r.id;
            Gen<X>::SetType(result, xltypeNum);
        }
        if (!r.functionText.empty()) s.functions[Upper(r.functionText)] = r;
    }
    Emit("{\"event\":\"register\",\"gen\":" + std::to_string(r.generation) +
         ",\"count\":" + std::to_string(count) + ",\"module_ok\":" + (moduleOk ? "true" : "false") +
         ",\"resolved\":" + (r.entry ? "true" : "false") +
         ",\"id\":" + (r.entry ? Number(r.id) : "null") + ",\"args\":" + args + "}");
    return code;
}

template <class X> int SetName(int count, X** opers, X* result) {
    if (count < 1 || opers[0] == nullptr) return xlretFailed;
    std::u16string name = TextOf(opers[0]);
    HostState& s = State();
    {
        Guard g(s.lock);
        // With a name and no value Excel deletes the name; the function goes with it.
        if (count == 1) {
            s.removedNames.push_back(name);
            s.functions.erase(Upper(name));
        }
    }
    std::string line = "{\"event\":\"set_name\",\"gen\":" + std::to_string(Gen<X>::number) +
                       ",\"count\":" + std::to_string(count) + ",\"name\":" + JsonString(name);
    if (count >= 2) line += ",\"value\":" + Describe(opers[1]);
    Emit(line + "}");
    if (result) Gen<X>::SetBool(result, true);
    return xlretSuccess;
}

template <class X> int Dispatch(int xlfn, int count, X** opers, X* result) {
    HostState& s = State();
    bool worker = GetCurrentThreadId() != s.mainThread;
    if (worker) {
        Guard g(s.lock);
        ++s.workerCallbacks;
    }
    int code;
    if (count < 0 || count > Gen<X>::maxArgs) code = xlretInvCount;
    else if (count > 0 && opers == nullptr) code = xlretFailed;
    else {
        switch (xlfn) {
            case xlfGetWorkspace: code = GetWorkspace(count, opers, result); break;
            case xlGetName: code = GetName(result); break;
            case xlCoerce: code = Coerce(count, opers, result); break;
            case xlFree: code = FreeBlocks(count, opers); break;
            case xlfRegister: code = Register(count, opers, result); break;
            case xlfSetName: code = SetName(count, opers, result); break;
            default: code = xlretInvXlfn; break;
        }
    }
    std::string line = "{\"event\":\"callback\",\"gen\":" + std::to_string(Gen<X>::number) +
                       ",\"fn\":" + std::to_string(xlfn) + ",\"name\":\"" + FunctionName(xlfn) +
                       "\",\"count\":" + std::to_string(count) + ",\"ret\":" + std::to_string(code);
    if (xlfn == xlCoerce && count >= 1 && opers && opers[0]) line += ",\"arg\":" + Describe(opers[0]);
    if (result && xlfn != xlFree && code == xlretSuccess) line += ",\"result\":" + Describe(result);
    if (worker) line += ",\"thread\":\"worker\"";
    Emit(line + "}");
    if (worker)
        Breach("callback from a calculation thread: worksheet procedures must not call the host");
    return code;
}

template <class X> std::string DescribeAny(const X* value) {
    if (value == nullptr) return "null";
    char buf[64];
    switch (value->xltype & xltypeMask) {
        case xltypeNum: return "{\"num\":" + Number(value->val.num) + "}";
        case xltypeStr: {
            if (value->val.str == nullptr) return "{\"str\":null}";
            std::string out = "{\"str\":" + JsonString(TextOf(value));
            if constexpr (Gen<X>::number == 4) {
                auto* bytes = reinterpret_cast<const unsigned char*>(value->val.str);
                out += ",\"bytes\":\"" + Hex(bytes + 1, bytes[0]) + "\"";
            }
            return out + "}";
        }
        case xltypeBool: return value->val.xbool ? "{\"bool\":true}" : "{\"bool\":false}";
        case xltypeErr: return "{\"error\":" + std::to_string(value->val.err) + "}";
        case xltypeInt: return "{\"int\":" + std::to_string(Gen<X>::IntOf(value)) + "}";
        case xltypeMissing: return "{\"missing\":true}";
        case xltypeNil: return "{\"nil\":true}";
        default:
            std::snprintf(buf, sizeof buf, "{\"type\":%u}", static_cast<unsigned>(value->xltype));
            return buf;
    }
}

}  // namespace

int Dispatch12(int xlfn, int count, XLOPER12** opers, XLOPER12* result) {
    return Dispatch(xlfn, count, opers, result);
}

int Dispatch4(int xlfn, int count, XLOPER** opers, XLOPER* result) {
    return Dispatch(xlfn, count, opers, result);
}

std::string Describe(const XLOPER* value) { return DescribeAny(value); }
std::string Describe(const XLOPER12* value) { return DescribeAny(value); }

std::u16string TextOf(const XLOPER* value) {
    if ((value->xltype & xltypeMask) != xltypeStr || value->val.str == nullptr) return {};
    auto* bytes = reinterpret_cast<const unsigned char*>(value->val.str);
    return FromAnsi(std::string(reinterpret_cast<const char*>(bytes + 1), bytes[0]));
}

std::u16string TextOf(const XLOPER12* value) {
    if ((value->xltype & xltypeMask) != xltypeStr || value->val.str == nullptr) return {};
    return std::u16string(value->val.str + 1, value->val.str[0]);
}

std::u16string FromAnsi(const std::string& bytes) {
    if (bytes.empty()) return {};
    int n = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  static_cast<LPWSTR>(nullptr), 0);
    std::u16string out(static_cast<size_t>(n), u'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                          reinterpret_cast<LPWSTR>(out.data()), n);
    return out;
}

std::string ToAnsi(const std::u16string& text) {
    if (text.empty()) return {};
    // Flags 0 and no default character: Windows' own substitution, as Excel
    // gets when it hands a text to a "C" argument.
    auto* wide = reinterpret_cast<LPCWSTR>(text.data());
    int n = ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), nullptr, 0,
                                  nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(text.size()), out.data(), n, nullptr,
                          nullptr);
    return out;
}

std::string Hex(const void* data, size_t size) {
    static const char digits[] = "0123456789abcdef";
    auto* p = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[p[i] >> 4];
        out += digits[p[i] & 15];
    }
    return out;
}

std::string Number(double value) {
    if (!std::isfinite(value)) return "null";
    char buf[40];
    if (value == std::floor(value) && std::fabs(value) < 1e15)
        std::snprintf(buf, sizeof buf, "%.0f", value);
    else
        std::snprintf(buf, sizeof buf, "%.17g", value);
    return buf;
}

}  // namespace xllhost

// xllhost [--version TEXT] [--script FILE] [--no-entry-point] --addin MODULE
//
// Loads MODULE with LoadLibraryW, offers it our XLOPER12 callback through
// SetExcel12EntryPt, opens it with xlAutoOpen, runs the script (one JSON
// object per line, from FILE or standard input), closes it with xlAutoClose
// and unloads it. Reports one JSON object per line on standard output; the
// last one is the summary. Exit code: 0 when the add-in kept the protocol,
// 1 on a breach, 2 on a usage or script error, 3 on a crash, 4 when the module
// did not load.
//
// Script lines:
//   {"call":"NAME","text":"..."}           call a registered worksheet function;
//        the argument may instead be "text_hex_utf16le":"HEX" (any UTF-16,
//        lone surrogates included), "bytes_hex":"HEX" (raw bytes for a "C"
//        argument) or "null":true; an optional "tag" is echoed back.
//   {"manager":1,"as":"int","gen":12}      ask xlAddInManagerInfo(12); "as" is
//        int, num, str, bool, missing or nil; "gen" 4 or 12 (default: the
//        host's own generation).
//   {"encode_acp":"..."}                   the bytes Windows gives the text in the
//        ANSI code page, as the host passes it to a "C" argument.
//   {"stress":["NAME",...],"threads":8,"calls":20000,"texts":["...",...]}
//        call thread-safe functions from several threads at once, each thread
//        going round every function and text; reports the result for each
//        pair and fails when a call breaks the return protocol or two calls on
//        the same pair disagree.
#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <memory>

#include "tests/xllhost/host.h"
#include "tests/xllhost/json.h"

namespace xllhost {

namespace {

SRWLOCK outputLock = SRWLOCK_INIT;

const char* kBits = sizeof(void*) == 8 ? "64" : "32";

std::string Narrow(const std::u16string& ascii) {
    std::string out;
    for (char16_t u : ascii) out += static_cast<char>(u < 0x80 ? u : '?');
    return out;
}

std::u16string Wide(const wchar_t* text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text));
}

// A Unix path given on Wine's command line names the same file on drive Z:.
std::u16string WindowsPath(std::u16string path) {
    if (!path.empty() && path[0] == u'/') {
        for (char16_t& c : path)
            if (c == u'/') c = u'\\';
        path = u"Z:" + path;
    }
    return path;
}

bool FromHex(const std::u16string& hex, std::string& out) {
    if (hex.size() % 2) return false;
    auto digit = [](char16_t c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    out.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = digit(hex[i]), lo = digit(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

std::string ToJson(const Json& v) {
    switch (v.kind) {
        case Json::Kind::String: return JsonString(v.text);
        case Json::Kind::Number: return Number(v.number);
        case Json::Kind::Bool: return v.boolean ? "true" : "false";
        default: return "null";
    }
}

template <class F> F Export(const char* name) {
    FARPROC p = GetProcAddress(State().addin, name);
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

// Calls a one-argument export. On 32-bit x86 it also tells whether the callee
// removed the argument from the stack itself (stdcall) instead of leaving it
// to the caller (cdecl): a mismatch with what the export promises would
// corrupt Excel's stack, so the host checks every call.
void* CallOne(void* fn, const void* arg, bool& calleePopped) {
#if defined(__i386__)
    void* result;
    int delta;
    asm volatile(
        "movl %%esp, %%edi\n\t"
        "pushl %[arg]\n\t"
        "call *%[fn]\n\t"
        "movl %%edi, %%ecx\n\t"
        "subl %%esp, %%ecx\n\t"
        "movl %%edi, %%esp\n\t"
        : "=a"(result), "=c"(delta)
        : [fn] "r"(fn), [arg] "r"(arg)
        : "edx", "edi", "memory", "cc");
    calleePopped = delta == 0;
    return result;
#else
    calleePopped = false;
    return reinterpret_cast<void* (*)(const void*)>(fn)(arg);
#endif
}

void* CallCdecl(const char* what, void* fn, const void* arg) {
    bool popped = false;
    void* result = CallOne(fn, arg, popped);
    if (popped) Breach(std::string(what) + " removed its argument from the stack (stdcall); its callers do (cdecl)");
    return result;
}

struct Outcome {
    std::string value;  // JSON of the result
    std::uint32_t xltype = 0;
    bool bad = false;
};

// The host's duties for a record an add-in returns: check its marks, read
// it, and hand it back through xlAutoFree(12) exactly once.
template <class X> Outcome TakeResult(const char* what, X* record, const char* freeName) {
    Outcome o;
    HostState& s = State();
    if (record == nullptr) {
        o.value = "null";
        o.bad = true;
        Breach(std::string(what) + " returned a null record");
        return o;
    }
    o.xltype = record->xltype;
    o.value = Describe(record);
    {
        Guard g(s.lock);
        if (!s.outstanding.insert(record).second) o.bad = true;
    }
    if (o.bad) Breach(std::string(what) + " returned a record it had already returned and not got back");
    if (record->xltype & xlbitXLFree) {
        o.bad = true;
        Breach(std::string(what) + " returned a record marked xlbitXLFree");
    }
    if (!(record->xltype & xlbitDLLFree)) {
        // Not ours to free: Excel would leave it alone, and so do we.
        o.bad = true;
        Breach(std::string(what) + " returned a record not marked xlbitDLLFree", o.value);
        Guard g(s.lock);
        s.outstanding.erase(record);
        return o;
    }
    void* freeFn = reinterpret_cast<void*>(GetProcAddress(s.addin, freeName));
    {
        Guard g(s.lock);
        s.outstanding.erase(record);
        if (freeFn) ++(sizeof(X) == sizeof(XLOPER) ? s.autoFree4 : s.autoFree12);
    }
    if (freeFn == nullptr) {
        o.bad = true;
        Breach(std::string(what) + " returned a record marked xlbitDLLFree but the add-in exports no " +
               freeName);
        return o;
    }
    CallCdecl(freeName, freeFn, record);
    return o;
}

struct TypeText {
    bool ok = false;
    bool wideResult = false;  // U: XLOPER12*, R: XLOPER*
    bool wideArg = false;     // C%: const wchar_t*, C: const char*
    bool threadSafe = false;
};

// The one-text-argument forms the host can call: R or U, then C or C%, then
// the optional modifiers.
TypeText ParseTypeText(const std::u16string& t) {
    TypeText r;
    size_t i = 0;
    if (i >= t.size() || (t[i] != u'R' && t[i] != u'U')) return r;
    r.wideResult = t[i++] == u'U';
    if (i >= t.size() || t[i] != u'C') return r;
    ++i;
    if (i < t.size() && t[i] == u'%') {
        r.wideArg = true;
        ++i;
    }
    for (; i < t.size(); ++i) {
        if (t[i] == u'$') r.threadSafe = true;
        else if (t[i] != u'!' && t[i] != u'#') return r;
    }
    r.ok = true;
    return r;
}

struct Argument {
    bool isNull = false;
    std::u16string wide;
    std::string narrow;
    bool rawBytes = false;  // narrow given as bytes, not converted from wide
};

Outcome CallFunction(const Registration& reg, const Argument& arg) {
    TypeText t = ParseTypeText(reg.typeText);
    std::string what = Narrow(reg.procedure);
    if (t.wideArg) {
        const char16_t* p = arg.isNull ? nullptr : arg.wide.c_str();
        void* r = CallCdecl(what.c_str(), reg.entry, p);
        return t.wideResult ? TakeResult(what.c_str(), static_cast<XLOPER12*>(r), "xlAutoFree12")
                            : TakeResult(what.c_str(), static_cast<XLOPER*>(r), "xlAutoFree");
    }
    std::string bytes = arg.rawBytes ? arg.narrow : ToAnsi(arg.wide);
    const char* p = arg.isNull ? nullptr : bytes.c_str();
    void* r = CallCdecl(what.c_str(), reg.entry, p);
    return t.wideResult ? TakeResult(what.c_str(), static_cast<XLOPER12*>(r), "xlAutoFree12")
                        : TakeResult(what.c_str(), static_cast<XLOPER*>(r), "xlAutoFree");
}

bool FindFunction(const std::u16string& name, Registration& out) {
    std::string key;
    for (char16_t u : name) {
        char c = u < 0x80 ? static_cast<char>(u) : '?';
        key += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    HostState& s = State();
    Guard g(s.lock);
    auto it = s.functions.find(key);
    if (it == s.functions.end()) return false;
    out = it->second;
    return true;
}

bool ReadArgument(const Json& line, Argument& arg, std::string& error) {
    if (const Json* n = line.Get("null"); n && n->kind == Json::Kind::Bool && n->boolean) {
        arg.isNull = true;
    } else if (const Json* t = line.Get("text"); t && t->IsString()) {
        arg.wide = t->text;
    } else if (const Json* h = line.Get("text_hex_utf16le"); h && h->IsString()) {
        std::string bytes;
        if (!FromHex(h->text, bytes) || bytes.size() % 2) {
            error = "text_hex_utf16le is not whole UTF-16 units in hex";
            return false;
        }
        for (size_t i = 0; i < bytes.size(); i += 2)
            arg.wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                              static_cast<unsigned char>(bytes[i + 1]) << 8);
    } else if (const Json* b = line.Get("bytes_hex"); b && b->IsString()) {
        if (!FromHex(b->text, arg.narrow)) {
            error = "bytes_hex is not hex";
            return false;
        }
        arg.rawBytes = true;
        arg.wide = FromAnsi(arg.narrow);
    } else {
        error = "a call needs text, text_hex_utf16le, bytes_hex or null";
        return false;
    }
    return true;
}

bool RunCall(const Json& line, std::string& error) {
    Argument arg;
    if (!ReadArgument(line, arg, error)) return false;
    const std::u16string& name = line.Get("call")->text;
    std::string head = "{\"event\":\"call\",\"call\":" + JsonString(name);
    if (const Json* tag = line.Get("tag")) head += ",\"tag\":" + ToJson(*tag);
    Registration reg;
    if (!FindFunction(name, reg)) {
        Emit(head + ",\"registered\":false}");
        return true;
    }
    TypeText t = ParseTypeText(reg.typeText);
    head += ",\"proc\":" + JsonString(reg.procedure) + ",\"type\":" + JsonString(reg.typeText);
    if (!t.ok) {
        Emit(head + ",\"unsupported_type\":true}");
        return true;
    }
    if (!t.wideArg && !arg.isNull) {
        std::string bytes = arg.rawBytes ? arg.narrow : ToAnsi(arg.wide);
        head += ",\"arg_bytes\":\"" + Hex(bytes.data(), bytes.size()) + "\"";
    }
    Outcome o = CallFunction(reg, arg);
    Emit(head + ",\"xltype\":" + std::to_string(o.xltype) + ",\"result\":" + o.value + "}");
    return true;
}

template <class X> void SetAction(X& action, const std::string& as, double value) {
    std::memset(&action, 0, sizeof action);
    if (as == "num") {
        action.val.num = value;
        action.xltype = xltypeNum;
    } else if (as == "bool") {
        action.val.xbool = value != 0;
        action.xltype = xltypeBool;
    } else if (as == "missing") {
        action.xltype = xltypeMissing;
    } else if (as == "nil") {
        action.xltype = xltypeNil;
    } else {
        action.val.w = static_cast<decltype(action.val.w)>(value);
        action.xltype = xltypeInt;
    }
}

template <class X> std::string AskManager(const char* exportName, const char* freeName,
                                          const std::string& as, double value) {
    void* fn = reinterpret_cast<void*>(GetProcAddress(State().addin, exportName));
    if (fn == nullptr) return "\"exported\":false";
    X action;
    std::unique_ptr<XCHAR[]> wide;
    std::unique_ptr<char[]> narrow;
    SetAction(action, as, value);
    if (as == "str") {
        // The action as a text the host owns, as a cell holding "1" would give.
        std::string digits = Number(value);
        if constexpr (sizeof(X) == sizeof(XLOPER12)) {
            wide.reset(new XCHAR[digits.size() + 1]);
            wide[0] = static_cast<XCHAR>(digits.size());
            for (size_t i = 0; i < digits.size(); ++i) wide[i + 1] = static_cast<XCHAR>(digits[i]);
            action.val.str = wide.get();
        } else {
            narrow.reset(new char[digits.size() + 1]);
            narrow[0] = static_cast<char>(digits.size());
            std::memcpy(narrow.get() + 1, digits.data(), digits.size());
            action.val.str = narrow.get();
        }
        action.xltype = xltypeStr;
    }
    unsigned char before[sizeof(X)];
    std::memcpy(before, &action, sizeof action);
    auto* r = static_cast<X*>(CallCdecl(exportName, fn, &action));
    if (std::memcmp(before, &action, sizeof action) != 0)
        Breach(std::string(exportName) + " changed the action record the host passed");
    Outcome o = TakeResult(exportName, r, freeName);
    return "\"xltype\":" + std::to_string(o.xltype) + ",\"result\":" + o.value;
}

bool RunManager(const Json& line, std::string& error) {
    const Json* v = line.Get("manager");
    if (!v->IsNumber()) {
        error = "manager takes a number";
        return false;
    }
    std::string as = "int";
    if (const Json* a = line.Get("as"); a && a->IsString()) as = Narrow(a->text);
    bool v12 = std::wcstol(reinterpret_cast<const wchar_t*>(State().versionText.c_str()), nullptr, 10) >= 12;
    int gen = v12 && GetProcAddress(State().addin, "xlAddInManagerInfo12") ? 12 : 4;
    if (const Json* g = line.Get("gen"); g && g->IsNumber()) gen = static_cast<int>(g->number);
    std::string body = gen == 12 ? AskManager<XLOPER12>("xlAddInManagerInfo12", "xlAutoFree12", as, v->number)
                                 : AskManager<XLOPER>("xlAddInManagerInfo", "xlAutoFree", as, v->number);
    std::string line2 = "{\"event\":\"manager\",\"gen\":" + std::to_string(gen) +
                        ",\"action\":" + Number(v->number) + ",\"as\":" + JsonString(as) + "," + body;
    if (const Json* tag = line.Get("tag")) line2 += ",\"tag\":" + ToJson(*tag);
    Emit(line2 + "}");
    return true;
}

// --- threads ------------------------------------------------------------------

struct StressPlan {
    std::vector<Registration> functions;
    std::vector<Argument> texts;
    int threads = 0;
    long calls = 0;
};

struct StressThread {
    const StressPlan* plan = nullptr;
    int index = 0;
    std::vector<std::string> first;  // per (function, text): the first result seen
    std::vector<long> count;
    long bad = 0;
    long differing = 0;
};

DWORD WINAPI StressWorker(void* param) {
    auto* t = static_cast<StressThread*>(param);
    const StressPlan& p = *t->plan;
    const size_t nf = p.functions.size(), nt = p.texts.size();
    for (long j = 0; j < p.calls; ++j) {
        // Every thread goes round every pair, each from its own starting point,
        // so that at any moment the threads work on different inputs.
        size_t f = static_cast<size_t>(j + t->index) % nf;
        size_t x = static_cast<size_t>(j * p.threads + t->index) % nt;
        Outcome o = CallFunction(p.functions[f], p.texts[x]);
        size_t k = f * nt + x;
        // Which value is right is for the caller to judge (a file function may
        // answer #N/A); here only the protocol and the agreement between calls.
        if (o.bad) ++t->bad;
        if (t->count[k]++ == 0) t->first[k] = o.value;
        else if (t->first[k] != o.value) ++t->differing;
    }
    return 0;
}

bool RunStress(const Json& line, std::string& error) {
    StressPlan plan;
    const Json* names = line.Get("stress");
    const Json* texts = line.Get("texts");
    const Json* threads = line.Get("threads");
    const Json* calls = line.Get("calls");
    if (names->kind != Json::Kind::Array || names->items.empty() || !texts ||
        texts->kind != Json::Kind::Array || texts->items.empty() || !threads || !threads->IsNumber() ||
        !calls || !calls->IsNumber() || threads->number < 1 || threads->number > 64 || calls->number < 1) {
        error = "stress needs a list of names, a list of texts, threads (1-64) and calls";
        return false;
    }
    for (const Json& n : names->items) {
        Registration reg;
        if (!n.IsString() || !FindFunction(n.text, reg)) {
            error = "stress: not a registered function: " + (n.IsString() ? Narrow(n.text) : "?");
            return false;
        }
        TypeText t = ParseTypeText(reg.typeText);
        if (!t.ok || !t.threadSafe) {
            error = "stress: " + Narrow(n.text) + " is not registered as thread-safe";
            return false;
        }
        plan.functions.push_back(reg);
    }
    for (const Json& t : texts->items) {
        if (!t.IsString()) {
            error = "stress: texts must be strings";
            return false;
        }
        Argument a;
        a.wide = t.text;
        plan.texts.push_back(a);
    }
    plan.threads = static_cast<int>(threads->number);
    plan.calls = static_cast<long>(calls->number);

    const size_t pairs = plan.functions.size() * plan.texts.size();
    std::vector<StressThread> state(static_cast<size_t>(plan.threads));
    std::vector<HANDLE> handles;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < plan.threads; ++i) {
        StressThread& t = state[static_cast<size_t>(i)];
        t.plan = &plan;
        t.index = i;
        t.first.resize(pairs);
        t.count.assign(pairs, 0);
        HANDLE h = CreateThread(nullptr, 0, StressWorker, &t, CREATE_SUSPENDED, nullptr);
        if (h == nullptr) {
            error = "CreateThread failed";
            for (HANDLE o : handles) {
                ResumeThread(o);
                WaitForSingleObject(o, INFINITE);
                CloseHandle(o);
            }
            return false;
        }
        handles.push_back(h);
    }
    for (HANDLE h : handles) ResumeThread(h);  // all start together
    for (HANDLE h : handles) {
        WaitForSingleObject(h, INFINITE);
        CloseHandle(h);
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    long bad = 0, differing = 0;
    for (const StressThread& t : state) {
        bad += t.bad;
        differing += t.differing;
    }
    for (size_t k = 0; k < pairs; ++k) {
        std::string consensus;
        long total = 0;
        for (const StressThread& t : state) {
            if (t.count[k] == 0) continue;
            if (total == 0) consensus = t.first[k];
            else if (t.first[k] != consensus) ++differing;
            total += t.count[k];
        }
        if (total == 0) continue;
        size_t f = k / plan.texts.size(), x = k % plan.texts.size();
        Emit("{\"event\":\"stress_result\",\"call\":" + JsonString(plan.functions[f].functionText) +
             ",\"text_index\":" + std::to_string(x) + ",\"calls\":" + std::to_string(total) +
             ",\"result\":" + consensus + "}");
    }
    Emit("{\"event\":\"stress\",\"threads\":" + std::to_string(plan.threads) +
         ",\"calls_per_thread\":" + std::to_string(plan.calls) +
         ",\"total\":" + std::to_string(plan.calls * plan.threads) + ",\"bad\":" + std::to_string(bad) +
         ",\"differing\":" + std::to_string(differing) + ",\"seconds\":" + Number(seconds) + "}");
    if (bad) Breach("stress: results that broke the return protocol");
    if (differing) Breach("stress: the same input gave different results");
    return true;
}

// --- the run ------------------------------------------------------------------

LONG WINAPI OnCrash(EXCEPTION_POINTERS* info) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "{\"event\":\"crash\",\"code\":\"0x%08lx\",\"address\":\"%p\",\"thread\":\"%s\"}",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                  info->ExceptionRecord->ExceptionAddress,
                  GetCurrentThreadId() == State().mainThread ? "main" : "worker");
    Emit(line);
    std::fflush(stdout);
    TerminateProcess(GetCurrentProcess(), 3);
    return EXCEPTION_EXECUTE_HANDLER;
}

bool ReadScript(const std::u16string& path, std::vector<std::string>& lines) {
    FILE* f = stdin;
    if (!path.empty() && path != u"-") {
        f = _wfopen(reinterpret_cast<const wchar_t*>(path.c_str()), L"rb");
        if (f == nullptr) return false;
    } else {
        _setmode(_fileno(stdin), _O_BINARY);
    }
    std::string all;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
    if (f != stdin) std::fclose(f);
    size_t pos = 0;
    while (pos < all.size()) {
        size_t end = all.find('\n', pos);
        if (end == std::string::npos) end = all.size();
        std::string line = all.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") != std::string::npos) lines.push_back(line);
        pos = end + 1;
    }
    return true;
}

int Usage(const char* message) {
    std::fprintf(stderr, "xllhost: %s\nusage: xllhost [--version TEXT] [--script FILE] [--no-entry-point] --addin MODULE\n",
                 message);
    return 2;
}

}  // namespace

HostState& State() {
    static HostState state;
    return state;
}

void Emit(const std::string& line) {
    Guard g(outputLock);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Breach(const std::string& what, const std::string& detailJson) {
    {
        HostState& s = State();
        Guard g(s.lock);
        ++s.breaches;
    }
    Emit("{\"event\":\"breach\",\"what\":" + JsonString(what) +
         (detailJson.empty() ? "" : ",\"detail\":" + detailJson) + "}");
}

int Run(int argc, wchar_t** argv) {
    HostState& s = State();
    s.mainThread = GetCurrentThreadId();
    std::u16string addinPath, scriptPath;
    bool offerEntryPoint = true;
    for (int i = 1; i < argc; ++i) {
        std::u16string a = Wide(argv[i]);
        bool hasValue = i + 1 < argc;
        if (a == u"--version" && hasValue) s.versionText = Wide(argv[++i]);
        else if (a == u"--addin" && hasValue) addinPath = WindowsPath(Wide(argv[++i]));
        else if (a == u"--script" && hasValue) scriptPath = WindowsPath(Wide(argv[++i]));
        else if (a == u"--no-entry-point") offerEntryPoint = false;
        else return Usage("unknown or incomplete option");
    }
    if (addinPath.empty()) return Usage("--addin is required");

    std::vector<std::string> lines;
    if (!ReadScript(scriptPath, lines)) return Usage("cannot read the script");
    std::vector<Json> script(lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string error;
        if (!ParseJson(lines[i], script[i], error) || script[i].kind != Json::Kind::Object) {
            Emit("{\"event\":\"script_error\",\"line\":" + std::to_string(i + 1) +
                 ",\"error\":" + JsonString(error.empty() ? "not an object" : error) + "}");
            return 2;
        }
    }

    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(OnCrash);
    Emit("{\"event\":\"host\",\"version\":" + JsonString(s.versionText) + ",\"bits\":" + kBits +
         ",\"acp\":" + std::to_string(GetACP()) + ",\"addin\":" + JsonString(addinPath) + "}");

    s.addin = LoadLibraryW(reinterpret_cast<LPCWSTR>(addinPath.c_str()));
    if (s.addin == nullptr) {
        Emit("{\"event\":\"load\",\"ok\":false,\"error\":" + std::to_string(GetLastError()) + "}");
        return 4;
    }
    wchar_t module[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(s.addin, module, static_cast<DWORD>(std::size(module)));
    s.modulePath = std::u16string(reinterpret_cast<const char16_t*>(module), n);
    Emit("{\"event\":\"load\",\"ok\":true,\"module\":" + JsonString(s.modulePath) + "}");

    void* setEntry = reinterpret_cast<void*>(GetProcAddress(s.addin, "SetExcel12EntryPt"));
    const char* setEntryName = "SetExcel12EntryPt";
    if (setEntry == nullptr) {
        setEntry = reinterpret_cast<void*>(GetProcAddress(s.addin, "_SetExcel12EntryPt@4"));
        setEntryName = "_SetExcel12EntryPt@4";
    }
    if (setEntry && offerEntryPoint) {
        void* callback = reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), "MdCallBack12"));
        bool popped = false;
        CallOne(setEntry, callback, popped);
        if (sizeof(void*) == 4 && !popped)
            Breach("SetExcel12EntryPt left its argument on the stack; it must remove it (stdcall)");
    }
    Emit(std::string("{\"event\":\"entry_point\",\"exported\":") + (setEntry ? "true" : "false") +
         ",\"name\":" + (setEntry ? JsonString(setEntryName) : "null") +
         ",\"offered\":" + (setEntry && offerEntryPoint ? "true" : "false") + "}");

    auto autoOpen = Export<int (*)()>("xlAutoOpen");
    if (autoOpen) Emit("{\"event\":\"auto_open\",\"ret\":" + std::to_string(autoOpen()) + "}");
    else Emit("{\"event\":\"auto_open\",\"exported\":false}");

    int status = 0;
    for (size_t i = 0; i < script.size() && status == 0; ++i) {
        const Json& line = script[i];
        std::string error;
        bool ok;
        if (line.Get("call") && line.Get("call")->IsString()) ok = RunCall(line, error);
        else if (line.Get("manager")) ok = RunManager(line, error);
        else if (line.Get("stress")) ok = RunStress(line, error);
        else if (const Json* e = line.Get("encode_acp"); e && e->IsString()) {
            std::string bytes = ToAnsi(e->text);
            std::string out = "{\"event\":\"acp\",\"codepage\":" + std::to_string(GetACP()) +
                              ",\"text\":" + JsonString(e->text) + ",\"bytes\":\"" +
                              Hex(bytes.data(), bytes.size()) + "\"";
            if (const Json* tag = line.Get("tag")) out += ",\"tag\":" + ToJson(*tag);
            Emit(out + "}");
            ok = true;
        } else {
            ok = false;
            error = "unknown command";
        }
        if (!ok) {
            Emit("{\"event\":\"script_error\",\"line\":" + std::to_string(i + 1) +
                 ",\"error\":" + JsonString(error) + "}");
            status = 2;
        }
    }

    auto autoClose = Export<int (*)()>("xlAutoClose");
    if (autoClose) Emit("{\"event\":\"auto_close\",\"ret\":" + std::to_string(autoClose()) + "}");
    else Emit("{\"event\":\"auto_close\",\"exported\":false}");

    bool xlcallLoaded = GetModuleHandleW(L"XLCall32.dll") != nullptr;
    BOOL freed = FreeLibrary(s.addin);
    Emit(std::string("{\"event\":\"unload\",\"ok\":") + (freed ? "true" : "false") + "}");

    Guard g(s.lock);
    long leaked = static_cast<long>(s.hostBlocks.size());
    std::string removed = "[";
    for (size_t i = 0; i < s.removedNames.size(); ++i) {
        if (i) removed += ',';
        removed += JsonString(s.removedNames[i]);
    }
    removed += "]";
    std::string registered = "[";
    bool firstName = true;
    for (const auto& [key, reg] : s.functions) {
        if (!firstName) registered += ',';
        registered += JsonString(reg.functionText);
        firstName = false;
    }
    registered += "]";
    std::string summary =
        "{\"event\":\"summary\",\"registrations\":" + std::to_string(s.registrations) +
        ",\"registered\":" + registered + ",\"removed\":" + removed +
        ",\"host_allocated\":" + std::to_string(s.hostAllocated) +
        ",\"host_freed\":" + std::to_string(s.hostFreed) + ",\"host_leaked\":" + std::to_string(leaked) +
        ",\"auto_free\":" + std::to_string(s.autoFree4) + ",\"auto_free12\":" + std::to_string(s.autoFree12) +
        ",\"worker_callbacks\":" + std::to_string(s.workerCallbacks) +
        ",\"xlcall_loaded\":" + (xlcallLoaded ? "true" : "false");
    long breaches = s.breaches + (leaked ? 1 : 0);
    summary += ",\"breaches\":" + std::to_string(breaches) + "}";
    if (leaked) {
        Emit("{\"event\":\"breach\",\"what\":\"host allocations never given back with xlFree\",\"detail\":" +
             std::to_string(leaked) + "}");
    }
    Emit(summary);
    if (status) return status;
    return breaches ? 1 : 0;
}

}  // namespace xllhost

// The host's callbacks, exported from the executable as Excel's are: the add-in
// finds "MdCallBack12" in the main module, and XLCall32.dll forwards Excel4 and
// Excel4v to XllHostExcel4v.
extern "C" int __stdcall MdCallBack12(int xlfn, int count, LPXLOPER12* opers, LPXLOPER12 result) {
    return xllhost::Dispatch12(xlfn, count, opers, result);
}

extern "C" int __cdecl XllHostExcel4v(int xlfn, LPXLOPER result, int count, LPXLOPER* opers) {
    return xllhost::Dispatch4(xlfn, count, opers, result);
}

int wmain(int argc, wchar_t** argv) { return xllhost::Run(argc, argv); }

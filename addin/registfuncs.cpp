#include "addin/registfuncs.h"

#include <cstdarg>

#include "xlapi/callbacks.h"
#include "xlapi/xloperm.h"

namespace {

constexpr int kMaxRegisterArgs = 255;
constexpr int kFirstArgumentHelp = 10;

std::uint32_t CountArguments(const char16_t* argumentText) {
    if (argumentText == nullptr || argumentText[0] == 0) return 0;
    std::uint32_t count = 1;
    for (const char16_t* c = argumentText; *c != 0; ++c) count += *c == u',';
    return count;
}

struct VaListEnd {
    va_list& list;
    ~VaListEnd() { va_end(list); }
};

// The host reads a string at every text position, so a text that is absent
// (a module path the host did not give, a null help) goes as the empty string.
const xlstr& OrEmpty(const xlstr& text) {
    static const xlstr empty = [] {
        xlstr e;
        e.AssignW(u"");
        return e;
    }();
    return text.HasText() ? text : empty;
}

// Asks the host for the module's path and, on success, stores it in `cache`.
// The host's answer is given back whatever happens after the call succeeded.
template <typename Oper, int (*Call)(int, Oper*, int, ...)>
int QueryModuleName(xlstr& cache) {
    Oper answer{};
    answer.xltype = xltypeNil;
    const int code = Call(xlGetName, &answer, 0);
    if (code != xlretSuccess) return code;
    struct GiveBack {
        Oper* answer;
        ~GiveBack() { Call(xlFree, nullptr, 1, answer); }
    } giveBack{&answer};
    const xloperm holder(&answer);
    const xlstr text(holder);
    cache = text;
    return xlretSuccess;
}

}  // namespace

RegistFuncs::RegistFuncs(const char16_t* category, const char16_t* functionText, const char16_t* procedure4,
                         const char16_t* procedure12, const char16_t* typeText4, const char16_t* typeText12,
                         const char16_t* functionHelp, const char16_t* argumentText, ...) {
    this->category.AssignW(category);
    this->functionText.AssignW(functionText);
    this->procedure4.AssignW(procedure4);
    this->procedure12.AssignW(procedure12);
    this->typeText4.AssignW(typeText4);
    this->typeText12.AssignW(typeText12);
    this->functionHelp.AssignW(functionHelp);
    this->argumentText.AssignW(argumentText);
    withHelp = true;
    argumentCount = CountArguments(argumentText);
    if (argumentCount == 0) return;
    argumentHelp.reset(new xlstr[argumentCount]);
    va_list helps;
    va_start(helps, argumentText);
    VaListEnd end{helps};
    for (std::uint32_t i = 0; i < argumentCount; ++i) argumentHelp[i].AssignW(va_arg(helps, const char16_t*));
}

RegistFuncs::~RegistFuncs() = default;

int RegistFuncs::Register() const {
    const bool wide = HostVersion() >= 12;
    xloperm result;
    xloperm args[kMaxRegisterArgs];
    args[0].SetStr(OrEmpty(ModuleName()));
    args[1].SetStr(OrEmpty(wide ? procedure12 : procedure4));
    args[2].SetStr(OrEmpty(wide ? typeText12 : typeText4));
    args[3].SetStr(OrEmpty(functionText));
    args[4].SetStr(withHelp ? OrEmpty(argumentText) : OrEmpty(xlstr()));
    args[5].SetInt(1);
    args[6].SetStr(OrEmpty(category));
    // Positions 7 and 8 (shortcut text, help topic) stay without value: null.
    int count = 7;
    if (withHelp) {
        args[9].SetStr(OrEmpty(functionHelp));
        for (std::uint32_t i = 0; i < argumentCount && kFirstArgumentHelp + i < kMaxRegisterArgs; ++i)
            args[kFirstArgumentHelp + i].SetStr(OrEmpty(argumentHelp[i]));
        count = kFirstArgumentHelp + static_cast<int>(argumentCount);
    }
    return ExcelRegister(result, count, args);
}

int RegistFuncs::Unregister() const {
    xloperm result;
    xloperm name;
    name.SetStr(OrEmpty(functionText));
    return ExcelCall(result, xlfSetName, 1, &name);
}

xlstr ModuleName() {
    static xlstr cache;
    if (!cache.HasText()) {
        if (HostVersion() >= 12)
            QueryModuleName<XLOPER12, Excel12>(cache);
        else
            QueryModuleName<XLOPER, Excel4>(cache);
    }
    return cache;
}

#include "addin/addin.h"

#include "addin/registfuncs.h"
#include "xlapi/boundary.h"
#include "xlapi/callbacks.h"
#include "xlapi/xloperm.h"

namespace {

constexpr int kFunctionCount = 4;
constexpr char16_t kTitle[] = u"拡張関数(Kestrova.xll)";

constexpr char16_t kTextArgument[] = u"文字列";
constexpr char16_t kTextArgumentHelp[] =
    u"MD5ハッシュ化したい文字列・数値・セルを指定します。指定が無い場合は長さゼロの文字列として処理します。 ";

// Built on first use, destroyed at process exit, last record first. If
// building fails part-way, the records already built are destroyed and the
// next call builds the table again.
RegistFuncs* FunctionTable() {
    static RegistFuncs table[kFunctionCount] = {
        RegistFuncs(u"DIGEST", u"MBSTR2MD5", u"md5_from_mb_string4", u"md5_from_mb_string12", u"RC", u"UC%$",
                    u"指定した文字列をMultiByte文字列にしてMD5ハッシュ値を計算し、文字列として返します。",
                    kTextArgument, kTextArgumentHelp),
        RegistFuncs(u"DIGEST", u"WCSTR2MD5", u"md5_from_wc_string4", u"md5_from_wc_string12", u"RC", u"UC%$",
                    u"指定した文字列をWideChar(UTF-16LE)文字列にしてMD5ハッシュ値を計算し、文字列として返します。",
                    kTextArgument, kTextArgumentHelp),
        RegistFuncs(u"DIGEST", u"MBSTR2MD5UTF8", u"md5_from_utf8_string4", u"md5_from_utf8_string12", u"RC",
                    u"UC%$", u"指定した文字列をUTF-8文字列にしてMD5ハッシュ値を計算し、文字列として返します。",
                    kTextArgument, kTextArgumentHelp),
        RegistFuncs(u"DIGEST", u"FILE2MD5", u"md5_from_file4", u"md5_from_file12", u"RC", u"UC%$",
                    u"指定したファイル内容のMD5ハッシュ値を文字列として返します。", u"ファイル名",
                    u"MD5ハッシュ化したいファイルをフルパス指定します。指定したファイルを開けないときはエラーになります。必須です。 "),
    };
    return table;
}

// The Add-in Manager's question in either generation: the title for an action
// that the host coerces to the integer 1, #VALUE! for anything else.
template <typename Oper>
void AddInManagerAnswer(const Oper* action, xloperm& answer) {
    xlstr title;
    title.AssignW(kTitle);
    const xloperm actionCopy(action);
    xloperm coerced(answer.width);
    answer.SetInt(xltypeInt);  // the type to coerce to
    ExcelCall(coerced, xlCoerce, 2, &actionCopy, &answer);
    const auto* number = static_cast<const Oper*>(coerced.value);
    if ((coerced.Type() & xltypeMask) == xltypeInt && number->val.w == 1)
        answer.SetStr(title);
    else
        answer.SetErr(xlerrValue);
}

}  // namespace

int DoFunctionTable(std::int32_t action) {
    RegistFuncs* table = FunctionTable();
    if (action != 0 && action != 1) return 0;
    int result = 0;
    for (int i = 0; i < kFunctionCount; ++i) {
        const int code = action == 0 ? table[i].Register() : table[i].Unregister();
        if (code != 0) result = code;
    }
    return result;
}

extern "C" {

int __cdecl xlAutoOpen() {
    try {
        HostVersion();
        DoFunctionTable(0);
    } catch (...) {
        // Out of memory while registering: the add-in opens without its
        // functions rather than taking the host down.
    }
    return 1;
}

int __cdecl xlAutoClose() {
    try {
        DoFunctionTable(1);
    } catch (...) {
    }
    return 1;
}

LPXLOPER __cdecl xlAddInManagerInfo(LPXLOPER action) {
    try {
        xloperm answer(0);
        AddInManagerAnswer(action, answer);
        return answer.ReturnCopy();
    } catch (...) {
        return StaticValueError();
    }
}

LPXLOPER12 __cdecl xlAddInManagerInfo12(LPXLOPER12 action) {
    try {
        xloperm answer(1);
        AddInManagerAnswer(action, answer);
        return answer.ReturnCopy12();
    } catch (...) {
        return StaticValueError12();
    }
}

}

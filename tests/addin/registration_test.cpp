// Opening, closing and describing the add-in against the recording host.
// Each test runs in a process of its own (CTest): the host version and the
// module path are asked once per process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "addin/addin.h"
#include "addin/registfuncs.h"
#include "platform/platform.h"
#include "tests/host/fake_host.h"
#include "xlapi/records.h"

namespace {

using fakehost::TheHost;

struct Row {
    const char16_t* name;
    const char16_t* procedure4;
    const char16_t* procedure12;
    const char16_t* argument;
    const char16_t* help;
    const char16_t* argumentHelp;
};

const char16_t kTextHelp[] =
    u"MD5ハッシュ化したい文字列・数値・セルを指定します。指定が無い場合は長さゼロの文字列として処理します。 ";

const Row kRows[] = {
    {u"MBSTR2MD5", u"md5_from_mb_string4", u"md5_from_mb_string12", u"文字列",
     u"指定した文字列をMultiByte文字列にしてMD5ハッシュ値を計算し、文字列として返します。", kTextHelp},
    {u"WCSTR2MD5", u"md5_from_wc_string4", u"md5_from_wc_string12", u"文字列",
     u"指定した文字列をWideChar(UTF-16LE)文字列にしてMD5ハッシュ値を計算し、文字列として返します。", kTextHelp},
    {u"MBSTR2MD5UTF8", u"md5_from_utf8_string4", u"md5_from_utf8_string12", u"文字列",
     u"指定した文字列をUTF-8文字列にしてMD5ハッシュ値を計算し、文字列として返します。", kTextHelp},
    {u"FILE2MD5", u"md5_from_file4", u"md5_from_file12", u"ファイル名",
     u"指定したファイル内容のMD5ハッシュ値を文字列として返します。",
     u"MD5ハッシュ化したいファイルをフルパス指定します。指定したファイルを開けないときはエラーになります。必須です。 "},
};

std::string Ansi(const std::u16string& text) {
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), bytes, nullptr, nullptr);
    out.pop_back();
    return out;
}

// A string argument exactly as the host must receive it in its generation.
void ExpectText(const fakehost::Arg& arg, int generation, const std::u16string& expected, const std::string& what) {
    EXPECT_FALSE(arg.null) << what;
    EXPECT_EQ(arg.type, xltypeStr) << what;
    EXPECT_FALSE(arg.nullString) << what;
    if (generation == 12)
        EXPECT_EQ(arg.wide, expected) << what;
    else
        EXPECT_EQ(arg.narrow, Ansi(expected)) << what;
}

void ExpectRegistrations(int generation, const std::u16string& modulePath) {
    const auto calls = TheHost().CallsOf(xlfRegister);
    ASSERT_EQ(calls.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        const Row& row = kRows[i];
        const auto& call = calls[i];
        const std::string what = "record " + std::to_string(i + 1);
        EXPECT_EQ(call.generation, generation) << what;
        ASSERT_EQ(call.count, 11) << what;
        ExpectText(call.args[0], generation, modulePath, what + " module");
        ExpectText(call.args[1], generation, generation == 12 ? row.procedure12 : row.procedure4, what + " procedure");
        ExpectText(call.args[2], generation, generation == 12 ? u"UC%$" : u"RC", what + " type text");
        ExpectText(call.args[3], generation, row.name, what + " name");
        ExpectText(call.args[4], generation, row.argument, what + " argument");
        EXPECT_EQ(call.args[5].type, xltypeInt) << what;
        EXPECT_EQ(call.args[5].integer, 1) << what;
        ExpectText(call.args[6], generation, u"DIGEST", what + " category");
        EXPECT_TRUE(call.args[7].null) << what;
        EXPECT_TRUE(call.args[8].null) << what;
        ExpectText(call.args[9], generation, row.help, what + " help");
        ExpectText(call.args[10], generation, row.argumentHelp, what + " argument help");
    }
}

class AddIn : public ::testing::Test {
protected:
    void SetUp() override { fakehost::ResetHost(); }
    void TearDown() override {
        EXPECT_EQ(TheHost().Outstanding(), 0) << "a host allocation was never given back";
        EXPECT_EQ(TheHost().badFrees, 0);
    }
};

TEST_F(AddIn, OpenOnVersion16RegistersWideThroughTheXLOPER12Callback) {
    TheHost().versionText = "16.0";
    EXPECT_EQ(xlAutoOpen(), 1);
    ExpectRegistrations(12, u"C:\\AddIns\\Kestrova.xll");
    EXPECT_EQ(TheHost().CallsOf(xlGetName).size(), 1u);
    EXPECT_EQ(xlAutoOpen(), 1);  // registers again; the path is asked once
    EXPECT_EQ(TheHost().CallsOf(xlfRegister).size(), 8u);
    EXPECT_EQ(TheHost().CallsOf(xlGetName).size(), 1u);
    EXPECT_EQ(TheHost().CallsOf(xlfGetWorkspace).size(), 1u);
}

TEST_F(AddIn, OpenOnVersion11RegistersAnsiThroughExcel4) {
    TheHost().versionText = "11.0";
    TheHost().moduleName = u"C:\\Add\u00efns\\Kestrova.xll";
    EXPECT_EQ(xlAutoOpen(), 1);
    ExpectRegistrations(4, u"C:\\Add\u00efns\\Kestrova.xll");
}

TEST_F(AddIn, FailedVersionQueryRegistersTheXLOPERGeneration) {
    TheHost().versionAnswer = fakehost::VersionAnswer::CallFails;
    EXPECT_EQ(xlAutoOpen(), 1);
    ExpectRegistrations(4, u"C:\\AddIns\\Kestrova.xll");
}

TEST_F(AddIn, OpenReturnsOneWhenEveryRegistrationFails) {
    TheHost().resultCode = [](int xlfn, int) { return xlfn == xlfRegister ? xlretFailed : xlretSuccess; };
    EXPECT_EQ(xlAutoOpen(), 1);
    EXPECT_EQ(TheHost().CallsOf(xlfRegister).size(), 4u);
}

TEST_F(AddIn, LastFailingRecordGivesTheCode) {
    TheHost().resultCode = [](int xlfn, int nth) {
        if (xlfn != xlfRegister) return xlretSuccess;
        return nth == 1 ? xlretInvXloper : nth == 3 ? xlretAbort : xlretSuccess;
    };
    EXPECT_EQ(DoFunctionTable(0), xlretAbort);
    EXPECT_EQ(TheHost().CallsOf(xlfRegister).size(), 4u);
}

TEST_F(AddIn, OtherActionsMakeNoCall) {
    EXPECT_EQ(DoFunctionTable(2), 0);
    EXPECT_EQ(DoFunctionTable(-1), 0);
    EXPECT_TRUE(TheHost().calls.empty());
}

TEST_F(AddIn, CloseRemovesTheFourNamesInOrder) {
    TheHost().versionText = "16.0";
    EXPECT_EQ(xlAutoClose(), 1);  // without an open before it
    const auto calls = TheHost().CallsOf(xlfSetName);
    ASSERT_EQ(calls.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(calls[i].count, 1);
        ExpectText(calls[i].args[0], 12, kRows[i].name, "name " + std::to_string(i + 1));
    }
    EXPECT_TRUE(TheHost().CallsOf(xlfRegister).empty());
    EXPECT_TRUE(TheHost().CallsOf(xlfUnregister).empty());
}

TEST_F(AddIn, FailedGetNameRegistersAnEmptyPathAndAsksAgain) {
    TheHost().versionText = "16.0";
    TheHost().getNameFails = true;
    EXPECT_EQ(xlAutoOpen(), 1);
    ExpectRegistrations(12, u"");
    EXPECT_EQ(TheHost().CallsOf(xlGetName).size(), 4u);  // asked again for every record
    TheHost().getNameFails = false;
    TheHost().calls.clear();
    EXPECT_EQ(xlAutoOpen(), 1);
    ExpectRegistrations(12, u"C:\\AddIns\\Kestrova.xll");
    EXPECT_EQ(TheHost().CallsOf(xlGetName).size(), 1u);
}

TEST_F(AddIn, ArgumentCounting) {
    const struct {
        const char16_t* text;
        std::uint32_t count;
    } cases[] = {{nullptr, 0}, {u"", 0}, {u"a", 1}, {u"a,b", 2}, {u",", 2}, {u"a,,b", 3}, {u"a,", 2}};
    for (const auto& c : cases) {
        RegistFuncs record(u"C", u"F", u"p4", u"p12", u"RC", u"UC%$", u"help", c.text, u"1", u"2", u"3");
        EXPECT_EQ(record.ArgumentCount(), c.count) << (c.text ? "text" : "null");
    }
}

TEST_F(AddIn, RecordWithoutArgumentsAndWithANullHelp) {
    TheHost().versionText = "16.0";
    RegistFuncs none(u"C", u"F", u"p4", u"p12", u"RC", u"UC%$", u"help", u"");
    EXPECT_EQ(none.Register(), xlretSuccess);
    RegistFuncs nullHelp(u"C", u"G", u"p4", u"p12", u"RC", u"UC%$", nullptr, u"a,b",
                         static_cast<const char16_t*>(nullptr), u"second");
    EXPECT_EQ(nullHelp.Register(), xlretSuccess);
    const auto calls = TheHost().CallsOf(xlfRegister);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].count, 10);
    ExpectText(calls[0].args[4], 12, u"", "empty argument text");
    ASSERT_EQ(calls[1].count, 12);
    ExpectText(calls[1].args[9], 12, u"", "null function help");
    ExpectText(calls[1].args[10], 12, u"", "null first help");
    ExpectText(calls[1].args[11], 12, u"second", "second help keeps its place");
}

TEST_F(AddIn, TooManyArgumentsForTheXLOPERGenerationAreRefused) {
    TheHost().versionText = "11.0";
    const char16_t* h = u"h";
    RegistFuncs wide(u"C", u"F", u"p4", u"p12", u"RC", u"UC%$", u"help",
                     u"a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,r,s,t,u", h, h, h, h, h, h, h, h, h, h, h, h, h, h, h,
                     h, h, h, h, h, h);
    EXPECT_EQ(wide.ArgumentCount(), 21u);
    EXPECT_EQ(wide.Register(), xlretInvCount);
    EXPECT_TRUE(TheHost().CallsOf(xlfRegister).empty());
}

template <typename Oper>
struct Manager;
template <>
struct Manager<XLOPER> {
    static LPXLOPER Ask(LPXLOPER action) { return xlAddInManagerInfo(action); }
    static void Free(LPXLOPER r) { xlAutoFree(r); }
};
template <>
struct Manager<XLOPER12> {
    static LPXLOPER12 Ask(LPXLOPER12 action) { return xlAddInManagerInfo12(action); }
    static void Free(LPXLOPER12 r) { xlAutoFree12(r); }
};

template <typename Oper>
void AddInManagerAnswers(int generation) {
    using M = Manager<Oper>;
    const std::u16string title = u"拡張関数(Kestrova.xll)";
    auto ask = [&](Oper action, bool coerceFails = false) {
        TheHost().coerceFails = coerceFails;
        const std::uint32_t before = action.xltype;
        Oper* answer = M::Ask(&action);
        EXPECT_EQ(action.xltype, before) << "the host's record is left alone";
        return answer;
    };
    auto integer = [](int n) {
        Oper o{};
        o.xltype = xltypeInt;
        o.val.w = n;
        return o;
    };
    Oper* answer = ask(integer(1));
    ASSERT_EQ(answer->xltype, xltypeStr | xlbitDLLFree);
    if constexpr (sizeof(Oper) == sizeof(XLOPER12)) {
        EXPECT_EQ(std::u16string(answer->val.str + 1, answer->val.str[0]), title);
    } else {
        EXPECT_EQ(std::string(answer->val.str + 1, static_cast<unsigned char>(answer->val.str[0])), Ansi(title));
    }
    M::Free(answer);

    Oper number{};
    number.xltype = xltypeNum;
    number.val.num = 1.0;  // anything the host coerces to 1
    answer = ask(number);
    EXPECT_EQ(answer->xltype & xltypeMask, xltypeStr);
    M::Free(answer);

    for (auto [action, refuse] : {std::pair{integer(0), false}, {integer(2), false}, {integer(1), true}}) {
        answer = ask(action, refuse);
        EXPECT_EQ(answer->xltype, xltypeErr | xlbitDLLFree);
        EXPECT_EQ(answer->val.err, xlerrValue);
        M::Free(answer);
    }
    answer = M::Ask(nullptr);
    EXPECT_EQ(answer->val.err, xlerrValue);
    M::Free(answer);

    const auto coercions = TheHost().CallsOf(xlCoerce);
    ASSERT_FALSE(coercions.empty());
    EXPECT_EQ(coercions[0].generation, generation);
    EXPECT_EQ(coercions[0].args[1].integer, static_cast<int>(xltypeInt));
}

TEST_F(AddIn, AddInManagerXLOPER) { AddInManagerAnswers<XLOPER>(4); }
TEST_F(AddIn, AddInManagerXLOPER12) { AddInManagerAnswers<XLOPER12>(12); }

}  // namespace

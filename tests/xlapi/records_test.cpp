#include "xlapi/records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/host/alloc_hook.h"
#include "tests/host/fake_host.h"
#include "xlapi/callbacks.h"

namespace {

using fakehost::TheHost;

// Blocks for source records, owned by the records once set (operator new).
char* NarrowString(const std::string& text) {
    auto* block = static_cast<char*>(::operator new(text.size() + 1));
    block[0] = static_cast<char>(text.size());
    std::memcpy(block + 1, text.data(), text.size());
    return block;
}

XCHAR* WideString(const std::u16string& text) {
    auto* block = static_cast<XCHAR*>(::operator new((text.size() + 1) * 2));
    block[0] = static_cast<XCHAR>(text.size());
    std::memcpy(block + 1, text.data(), text.size() * 2);
    return block;
}

template <typename Block>
Block* RefBlock(std::uint16_t count) {
    const std::size_t entries = count == 0 ? 1 : count;
    auto* block = static_cast<Block*>(::operator new(offsetof(Block, reftbl) + entries * sizeof(Block::reftbl[0])));
    block->count = count;
    for (std::uint16_t i = 0; i < count; ++i) {
        block->reftbl[i].rwFirst = i;
        block->reftbl[i].rwLast = static_cast<decltype(block->reftbl[i].rwLast)>(i + 10);
        block->reftbl[i].colFirst = 1;
        block->reftbl[i].colLast = 2;
    }
    return block;
}

// The source values of the copy table, for one generation.
template <typename Oper>
struct Generation;

template <>
struct Generation<XLOPER> {
    static char* String(const std::string& s) { return NarrowString(s); }
    static auto Ref(std::uint16_t n) { return RefBlock<XLMREF>(n); }
    static void Copy(XLOPER* d, const XLOPER* s) { CopyXLOper(d, s); }
    static void Free(XLOPER* o) { FreeXLOper(o); }
    static std::size_t StringBytes(const XLOPER& o) { return static_cast<unsigned char>(o.val.str[0]) + 1u; }
};

template <>
struct Generation<XLOPER12> {
    static XCHAR* String(const std::string& s) { return WideString(std::u16string(s.begin(), s.end())); }
    static auto Ref(std::uint16_t n) { return RefBlock<XLMREF12>(n); }
    static void Copy(XLOPER12* d, const XLOPER12* s) { CopyXLOper12(d, s); }
    static void Free(XLOPER12* o) { FreeXLOper12(o); }
    static std::size_t StringBytes(const XLOPER12& o) { return (o.val.str[0] + 1u) * 2; }
};

template <typename Oper>
Oper Value(std::uint32_t type) {
    Oper o{};
    o.xltype = type;
    return o;
}

template <typename Oper>
void ExpectDeepEqual(const Oper& copy, const Oper& source, const std::string& what) {
    using G = Generation<Oper>;
    const auto type = source.xltype & xltypeMask;
    switch (type) {
    case xltypeStr:
        if (source.val.str == nullptr) {
            EXPECT_EQ(copy.val.str, nullptr) << what;
        } else {
            EXPECT_NE(copy.val.str, source.val.str) << what << ": the copy has its own buffer";
            EXPECT_EQ(std::memcmp(copy.val.str, source.val.str, G::StringBytes(source)), 0) << what;
        }
        break;
    case xltypeRef:
        EXPECT_EQ(copy.val.mref.idSheet, source.val.mref.idSheet) << what;
        if (source.val.mref.lpmref == nullptr) {
            EXPECT_EQ(copy.val.mref.lpmref, nullptr) << what;
        } else {
            EXPECT_NE(copy.val.mref.lpmref, source.val.mref.lpmref) << what;
            ASSERT_EQ(copy.val.mref.lpmref->count, source.val.mref.lpmref->count) << what;
            for (int i = 0; i < source.val.mref.lpmref->count; ++i) {
                EXPECT_EQ(copy.val.mref.lpmref->reftbl[i].rwLast, source.val.mref.lpmref->reftbl[i].rwLast);
                EXPECT_EQ(copy.val.mref.lpmref->reftbl[i].colLast, source.val.mref.lpmref->reftbl[i].colLast);
            }
        }
        break;
    case xltypeMulti: {
        EXPECT_EQ(copy.val.array.rows, source.val.array.rows) << what;
        EXPECT_EQ(copy.val.array.columns, source.val.array.columns) << what;
        const std::size_t n = static_cast<std::size_t>(source.val.array.rows) * source.val.array.columns;
        if (n == 0) {
            EXPECT_EQ(copy.val.array.lparray, nullptr) << what;
            break;
        }
        EXPECT_NE(copy.val.array.lparray, source.val.array.lparray) << what;
        for (std::size_t i = 0; i < n; ++i) {
            EXPECT_EQ(copy.val.array.lparray[i].xltype, source.val.array.lparray[i].xltype & xltypeMask);
            ExpectDeepEqual(copy.val.array.lparray[i], source.val.array.lparray[i], what + " element");
        }
        break;
    }
    case xltypeMissing:
    case xltypeNil:
        break;
    default:
        EXPECT_EQ(std::memcmp(&copy.val, &source.val, sizeof source.val), 0) << what;
    }
}

template <typename Oper>
void CopyAndReleaseEveryType() {
    using G = Generation<Oper>;
    struct Case {
        const char* name;
        Oper value;
    };
    std::vector<Case> cases;
    auto add = [&](const char* name, Oper o) { cases.push_back({name, o}); };

    Oper o = Value<Oper>(xltypeNum);
    o.val.num = 2.5;
    add("num", o);
    o = Value<Oper>(xltypeStr);
    o.val.str = G::String("hello");
    add("str", o);
    o = Value<Oper>(xltypeStr);
    o.val.str = G::String("");
    add("empty str", o);
    o = Value<Oper>(xltypeStr);
    o.val.str = nullptr;
    add("null str", o);
    o = Value<Oper>(xltypeStr | xlbitDLLFree);
    o.val.str = G::String(std::string(255, 'x'));
    add("255 chars, returned flag", o);
    o = Value<Oper>(xltypeBool);
    o.val.xbool = 1;
    add("bool", o);
    o = Value<Oper>(xltypeRef);
    o.val.mref.lpmref = G::Ref(3);
    o.val.mref.idSheet = 77;
    add("ref", o);
    o = Value<Oper>(xltypeRef);
    o.val.mref.lpmref = nullptr;
    o.val.mref.idSheet = 5;
    add("ref without block", o);
    o = Value<Oper>(xltypeErr);
    o.val.err = xlerrNA;
    add("err", o);
    o = Value<Oper>(xltypeFlow);
    o.val.flow.valflow.level = 3;
    o.val.flow.rw = 4;
    o.val.flow.col = 5;
    o.val.flow.xlflow = 6;
    add("flow", o);
    o = Value<Oper>(xltypeSRef);
    o.val.sref.count = 1;
    o.val.sref.ref.rwFirst = 2;
    o.val.sref.ref.colLast = 3;
    add("sref", o);
    o = Value<Oper>(xltypeInt);
    o.val.w = -7;
    add("int", o);
    static unsigned char shared[4];
    o = Value<Oper>(xltypeBigData);
    o.val.bigdata.h.lpbData = shared;
    o.val.bigdata.cbData = 4;
    add("bigdata", o);
    add("missing", Value<Oper>(xltypeMissing));
    add("nil", Value<Oper>(xltypeNil));
    {
        // A 2 x 2 array holding a string, a number, a nested array and a reference.
        auto* inner = static_cast<Oper*>(::operator new(2 * sizeof(Oper)));
        inner[0] = Value<Oper>(xltypeStr);
        inner[0].val.str = G::String("inner");
        inner[1] = Value<Oper>(xltypeInt);
        inner[1].val.w = 1;
        auto* outer = static_cast<Oper*>(::operator new(4 * sizeof(Oper)));
        outer[0] = Value<Oper>(xltypeStr);
        outer[0].val.str = G::String("outer");
        outer[1] = Value<Oper>(xltypeNum);
        outer[1].val.num = 1;
        outer[2] = Value<Oper>(xltypeMulti);
        outer[2].val.array.lparray = inner;
        outer[2].val.array.rows = 1;
        outer[2].val.array.columns = 2;
        outer[3] = Value<Oper>(xltypeRef);
        outer[3].val.mref.lpmref = G::Ref(1);
        o = Value<Oper>(xltypeMulti);
        o.val.array.lparray = outer;
        o.val.array.rows = 2;
        o.val.array.columns = 2;
        add("nested multi", o);
    }
    o = Value<Oper>(xltypeMulti);
    o.val.array.lparray = nullptr;
    o.val.array.rows = 0;
    o.val.array.columns = 3;
    add("empty multi", o);

    for (auto& c : cases) {
        Oper copy = Value<Oper>(xltypeNil);
        G::Copy(&copy, &c.value);
        EXPECT_EQ(copy.xltype, c.value.xltype & xltypeMask) << c.name << ": bare type, no flags";
        ExpectDeepEqual(copy, c.value, c.name);
        // Copying over a held value releases it first (the sanitizers see a leak otherwise).
        G::Copy(&copy, &c.value);
        for (Oper* each : {&copy, &c.value}) {
            G::Free(each);
            EXPECT_EQ(each->xltype, xltypeNil) << c.name;
            G::Free(each);  // a second release does nothing
        }
    }

    Oper unknown = Value<Oper>(0x0200);
    Oper copy = Value<Oper>(xltypeInt);
    G::Copy(&copy, &unknown);
    EXPECT_EQ(copy.xltype, xltypeNil);
    G::Free(&unknown);
    EXPECT_EQ(unknown.xltype, xltypeNil);
}

class Records : public ::testing::Test {
protected:
    void SetUp() override { fakehost::ResetHost(); }
};

TEST_F(Records, CopyAndReleaseEveryTypeXLOPER) { CopyAndReleaseEveryType<XLOPER>(); }
TEST_F(Records, CopyAndReleaseEveryTypeXLOPER12) { CopyAndReleaseEveryType<XLOPER12>(); }

TEST_F(Records, HostValuesGoBackToTheHostAndCopiesBecomeOurOwn) {
    XLOPER narrow{};
    ASSERT_EQ(Excel4(xlGetName, &narrow, 0), xlretSuccess);
    XLOPER12 wide{};
    ASSERT_EQ(Excel12(xlGetName, &wide, 0), xlretSuccess);
    ASSERT_EQ(TheHost().Outstanding(), 2);

    // Copies own their contents and are released with operator delete.
    XLOPER narrowCopy{};
    narrowCopy.xltype = xltypeNil;
    CopyXLOper(&narrowCopy, &narrow);
    EXPECT_EQ(narrowCopy.xltype, xltypeStr);
    FreeXLOper(&narrowCopy);

    // Both flags: the host's flag decides; the host gets it back, once.
    narrow.xltype |= xlbitDLLFree;
    FreeXLOper(&narrow);
    FreeXLOper(&narrow);
    FreeXLOper12(&wide);
    EXPECT_EQ(narrow.xltype, xltypeNil);
    EXPECT_EQ(wide.xltype, xltypeNil);
    EXPECT_EQ(TheHost().Outstanding(), 0);
    EXPECT_EQ(TheHost().badFrees, 0);
    EXPECT_EQ(TheHost().CallsOf(xlFree).size(), 2u);
}

TEST_F(Records, ReferenceBlockSizes) {
    const struct {
        std::uint16_t count;
        std::size_t bytes;
        std::size_t bytes12;
    } cases[] = {{0, 8, 20}, {1, 8, 20}, {3, 20, 52}};
    for (const auto& c : cases) {
        XLMREF* block = RefBlock<XLMREF>(c.count);
        XLMREF12* block12 = RefBlock<XLMREF12>(c.count);
        std::size_t size = 0, size12 = 0;
        XLMREF* copy;
        XLMREF12* copy12;
        {
            allochook::Armed hook;
            copy = CopyMRef(block);
            size = hook.LastSize();
            copy12 = CopyMRef12(block12);
            size12 = hook.LastSize();
        }
        EXPECT_EQ(size, c.bytes) << c.count;
        EXPECT_EQ(size12, c.bytes12) << c.count;
        EXPECT_EQ(copy->count, c.count);
        EXPECT_EQ(copy12->count, c.count);
        for (void* b : {static_cast<void*>(block), static_cast<void*>(block12), static_cast<void*>(copy),
                        static_cast<void*>(copy12)})
            ::operator delete(b);
    }
    EXPECT_EQ(CopyMRef(nullptr), nullptr);
    EXPECT_EQ(CopyMRef12(nullptr), nullptr);
}

TEST_F(Records, FailedCopyKeepsNothing) {
    // Every allocation of a nested copy failing in turn: the destination stays
    // nil and whatever was allocated for it is given back.
    XLOPER12 source{};
    auto* elements = static_cast<XLOPER12*>(::operator new(3 * sizeof(XLOPER12)));
    for (int i = 0; i < 3; ++i) {
        elements[i].xltype = xltypeStr;
        elements[i].val.str = WideString(u"element");
    }
    source.xltype = xltypeMulti;
    source.val.array.lparray = elements;
    source.val.array.rows = 3;
    source.val.array.columns = 1;
    for (long n = 1; n <= 4; ++n) {
        XLOPER12 copy{};
        copy.xltype = xltypeNil;
        allochook::Armed hook(n);
        EXPECT_THROW(CopyXLOper12(&copy, &source), std::bad_alloc) << n;
        EXPECT_EQ(copy.xltype, xltypeNil);
        EXPECT_EQ(hook.Live(), 0) << "allocation " << n << " failing leaked";
    }
    FreeXLOper12(&source);
}

TEST_F(Records, AutoFreeReleasesWhatItIsGiven) {
    xlAutoFree(nullptr);
    xlAutoFree12(nullptr);
    auto* narrow = NewXLOper();
    narrow->xltype = xltypeStr | xlbitDLLFree;
    narrow->val.str = NarrowString("abc");
    xlAutoFree(narrow);
    auto* wide = NewXLOper12();
    wide->xltype = xltypeMulti;  // the flag is not required
    wide->val.array.lparray = static_cast<XLOPER12*>(::operator new(sizeof(XLOPER12)));
    wide->val.array.lparray[0].xltype = xltypeStr;
    wide->val.array.lparray[0].val.str = WideString(u"x");
    wide->val.array.rows = 1;
    wide->val.array.columns = 1;
    xlAutoFree12(wide);
    EXPECT_TRUE(TheHost().calls.empty());
}

}  // namespace

// Value records of both generations: trees of strings (the add-in's own and
// the host's, marked xlbitXLFree), nested arrays, references and plain
// values, built from the input and put through the add-in's copy and release
// routines, the value holder and the return protocol (ReturnCopy, ReturnHeld,
// xlAutoFree), with the input choosing an allocation that fails. After each
// step: a copy equals its source with the flags dropped, a failed copy leaves
// its destination xltypeNil and keeps no block, every block allocated during
// the step is freed by its end, release may run twice, and each host string
// goes back to the recording host exactly once, when its tree is released.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <type_traits>

#include "tests/host/alloc_hook.h"
#include "tests/host/fake_host.h"
#include "text/xlstr.h"
#include "xlapi/callbacks.h"
#include "xlapi/records.h"
#include "xlapi/xloperm.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

unsigned char bigData[16];

template <typename Oper>
struct Gen;

template <>
struct Gen<XLOPER> {
    using Char = char;
    using MRef = XLMREF;
    static constexpr std::size_t maxString = 255;
    static constexpr int minDimension = 0;
    static void Free(XLOPER* o) { FreeXLOper(o); }
    static void Copy(XLOPER* d, const XLOPER* s) { CopyXLOper(d, s); }
    static XLOPER* New() { return NewXLOper(); }
    static void AutoFree(XLOPER* o) { xlAutoFree(o); }
    static int HostString(XLOPER* o) { return Excel4(xlGetName, o, 0); }
    static XLOPER* ReturnCopy(const xloperm& h) { return h.ReturnCopy(); }
    static XLOPER* ReturnHeld(xloperm& h) { return h.ReturnHeld(); }
    static bool OtherGenerationIsNull(const xloperm& h) { return h.ReturnCopy12() == nullptr; }
    static std::size_t Elements(const XLOPER& o) { return std::size_t{o.val.array.rows} * o.val.array.columns; }
};

template <>
struct Gen<XLOPER12> {
    using Char = XCHAR;
    using MRef = XLMREF12;
    static constexpr std::size_t maxString = 300;
    static constexpr int minDimension = -2;  // signed counts; negative ones describe no elements
    static void Free(XLOPER12* o) { FreeXLOper12(o); }
    static void Copy(XLOPER12* d, const XLOPER12* s) { CopyXLOper12(d, s); }
    static XLOPER12* New() { return NewXLOper12(); }
    static void AutoFree(XLOPER12* o) { xlAutoFree12(o); }
    static int HostString(XLOPER12* o) { return Excel12(xlGetName, o, 0); }
    static XLOPER12* ReturnCopy(const xloperm& h) { return h.ReturnCopy12(); }
    static XLOPER12* ReturnHeld(xloperm& h) { return h.ReturnHeld12(); }
    static bool OtherGenerationIsNull(const xloperm& h) { return h.ReturnCopy() == nullptr; }
    static std::size_t Elements(const XLOPER12& o) {
        if (o.val.array.rows <= 0 || o.val.array.columns <= 0) return 0;
        return static_cast<std::size_t>(o.val.array.rows) * static_cast<std::size_t>(o.val.array.columns);
    }
};

struct Tree {
    int nodes = 0;
    int hostStrings = 0;
};

template <typename Oper>
void Build(FuzzedDataProvider& data, Oper& o, int depth, Tree& tree) {
    using G = Gen<Oper>;
    using Char = typename G::Char;
    ++tree.nodes;
    o.xltype = xltypeNil;
    std::memset(&o.val, 0, sizeof o.val);
    const int kind = tree.nodes > 80 ? 0 : data.ConsumeIntegralInRange(0, 14);
    switch (kind) {
    case 0: o.xltype = xltypeNil; break;
    case 1:
        o.xltype = xltypeNum;
        o.val.num = data.ConsumeFloatingPoint<double>();
        break;
    case 2: {  // a string of the add-in's own
        const std::size_t n = data.ConsumeIntegralInRange<std::size_t>(0, G::maxString);
        auto* str = static_cast<Char*>(::operator new((n + 1) * sizeof(Char)));
        str[0] = static_cast<Char>(n);
        for (std::size_t i = 1; i <= n; ++i) str[i] = data.ConsumeIntegral<Char>();
        o.val.str = str;
        o.xltype = xltypeStr;
        break;
    }
    case 3:
        o.val.str = nullptr;
        o.xltype = xltypeStr;
        break;
    case 4: {  // a string of the host's
        std::u16string name;
        const std::size_t n = data.ConsumeIntegralInRange<std::size_t>(0, 255);
        for (std::size_t i = 0; i < n; ++i) name += static_cast<char16_t>(data.ConsumeIntegralInRange(1, 0x7F));
        fakehost::TheHost().moduleName = name;
        Check(G::HostString(&o) == xlretSuccess);
        Check(o.xltype == (xltypeStr | xlbitXLFree));
        ++tree.hostStrings;
        break;
    }
    case 5: {  // a reference block, or none
        o.xltype = xltypeRef;
        o.val.mref.idSheet = data.ConsumeIntegral<IDSHEET>();
        if (data.ConsumeBool()) break;
        using MRef = typename G::MRef;
        const std::uint16_t count = data.ConsumeIntegralInRange<std::uint16_t>(0, 5);
        const std::size_t bytes = offsetof(MRef, reftbl) + sizeof(MRef::reftbl[0]) * (count > 0 ? count : 1);
        auto* block = static_cast<MRef*>(::operator new(bytes));
        std::memset(static_cast<void*>(block), 0, bytes);
        block->count = count;
        for (std::uint16_t i = 0; i < count; ++i) {
            block->reftbl[i].rwFirst = data.ConsumeIntegral<decltype(block->reftbl[i].rwFirst)>();
            block->reftbl[i].rwLast = data.ConsumeIntegral<decltype(block->reftbl[i].rwLast)>();
            block->reftbl[i].colFirst = data.ConsumeIntegral<decltype(block->reftbl[i].colFirst)>();
            block->reftbl[i].colLast = data.ConsumeIntegral<decltype(block->reftbl[i].colLast)>();
        }
        o.val.mref.lpmref = block;
        break;
    }
    case 6: {  // an array, nested up to four deep
        const int rows = depth < 4 ? data.ConsumeIntegralInRange(G::minDimension, 3) : 0;
        const int columns = depth < 4 ? data.ConsumeIntegralInRange(G::minDimension, 3) : 0;
        const std::size_t n = rows > 0 && columns > 0 ? static_cast<std::size_t>(rows * columns) : 0;
        Oper* elements = nullptr;
        // An empty array may still carry a block, which release must take.
        if (n > 0 || data.ConsumeBool()) elements = static_cast<Oper*>(::operator new((n > 0 ? n : 1) * sizeof(Oper)));
        for (std::size_t i = 0; i < n; ++i) Build(data, elements[i], depth + 1, tree);
        o.val.array.lparray = elements;
        o.val.array.rows = static_cast<decltype(o.val.array.rows)>(rows);
        o.val.array.columns = static_cast<decltype(o.val.array.columns)>(columns);
        o.xltype = xltypeMulti;
        break;
    }
    case 7: o.xltype = xltypeBool; o.val.xbool = data.ConsumeIntegral<decltype(o.val.xbool)>(); break;
    case 8: o.xltype = xltypeErr; o.val.err = data.ConsumeIntegral<decltype(o.val.err)>(); break;
    case 9: o.xltype = xltypeInt; o.val.w = data.ConsumeIntegral<decltype(o.val.w)>(); break;
    case 10:
        o.xltype = xltypeSRef;
        o.val.sref.count = 1;
        o.val.sref.ref.rwFirst = data.ConsumeIntegral<decltype(o.val.sref.ref.rwFirst)>();
        o.val.sref.ref.colLast = data.ConsumeIntegral<decltype(o.val.sref.ref.colLast)>();
        break;
    case 11:
        o.xltype = xltypeFlow;
        o.val.flow.valflow.idSheet = data.ConsumeIntegral<IDSHEET>();
        o.val.flow.rw = data.ConsumeIntegral<decltype(o.val.flow.rw)>();
        o.val.flow.col = data.ConsumeIntegral<decltype(o.val.flow.col)>();
        o.val.flow.xlflow = data.ConsumeIntegral<std::uint8_t>();
        break;
    case 12:
        o.xltype = xltypeBigData;
        o.val.bigdata.h.lpbData = bigData;
        o.val.bigdata.cbData = data.ConsumeIntegral<std::int32_t>();
        break;
    case 13: o.xltype = xltypeMissing; break;
    default:  // a type code this add-in does not know; it owns nothing
        o.xltype = data.PickValueInArray({0x0003u, 0x0200u, 0x0801u, 0x0FFFu});
        break;
    }
    // The add-in's flag may be on anything the host hands back.
    if (data.ConsumeIntegralInRange(0, 7) == 0) o.xltype |= xlbitDLLFree;
}

bool Known(std::uint32_t code) {
    switch (code) {
    case xltypeNum: case xltypeStr: case xltypeBool: case xltypeRef: case xltypeErr: case xltypeFlow:
    case xltypeMulti: case xltypeMissing: case xltypeNil: case xltypeSRef: case xltypeInt: case xltypeBigData:
        return true;
    default:
        return false;
    }
}

// A copy equals its source: the bare type code (unknown codes become
// xltypeNil), blocks of its own with the same contents.
template <typename Oper>
void CheckCopy(const Oper& copy, const Oper& source) {
    using G = Gen<Oper>;
    const std::uint32_t code = source.xltype & xltypeMask;
    Check(copy.xltype == (Known(code) ? code : xltypeNil));
    switch (code) {
    case xltypeStr:
        if (source.val.str == nullptr) {
            Check(copy.val.str == nullptr);
        } else {
            Check(copy.val.str != source.val.str);
            const std::size_t n = static_cast<std::make_unsigned_t<typename G::Char>>(source.val.str[0]);
            Check(std::memcmp(copy.val.str, source.val.str, (n + 1) * sizeof source.val.str[0]) == 0);
        }
        break;
    case xltypeRef:
        Check(copy.val.mref.idSheet == source.val.mref.idSheet);
        if (source.val.mref.lpmref == nullptr) {
            Check(copy.val.mref.lpmref == nullptr);
        } else {
            const auto& a = *copy.val.mref.lpmref;
            const auto& b = *source.val.mref.lpmref;
            Check(&a != &b && a.count == b.count);
            for (int i = 0; i < b.count; ++i)
                Check(a.reftbl[i].rwFirst == b.reftbl[i].rwFirst && a.reftbl[i].rwLast == b.reftbl[i].rwLast &&
                      a.reftbl[i].colFirst == b.reftbl[i].colFirst && a.reftbl[i].colLast == b.reftbl[i].colLast);
        }
        break;
    case xltypeMulti: {
        Check(copy.val.array.rows == source.val.array.rows && copy.val.array.columns == source.val.array.columns);
        const std::size_t n = G::Elements(source);
        if (n > 0) Check(copy.val.array.lparray != source.val.array.lparray);
        for (std::size_t i = 0; i < n; ++i) CheckCopy(copy.val.array.lparray[i], source.val.array.lparray[i]);
        break;
    }
    case xltypeNum: Check(std::memcmp(&copy.val.num, &source.val.num, sizeof(double)) == 0); break;
    case xltypeBool: Check(copy.val.xbool == source.val.xbool); break;
    case xltypeErr: Check(copy.val.err == source.val.err); break;
    case xltypeInt: Check(copy.val.w == source.val.w); break;
    case xltypeSRef:
        Check(copy.val.sref.count == source.val.sref.count &&
              copy.val.sref.ref.rwFirst == source.val.sref.ref.rwFirst &&
              copy.val.sref.ref.colLast == source.val.sref.ref.colLast);
        break;
    case xltypeFlow:
        Check(copy.val.flow.valflow.idSheet == source.val.flow.valflow.idSheet &&
              copy.val.flow.rw == source.val.flow.rw && copy.val.flow.col == source.val.flow.col &&
              copy.val.flow.xlflow == source.val.flow.xlflow);
        break;
    case xltypeBigData:
        Check(copy.val.bigdata.h.lpbData == source.val.bigdata.h.lpbData &&
              copy.val.bigdata.cbData == source.val.bigdata.cbData);
        break;
    default: break;
    }
}

// One step with its allocations tracked and the failAt-th of them failing.
// Every block the step allocates must be freed by its end.
template <typename Step>
void Tracked(long failAt, Step step) {
    allochook::Armed hook(failAt);
    bool threw = false;
    try {
        step();
    } catch (const std::bad_alloc&) {
        threw = true;
    }
    Check(!threw || hook.Failed());
    Check(hook.Live() == 0);
}

template <typename Oper>
void Run(FuzzedDataProvider& data) {
    using G = Gen<Oper>;
    Tree tree;
    Oper root;
    Build(data, root, 0, tree);
    fakehost::Host& host = fakehost::TheHost();
    Check(host.Outstanding() == tree.hostStrings);

    while (data.remaining_bytes() > 0) {
        const long failAt = data.ConsumeIntegralInRange(0, 3) == 0 ? data.ConsumeIntegralInRange(1, 12) : 0;
        switch (data.ConsumeIntegralInRange(0, 4)) {
        case 0:  // a copy, checked, released twice
            Tracked(failAt, [&] {
                Oper* copy = G::New();
                try {
                    G::Copy(copy, &root);
                } catch (const std::bad_alloc&) {
                    Check(copy->xltype == xltypeNil);
                    ::operator delete(copy);
                    throw;
                }
                CheckCopy(*copy, root);
                G::Free(copy);
                Check(copy->xltype == xltypeNil);
                G::Free(copy);
                ::operator delete(copy);
            });
            break;
        case 1:  // a copy over a copy: the destination is released first
            Tracked(failAt, [&] {
                Oper destination;
                destination.xltype = xltypeNil;
                try {
                    G::Copy(&destination, &root);
                    G::Copy(&destination, &root);
                } catch (const std::bad_alloc&) {
                    Check(destination.xltype == xltypeNil);
                    throw;
                }
                CheckCopy(destination, root);
                G::Free(&destination);
            });
            break;
        case 2:  // a holder's copy handed to the host and given back
            Tracked(failAt, [&] {
                xloperm holder(&root);
                Check(G::OtherGenerationIsNull(holder));
                Oper* returned = G::ReturnCopy(holder);
                Check((returned->xltype & xlbitDLLFree) != 0);
                const std::uint32_t code = root.xltype & xltypeMask;
                Check((returned->xltype & ~xlbitDLLFree) == (Known(code) ? code : xltypeNil));
                Oper bare = *returned;
                bare.xltype &= ~xlbitDLLFree;
                CheckCopy(bare, root);
                G::AutoFree(returned);
            });
            break;
        case 3:  // the holder's own record handed over
            Tracked(failAt, [&] {
                xloperm holder(&root);
                const void* record = holder.value;
                Oper* returned = G::ReturnHeld(holder);
                Check(static_cast<const void*>(returned) == record && holder.value == nullptr);
                Check((returned->xltype & xlbitDLLFree) != 0);
                G::AutoFree(returned);
            });
            break;
        default:  // the text of a held string
            Tracked(failAt, [&] {
                const xloperm holder(&root);
                xlstr text(holder);
                Check(text.HasText() == ((root.xltype & xltypeMask) == xltypeStr && root.val.str != nullptr));
            });
            break;
        }
        // Copies never give the host's strings back; only the tree's release does.
        Check(host.Outstanding() == tree.hostStrings && host.badFrees == 0);
    }

    G::Free(&root);
    Check(root.xltype == xltypeNil);
    G::Free(&root);
    Check(host.Outstanding() == 0 && host.badFrees == 0 && host.freed == tree.hostStrings);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    fakehost::ResetHost();
    FuzzedDataProvider data(bytes, size);
    if (data.ConsumeBool())
        Run<XLOPER>(data);
    else
        Run<XLOPER12>(data);
    return 0;
}

#include "xlapi/records.h"

#include <algorithm>
#include <cstring>

#include "text/alloc.h"
#include "xlapi/callbacks.h"

namespace {

void GiveBackToHost(XLOPER* oper) { Excel4(xlFree, nullptr, 1, oper); }
void GiveBackToHost(XLOPER12* oper) { Excel12(xlFree, nullptr, 1, oper); }

std::size_t ElementCount(const XLOPER& oper) {
    return std::size_t{oper.val.array.rows} * oper.val.array.columns;
}

std::size_t ElementCount(const XLOPER12& oper) {
    // Negative dimensions describe no elements.
    if (oper.val.array.rows <= 0 || oper.val.array.columns <= 0) return 0;
    return BlockSize(static_cast<std::size_t>(oper.val.array.rows),
                     static_cast<std::size_t>(oper.val.array.columns));
}

std::size_t StringBytes(const char* str) { return std::size_t{static_cast<unsigned char>(str[0])} + 1; }
std::size_t StringBytes(const XCHAR* str) { return (std::size_t{str[0]} + 1) * sizeof(XCHAR); }

XLMREF* CopyRefBlock(const XLMREF* block) { return CopyMRef(block); }
XLMREF12* CopyRefBlock(const XLMREF12* block) { return CopyMRef12(block); }

void Free(XLOPER* oper) { FreeXLOper(oper); }
void Free(XLOPER12* oper) { FreeXLOper12(oper); }

template <typename Oper>
void FreeOper(Oper* oper) {
    if (oper->xltype & xlbitXLFree) {
        GiveBackToHost(oper);
        oper->xltype = xltypeNil;
        return;
    }
    switch (oper->xltype & xltypeMask) {
    case xltypeStr:
        FreeBlock(oper->val.str);
        break;
    case xltypeMulti:
        if (oper->val.array.lparray != nullptr) {
            const std::size_t n = ElementCount(*oper);
            for (std::size_t i = 0; i < n; ++i) Free(&oper->val.array.lparray[i]);
            FreeBlock(oper->val.array.lparray);
        }
        break;
    case xltypeRef:
        FreeBlock(oper->val.mref.lpmref);
        break;
    default:
        break;
    }
    oper->xltype = xltypeNil;
}

// Elements copied so far into a new array block; released again unless the
// copy completes.
template <typename Oper>
struct PartialArray {
    Oper* elements;
    std::size_t copied = 0;
    ~PartialArray() {
        if (elements == nullptr) return;
        for (std::size_t i = 0; i < copied; ++i) Free(&elements[i]);
        FreeBlock(elements);
    }
};

void Copy(XLOPER* destination, const XLOPER* source) { CopyXLOper(destination, source); }
void Copy(XLOPER12* destination, const XLOPER12* source) { CopyXLOper12(destination, source); }

template <typename Oper>
void CopyOper(Oper* destination, const Oper* source) {
    Free(destination);
    const auto type = source->xltype & xltypeMask;
    switch (type) {
    case xltypeStr:
        destination->val.str = nullptr;
        if (source->val.str != nullptr) {
            const std::size_t bytes = StringBytes(source->val.str);
            void* block = AllocateBlock(bytes);
            std::memcpy(block, source->val.str, bytes);
            destination->val.str = static_cast<decltype(source->val.str)>(block);
        }
        break;
    case xltypeRef:
        destination->val.mref.lpmref = CopyRefBlock(source->val.mref.lpmref);
        destination->val.mref.idSheet = source->val.mref.idSheet;
        break;
    case xltypeMulti: {
        const std::size_t n = ElementCount(*source);
        PartialArray<Oper> array{nullptr};
        if (n > 0) {
            array.elements = static_cast<Oper*>(AllocateBlock(BlockSize(n, sizeof(Oper))));
            for (std::size_t i = 0; i < n; ++i) {
                array.elements[i].xltype = xltypeNil;
                Copy(&array.elements[i], &source->val.array.lparray[i]);
                array.copied = i + 1;
            }
        }
        // An empty array gets a null element block, which release accepts.
        destination->val.array.lparray = array.elements;
        destination->val.array.rows = source->val.array.rows;
        destination->val.array.columns = source->val.array.columns;
        array.elements = nullptr;
        break;
    }
    case xltypeNum:
    case xltypeBool:
    case xltypeErr:
    case xltypeFlow:
    case xltypeSRef:
    case xltypeInt:
    case xltypeBigData:
        // Values that own nothing (big data shares its data): the value part as it is.
        std::memcpy(&destination->val, &source->val, sizeof source->val);
        break;
    case xltypeMissing:
    case xltypeNil:
        break;
    default:
        return;  // a type this add-in does not know stays xltypeNil
    }
    destination->xltype = type;
}

template <typename Block>
Block* CopyRefs(const Block* source) {
    if (source == nullptr) return nullptr;
    const std::size_t entries = std::max<std::size_t>(source->count, 1);
    auto* copy = static_cast<Block*>(AllocateBlock(offsetof(Block, reftbl) + entries * sizeof source->reftbl[0]));
    copy->count = source->count;
    std::memcpy(copy->reftbl, source->reftbl, source->count * sizeof source->reftbl[0]);
    return copy;
}

}  // namespace

void FreeXLOper(XLOPER* oper) { FreeOper(oper); }
void FreeXLOper12(XLOPER12* oper) { FreeOper(oper); }
void CopyXLOper(XLOPER* destination, const XLOPER* source) { CopyOper(destination, source); }
void CopyXLOper12(XLOPER12* destination, const XLOPER12* source) { CopyOper(destination, source); }
XLMREF* CopyMRef(const XLMREF* source) { return CopyRefs(source); }
XLMREF12* CopyMRef12(const XLMREF12* source) { return CopyRefs(source); }

XLOPER* NewXLOper() {
    auto* oper = static_cast<XLOPER*>(AllocateBlock(sizeof(XLOPER)));
    oper->xltype = xltypeNil;
    return oper;
}

XLOPER12* NewXLOper12() {
    auto* oper = static_cast<XLOPER12*>(AllocateBlock(sizeof(XLOPER12)));
    oper->xltype = xltypeNil;
    return oper;
}

extern "C" void __cdecl xlAutoFree(LPXLOPER oper) {
    if (oper == nullptr) return;
    FreeXLOper(oper);
    FreeBlock(oper);
}

extern "C" void __cdecl xlAutoFree12(LPXLOPER12 oper) {
    if (oper == nullptr) return;
    FreeXLOper12(oper);
    FreeBlock(oper);
}

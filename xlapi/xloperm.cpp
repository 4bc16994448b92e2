#include "xlapi/xloperm.h"

#include <cstdarg>
#include <memory>
#include <utility>

#include "text/alloc.h"
#include "xlapi/callbacks.h"
#include "xlapi/records.h"

namespace {

constexpr int kMaxExcel4Args = 30;
constexpr int kMaxExcel12Args = 255;

struct FreeBlockDeleter {
    void operator()(void* block) const { FreeBlock(block); }
};

template <typename Oper>
using OwnedRecord = std::unique_ptr<Oper, FreeBlockDeleter>;

void Copy(XLOPER* destination, const XLOPER* source) { CopyXLOper(destination, source); }
void Copy(XLOPER12* destination, const XLOPER12* source) { CopyXLOper12(destination, source); }
XLOPER* NewRecord(const XLOPER*) { return NewXLOper(); }
XLOPER12* NewRecord(const XLOPER12*) { return NewXLOper12(); }

// A fresh deep copy of a held record, marked for the host to hand back.
template <typename Oper>
Oper* MarkedCopy(const Oper* held) {
    if (held == nullptr) return nullptr;
    OwnedRecord<Oper> copy(NewRecord(held));
    Copy(copy.get(), held);
    copy->xltype |= xlbitDLLFree;
    return copy.release();
}

// Calls the host in the generation of the result holder with the records of
// `count` holders; a null holder, an empty one or one of the other generation
// passes a null pointer. The result is reset even when the call is refused.
template <typename HolderAt>
int CallHost(xloperm& result, int xlfn, int count, HolderAt holderAt) {
    result.Reset();
    if (result.width == 0) {
        if (static_cast<unsigned>(count) > kMaxExcel4Args) return xlretInvCount;
        LPXLOPER opers[kMaxExcel4Args];
        for (int i = 0; i < count; ++i) {
            const xloperm* holder = holderAt(i);
            opers[i] = holder != nullptr ? holder->AsXLOper() : nullptr;
        }
        return Excel4v(xlfn, result.AsXLOper(), count, opers);
    }
    if (static_cast<unsigned>(count) > kMaxExcel12Args) return xlretInvCount;
    LPXLOPER12 opers[kMaxExcel12Args];
    for (int i = 0; i < count; ++i) {
        const xloperm* holder = holderAt(i);
        opers[i] = holder != nullptr ? holder->AsXLOper12() : nullptr;
    }
    return Excel12v(xlfn, result.AsXLOper12(), count, opers);
}

}  // namespace

xloperm::xloperm() : width(HostVersion() > 11 ? 1 : 0) {}

xloperm::xloperm(std::int32_t width) : width(width) {}

xloperm::xloperm(const XLOPER* source) : width(0) {
    if (source == nullptr) return;
    OwnedRecord<XLOPER> record(NewXLOper());
    CopyXLOper(record.get(), source);
    value = record.release();
}

xloperm::xloperm(const XLOPER12* source) : width(1) {
    if (source == nullptr) return;
    OwnedRecord<XLOPER12> record(NewXLOper12());
    CopyXLOper12(record.get(), source);
    value = record.release();
}

xloperm::~xloperm() { Clear(); }

void xloperm::Clear() {
    if (value == nullptr) return;
    if (width == 0)
        FreeXLOper(static_cast<XLOPER*>(value));
    else
        FreeXLOper12(static_cast<XLOPER12*>(value));
    FreeBlock(value);
    value = nullptr;
}

std::uint16_t xloperm::Type() const {
    if (value == nullptr) return xltypeNil;
    if (width == 0) return static_cast<XLOPER*>(value)->xltype;
    return static_cast<std::uint16_t>(static_cast<XLOPER12*>(value)->xltype);
}

void xloperm::Reset() {
    Clear();
    if (width == 0)
        value = NewXLOper();
    else
        value = NewXLOper12();
}

void xloperm::SetStr(const xlstr& text) {
    xlstr copy;
    copy = text;
    SetStr(std::move(copy));
}

void xloperm::SetStr(xlstr&& text) {
    Reset();
    // The record stays xltypeNil until it holds a valid string pointer, so a
    // conversion that fails leaves a well-formed holder.
    if (width == 0) {
        XLOPER* oper = AsXLOper();
        oper->val.str = text.DetachCounted();
        oper->xltype = xltypeStr;
    } else {
        XLOPER12* oper = static_cast<XLOPER12*>(value);
        oper->val.str = text.CountedW();
        text.Detach();
        oper->xltype = xltypeStr;
    }
}

void xloperm::Retype(std::uint32_t type) {
    if (value != nullptr && (Type() & xltypeMask) == type) return;
    Reset();
    if (width == 0)
        AsXLOper()->xltype = static_cast<std::uint16_t>(type);
    else
        static_cast<XLOPER12*>(value)->xltype = type;
}

void xloperm::SetInt(std::int32_t number) {
    Retype(xltypeInt);
    if (width == 0) {
        const std::int32_t clamped = number > 32767 ? 32767 : number < -32768 ? -32768 : number;
        AsXLOper()->val.w = static_cast<std::int16_t>(clamped);
    } else {
        static_cast<XLOPER12*>(value)->val.w = number;
    }
}

void xloperm::SetErr(std::uint16_t code) {
    Retype(xltypeErr);
    if (width == 0)
        AsXLOper()->val.err = code;
    else
        static_cast<XLOPER12*>(value)->val.err = code;
}

XLOPER* xloperm::ReturnCopy() const { return MarkedCopy(AsXLOper()); }

XLOPER12* xloperm::ReturnCopy12() const { return MarkedCopy(AsXLOper12()); }

namespace {

template <typename Oper>
Oper* HandOver(void*& value) {
    auto* held = static_cast<Oper*>(value);
    held->xltype = (held->xltype & xltypeMask) | xlbitDLLFree;
    value = nullptr;
    return held;
}

}  // namespace

XLOPER* xloperm::ReturnHeld() {
    XLOPER* held = AsXLOper();
    if (held == nullptr) return nullptr;
    if (held->xltype & xlbitXLFree) return ReturnCopy();
    return HandOver<XLOPER>(value);
}

XLOPER12* xloperm::ReturnHeld12() {
    XLOPER12* held = AsXLOper12();
    if (held == nullptr) return nullptr;
    if (held->xltype & xlbitXLFree) return ReturnCopy12();
    return HandOver<XLOPER12>(value);
}

xlstr::xlstr(const xloperm& holder) {
    if ((holder.Type() & xltypeMask) != xltypeStr) return;
    if (holder.width == 0)
        AssignCounted(static_cast<const XLOPER*>(holder.value)->val.str);
    else
        AssignCountedW(static_cast<const XLOPER12*>(holder.value)->val.str);
}

int ExcelCall(xloperm& result, int xlfn, int count, ...) {
    // Arguments are read only when the call will be made: a refused count is
    // never trusted to describe the list.
    const xloperm* holders[kMaxExcel12Args];
    const int limit = result.width == 0 ? kMaxExcel4Args : kMaxExcel12Args;
    if (static_cast<unsigned>(count) <= static_cast<unsigned>(limit)) {
        va_list args;
        va_start(args, count);
        for (int i = 0; i < count; ++i) holders[i] = va_arg(args, const xloperm*);
        va_end(args);
    }
    return CallHost(result, xlfn, count, [&](int i) { return holders[i]; });
}

int ExcelRegister(xloperm& result, int count, const xloperm* holders) {
    return CallHost(result, xlfRegister, count, [&](int i) { return &holders[i]; });
}

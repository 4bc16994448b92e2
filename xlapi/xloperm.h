// xloperm: owns one host value record of either generation (width 0: XLOPER,
// width 1: XLOPER12) and builds host values from the add-in's own data.
//
// The width is fixed at construction; only the default constructor takes it
// from the host version, so code that may run on calculation threads passes
// the width itself. Holders are never copied member-wise: the deep copies are
// the constructors from a record and ReturnCopy/ReturnCopy12.
//
// Allocation failure raises std::bad_alloc out of any operation.
#pragma once

#include <cstdint>

#include "text/xlstr.h"
#include "xlapi/xltypes.h"

struct xloperm {
    void* value = nullptr;  // XLOPER (width 0) or XLOPER12 (width 1), owned
    std::int32_t width;

    xloperm();
    explicit xloperm(std::int32_t width);
    explicit xloperm(const XLOPER* source);
    explicit xloperm(const XLOPER12* source);
    virtual ~xloperm();

    xloperm(const xloperm&) = delete;
    xloperm& operator=(const xloperm&) = delete;

    XLOPER* AsXLOper() const { return width == 0 ? static_cast<XLOPER*>(value) : nullptr; }
    XLOPER12* AsXLOper12() const { return width == 1 ? static_cast<XLOPER12*>(value) : nullptr; }
    // The type word with its flag bits; xltypeNil for an empty holder.
    std::uint16_t Type() const;

    // Releases the held record and holds a fresh xltypeNil one of the width.
    void Reset();
    // A host string of the text: byte-counted in the ANSI code page (count at
    // most 255) for width 0, word-counted UTF-16 (at most 32767) for width 1.
    // A holder without text gives a string record with a null pointer.
    // The caller's text is copied first and left as it was.
    void SetStr(const xlstr& text);
    // The same without the copy: the text is converted in its own holder
    // (read under its own code page) and its buffer becomes the string, so
    // the text is left empty. A conversion that fails leaves the text as it
    // was and the held record xltypeNil.
    void SetStr(xlstr&& text);
    // An integer; width 0 clamps it to 16 bits.
    void SetInt(std::int32_t number);
    void SetErr(std::uint16_t code);

    // A heap copy of the held record marked xlbitDLLFree, for the host to
    // give back through xlAutoFree/xlAutoFree12; null when the holder holds
    // no record of that generation.
    XLOPER* ReturnCopy() const;
    XLOPER12* ReturnCopy12() const;
    // The held record itself for the host, marked xlbitDLLFree, with the bare
    // type code; the holder is left empty. It came from operator new like a
    // copy, so xlAutoFree/xlAutoFree12 release it the same way, and the
    // holder's last act saves a copy and a release. A record that holds the
    // host's memory (xlbitXLFree) is not handed on: the host gets a copy as
    // from ReturnCopy/ReturnCopy12. Null when the holder holds no record of
    // that generation.
    XLOPER* ReturnHeld();
    XLOPER12* ReturnHeld12();

private:
    void Clear();
    // Holds a record of the type: the held one if it has it, else a fresh one.
    void Retype(std::uint32_t type);
};

// Calls the host in the generation of the result holder, with `count`
// arguments of type `const xloperm*` (null, empty or of the other generation
// pass a null pointer). More than 30 (width 0) or 255 (width 1) arguments are
// refused with xlretInvCount without calling the host.
int ExcelCall(xloperm& result, int xlfn, int count, ...);
// xlfRegister with `count` holders from a contiguous array, under the same limits.
int ExcelRegister(xloperm& result, int count, const xloperm* holders);

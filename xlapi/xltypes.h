// The value records of the Excel C API and its numbers: type codes, flags,
// result codes, function numbers. Written from the host's published layout;
// on a 32-bit build the sizes and offsets are checked below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

using XCHAR = char16_t;  // one UTF-16 unit of an XLOPER12 string
using RW = std::int32_t;
using COL = std::int32_t;
using IDSHEET = std::uintptr_t;  // 32 bits on a 32-bit host, pointer-sized on 64-bit

struct XLREF {
    std::uint16_t rwFirst;
    std::uint16_t rwLast;
    std::uint8_t colFirst;
    std::uint8_t colLast;
};

struct XLMREF {
    std::uint16_t count;
    XLREF reftbl[1];  // `count` entries; a block always has room for one
};

struct XLREF12 {
    RW rwFirst;
    RW rwLast;
    COL colFirst;
    COL colLast;
};

struct XLMREF12 {
    std::uint16_t count;
    XLREF12 reftbl[1];
};

struct XLOPER {
    union {
        double num;
        char* str;  // first byte: unsigned length; no terminator
        std::uint16_t xbool;
        std::uint16_t err;
        std::int16_t w;
        struct {
            std::uint16_t count;
            XLREF ref;
        } sref;
        struct {
            XLMREF* lpmref;
            IDSHEET idSheet;
        } mref;
        struct {
            XLOPER* lparray;
            std::uint16_t rows;
            std::uint16_t columns;
        } array;
        struct {
            union {
                std::int16_t level;
                std::int16_t tbctrl;
                IDSHEET idSheet;
            } valflow;
            std::uint16_t rw;
            std::uint8_t col;
            std::uint8_t xlflow;
        } flow;
        struct {
            union {
                std::uint8_t* lpbData;
                void* hdata;
            } h;
            std::int32_t cbData;
        } bigdata;
    } val;
    std::uint16_t xltype;
};

struct XLOPER12 {
    union {
        double num;
        XCHAR* str;  // first unit: unsigned length; no terminator
        std::int32_t xbool;
        std::int32_t err;
        std::int32_t w;
        struct {
            std::uint16_t count;
            XLREF12 ref;
        } sref;
        struct {
            XLMREF12* lpmref;
            IDSHEET idSheet;
        } mref;
        struct {
            XLOPER12* lparray;
            RW rows;
            COL columns;
        } array;
        struct {
            union {
                std::int32_t level;
                std::int32_t tbctrl;
                IDSHEET idSheet;
            } valflow;
            RW rw;
            COL col;
            std::uint8_t xlflow;
        } flow;
        struct {
            union {
                std::uint8_t* lpbData;
                void* hdata;
            } h;
            std::int32_t cbData;
        } bigdata;
    } val;
    std::uint32_t xltype;
};

using LPXLOPER = XLOPER*;
using LPXLOPER12 = XLOPER12*;

// Type codes (low 12 bits of the type word) and flags.
constexpr std::uint32_t xltypeNum = 0x0001;
constexpr std::uint32_t xltypeStr = 0x0002;
constexpr std::uint32_t xltypeBool = 0x0004;
constexpr std::uint32_t xltypeRef = 0x0008;
constexpr std::uint32_t xltypeErr = 0x0010;
constexpr std::uint32_t xltypeFlow = 0x0020;
constexpr std::uint32_t xltypeMulti = 0x0040;
constexpr std::uint32_t xltypeMissing = 0x0080;
constexpr std::uint32_t xltypeNil = 0x0100;
constexpr std::uint32_t xltypeSRef = 0x0400;
constexpr std::uint32_t xltypeInt = 0x0800;
constexpr std::uint32_t xltypeBigData = xltypeStr | xltypeInt;
constexpr std::uint32_t xltypeMask = 0x0FFF;
constexpr std::uint32_t xlbitXLFree = 0x1000;
constexpr std::uint32_t xlbitDLLFree = 0x4000;
constexpr std::uint32_t xlbitsMask = 0xF000;

// Error values.
constexpr int xlerrNull = 0;
constexpr int xlerrDiv0 = 7;
constexpr int xlerrValue = 15;
constexpr int xlerrRef = 23;
constexpr int xlerrName = 29;
constexpr int xlerrNum = 36;
constexpr int xlerrNA = 42;

// Result codes of the callbacks.
constexpr int xlretSuccess = 0;
constexpr int xlretAbort = 1;
constexpr int xlretInvXlfn = 2;
constexpr int xlretInvCount = 4;
constexpr int xlretInvXloper = 8;
constexpr int xlretStackOvfl = 16;
constexpr int xlretFailed = 32;
constexpr int xlretUncalced = 64;

// Function numbers.
constexpr int xlSpecial = 0x4000;
constexpr int xlFree = 0 | xlSpecial;
constexpr int xlCoerce = 2 | xlSpecial;
constexpr int xlGetName = 9 | xlSpecial;
constexpr int xlfSetName = 88;
constexpr int xlfRegister = 149;
constexpr int xlfUnregister = 201;
constexpr int xlfGetWorkspace = 186;

// The host's XLOPER12 callback, exported by the host as "MdCallBack12".
using EXCEL12PROC = int(__stdcall*)(int xlfn, int count, LPXLOPER12* opers, LPXLOPER12 operRes);

#if INTPTR_MAX == INT32_MAX
static_assert(sizeof(XLOPER) == 16 && offsetof(XLOPER, xltype) == 8, "XLOPER layout");
static_assert(sizeof(XLOPER12) == 32 && offsetof(XLOPER12, xltype) == 24, "XLOPER12 layout");
static_assert(sizeof(XLREF) == 6 && offsetof(XLMREF, reftbl) == 2 && sizeof(XLMREF) == 8,
              "XLMREF layout");
static_assert(sizeof(XLREF12) == 16 && offsetof(XLMREF12, reftbl) == 4 && sizeof(XLMREF12) == 20,
              "XLMREF12 layout");
static_assert(offsetof(XLOPER, val.mref.idSheet) == 4 && offsetof(XLOPER, val.array.rows) == 4 &&
                  offsetof(XLOPER, val.array.columns) == 6 && offsetof(XLOPER, val.flow.rw) == 4 &&
                  offsetof(XLOPER, val.flow.col) == 6 && offsetof(XLOPER, val.flow.xlflow) == 7 &&
                  offsetof(XLOPER, val.sref.ref) == 2 && offsetof(XLOPER, val.bigdata.cbData) == 4,
              "XLOPER field offsets");
static_assert(offsetof(XLOPER12, val.mref.idSheet) == 4 && offsetof(XLOPER12, val.array.rows) == 4 &&
                  offsetof(XLOPER12, val.array.columns) == 8 &&
                  offsetof(XLOPER12, val.flow.rw) == 4 && offsetof(XLOPER12, val.flow.col) == 8 &&
                  offsetof(XLOPER12, val.flow.xlflow) == 12 &&
                  offsetof(XLOPER12, val.sref.ref) == 4 &&
                  offsetof(XLOPER12, val.bigdata.cbData) == 4,
              "XLOPER12 field offsets");
#endif

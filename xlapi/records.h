// Release and deep copy of host value records, and the records handed back by
// the host through xlAutoFree/xlAutoFree12.
//
// A record marked xlbitXLFree holds the host's memory, which goes back with
// xlFree; any other record owns its string, array and reference blocks, which
// come from operator new. A released record is left as xltypeNil; a copy
// first releases its destination and carries the bare type code, no flags.
#pragma once

#include "xlapi/xltypes.h"

void FreeXLOper(XLOPER* oper);
void FreeXLOper12(XLOPER12* oper);

// Allocation failure raises std::bad_alloc; the destination is then left as
// xltypeNil and nothing allocated for it is kept.
void CopyXLOper(XLOPER* destination, const XLOPER* source);
void CopyXLOper12(XLOPER12* destination, const XLOPER12* source);
XLMREF* CopyMRef(const XLMREF* source);
XLMREF12* CopyMRef12(const XLMREF12* source);

// A fresh record of the generation, from operator new, typed xltypeNil.
XLOPER* NewXLOper();
XLOPER12* NewXLOper12();

extern "C" {
void __cdecl xlAutoFree(LPXLOPER oper);
void __cdecl xlAutoFree12(LPXLOPER12 oper);
}

// The callbacks into the host, in both API generations, and the host's major
// version, which chooses between them.
//
// Excel4/Excel4v come from the host library XLCall32.dll, bound on first use;
// Excel12/Excel12v go through the host's "MdCallBack12", found in the host
// process or handed over by SetExcel12EntryPt. The stored callback and the
// version cache are written without locks: only the host's main thread (open,
// close, Add-in Manager) reaches them; worksheet procedures never call the host.
#pragma once

#include "xlapi/xltypes.h"

extern "C" {
int __cdecl Excel4(int xlfn, LPXLOPER operRes, int count, ...);
int __stdcall Excel4v(int xlfn, LPXLOPER operRes, int count, LPXLOPER opers[]);
void __stdcall SetExcel12EntryPt(EXCEL12PROC entryPoint);
}

// At most 255 argument pointers; 4 for more (or a negative count), 32 when
// no XLOPER12 callback can be found (checked first).
int __cdecl Excel12(int xlfn, LPXLOPER12 operRes, int count, ...);
// Forwards any count unchecked; 32 when no XLOPER12 callback can be found.
int __stdcall Excel12v(int xlfn, LPXLOPER12 operRes, int count, LPXLOPER12 opers[]);

// The stored XLOPER12 callback, looking for "MdCallBack12" in the host
// process while none is stored. Null when there is none.
EXCEL12PROC LocateExcel12EntryPt();

// Asks the host for its version text and reads its leading number (atol);
// -1 when the call fails or the answer is not a string.
int QueryHostVersion();

// The host's major version, asked once per process: 12 or more selects the
// XLOPER12 generation; -1 stands for a query that gave no version.
int HostVersion();

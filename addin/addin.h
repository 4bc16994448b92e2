// The add-in's face to the host: open, close, the Add-in Manager, and the
// function table that opening registers and closing unregisters.
#pragma once

#include <cstdint>

#include "xlapi/xltypes.h"

class RegistFuncs;

// Action 0 registers every function of the table, action 1 removes every
// name; the code of the last record that failed, or 0. Any other action does
// nothing. The table is built on the first call, whatever the action.
int DoFunctionTable(std::int32_t action);

extern "C" {
int __cdecl xlAutoOpen();
int __cdecl xlAutoClose();
LPXLOPER __cdecl xlAddInManagerInfo(LPXLOPER action);
LPXLOPER12 __cdecl xlAddInManagerInfo12(LPXLOPER12 action);
}

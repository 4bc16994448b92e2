// The one header through which portable code reaches the operating system.
//
// Everything above platform/ calls the Windows names declared here (code-page
// conversion, _wfsopen, module and procedure lookup) and the calling-convention
// keywords __stdcall and __cdecl. On Windows they are the real ones; on Linux
// they come from a small layer of our own with the same contracts, used by the
// native unit tests only.
//
// UTF-16 text is char16_t throughout the portable code. On Windows, where the
// system's wide type is wchar_t (also 16 bits), the char16_t overloads below
// forward to the system calls unchanged.
#pragma once

#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
#include "platform/win32/win32.h"
#else
#include "platform/linux/win32_compat.h"
#endif

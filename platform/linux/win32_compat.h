// Linux: the few Windows calls the add-in makes, with the same contracts as the
// add-in relies on them. Used by the native test build only.
//
// Code pages: CP_UTF8 (65001) and CP_ACP (0). CP_ACP is fixed to Windows-1252
// here, a table of our own. Conversions behave as Windows does with flags 0
// and no default character, with one simplification: Windows maps a character
// that Windows-1252 lacks to a "best fit" look-alike where it has one (U+0100
// to 'A'); this layer always writes '?', one per UTF-16 unit.
//   - an invalid UTF-8 sequence decodes to U+FFFD (one per maximal invalid part);
//   - a lone surrogate encodes to UTF-8 as U+FFFD;
//   - a source length of -1 converts up to and including the terminator;
//   - a target of 0 units asks for the size; a target that is too small gets
//     nothing written past its end and the call returns 0.
// Other code pages are refused (return 0), as Windows refuses unknown ones.
#pragma once

#include <cstdint>
#include <cstdio>

#define __stdcall
#define __cdecl
#define WINAPI

using UINT = unsigned int;
using DWORD = std::uint32_t;
using BOOL = int;
using HMODULE = void*;
using FARPROC = void (*)();

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
constexpr int _SH_DENYNO = 0x40;

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceLength,
                        char16_t* target, int targetUnits);
int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* source, int sourceLength,
                        char* target, int targetBytes, const char* defaultChar, BOOL* usedDefault);

// Opens the file whose UTF-16 path is given (as UTF-8 on this system). A
// directory, a missing file or one that cannot be read yields null, as on
// Windows. The share flag has no meaning here and is ignored.
std::FILE* _wfsopen(const char16_t* path, const char16_t* mode, int shareFlag);

// GetModuleHandleW(nullptr) is the running program; GetProcAddress finds the
// symbols it exports (the test executable is linked to export its symbols).
HMODULE GetModuleHandleW(const char16_t* name);
FARPROC GetProcAddress(HMODULE module, const char* name);

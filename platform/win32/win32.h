// Windows: the real system calls, with char16_t overloads for portable code.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <share.h>
#include <stdio.h>

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 units are 16 bits on Windows");

inline int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceLength,
                               char16_t* target, int targetUnits) {
    return ::MultiByteToWideChar(codePage, flags, source, sourceLength,
                                 reinterpret_cast<LPWSTR>(target), targetUnits);
}

inline int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* source, int sourceLength,
                               char* target, int targetBytes, const char* defaultChar,
                               BOOL* usedDefault) {
    return ::WideCharToMultiByte(codePage, flags, reinterpret_cast<LPCWSTR>(source), sourceLength,
                                 target, targetBytes, defaultChar, usedDefault);
}

inline FILE* _wfsopen(const char16_t* path, const char16_t* mode, int shareFlag) {
    return ::_wfsopen(reinterpret_cast<const wchar_t*>(path),
                      reinterpret_cast<const wchar_t*>(mode), shareFlag);
}

inline HMODULE LoadLibraryW(const char16_t* name) {
    return ::LoadLibraryW(reinterpret_cast<LPCWSTR>(name));
}

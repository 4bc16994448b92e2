// The Linux code-page layer under other names, and the Windows names as
// counting wrappers around it, so that a benchmark can tell how many
// conversion calls a worksheet call makes.
#define MultiByteToWideChar LayerMultiByteToWideChar
#define WideCharToMultiByte LayerWideCharToMultiByte
#include "platform/linux/codepage.cpp"
#undef MultiByteToWideChar
#undef WideCharToMultiByte

#include "bench/counting.h"

int MultiByteToWideChar(UINT codePage, DWORD flags, const char* source, int sourceLength,
                        char16_t* target, int targetUnits) {
    counting::CountConversion();
    return LayerMultiByteToWideChar(codePage, flags, source, sourceLength, target, targetUnits);
}

int WideCharToMultiByte(UINT codePage, DWORD flags, const char16_t* source, int sourceLength,
                        char* target, int targetBytes, const char* defaultChar, BOOL* usedDefault) {
    counting::CountConversion();
    return LayerWideCharToMultiByte(codePage, flags, source, sourceLength, target, targetBytes,
                                    defaultChar, usedDefault);
}

// The running program is the only module: GetProcAddress finds what the
// executable exports (tests link with their symbols exported, playing the host).
#include <dlfcn.h>

#include "platform/platform.h"

HMODULE GetModuleHandleW(const char16_t* name) {
    if (name != nullptr) return nullptr;
    return ::dlopen(nullptr, RTLD_NOW | RTLD_NOLOAD);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<FARPROC>(::dlsym(module, name));
}

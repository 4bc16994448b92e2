// The library entry point: the add-in does its work only when the host calls
// its exports, so every notification is simply accepted.
#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

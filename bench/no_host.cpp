// The benchmark plays a host that is never called: the worksheet procedures
// and xlAutoFree/xlAutoFree12 never call back into the host, and the
// benchmark opens nothing else. The callbacks exist only to link the module's
// objects; any call would be a finding, so it is refused.
#include "xlapi/callbacks.h"

extern "C" int __stdcall Excel4v(int, LPXLOPER, int, LPXLOPER[]) { return xlretFailed; }
extern "C" int __cdecl Excel4(int, LPXLOPER, int, ...) { return xlretFailed; }

// A recording fake of Excel for the native tests: it implements Excel4 and
// Excel4v, exports "MdCallBack12" from the test executable (the variant built
// without it only offers the callback for SetExcel12EntryPt), answers the few
// requests the add-in makes, and records every call with a deep copy of its
// arguments.
//
// Strings it hands out are marked xlbitXLFree and come from malloc, not from
// operator new, so an add-in that released them itself instead of through
// xlFree would be caught by the sanitizers; Outstanding() counts those not
// yet given back.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "xlapi/xltypes.h"

namespace fakehost {

// One argument of a recorded call, decoded.
struct Arg {
    bool null = false;        // a null argument pointer
    std::uint32_t type = 0;   // the full type word
    std::string narrow;       // xltypeStr of an XLOPER: the counted bytes
    std::u16string wide;      // xltypeStr of an XLOPER12: the counted units
    bool nullString = false;  // xltypeStr with a null pointer
    std::int32_t integer = 0; // xltypeInt, xltypeErr, xltypeBool
    double number = 0;        // xltypeNum
};

struct Call {
    int generation;  // 4 or 12
    int xlfn;
    int count;
    bool nullResult;
    std::vector<Arg> args;
};

enum class VersionAnswer { Text, NotAString, CallFails };

struct Host {
    // Answers.
    VersionAnswer versionAnswer = VersionAnswer::Text;
    std::string versionText = "16.0";
    std::u16string moduleName = u"C:\\AddIns\\Kestrova.xll";
    bool getNameFails = false;
    bool coerceFails = false;
    // The result code of a call, by function number and by how many calls of
    // that number came before it (0 for the first).
    std::function<int(int xlfn, int nth)> resultCode = [](int, int) { return xlretSuccess; };

    // Recording.
    std::vector<Call> calls;
    int allocations = 0;  // strings handed out
    int freed = 0;        // given back through xlFree
    int badFrees = 0;     // xlFree of something the host never handed out

    int Outstanding() const { return allocations - freed; }
    std::vector<Call> CallsOf(int xlfn) const;
};

// The single host of the process, reset to its defaults.
Host& TheHost();
void ResetHost();

// The XLOPER12 callback itself, under a name of its own: the executable built
// without the "MdCallBack12" export hands this to SetExcel12EntryPt.
int __stdcall HostCallback12(int xlfn, int count, LPXLOPER12* opers, LPXLOPER12 operRes);

}  // namespace fakehost

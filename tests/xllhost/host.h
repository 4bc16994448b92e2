// xllhost: an Excel-like host for testing add-ins (XLLs) under Windows or
// Wine. It answers the C API callbacks an add-in makes while it opens,
// describes itself and closes, calls the registered worksheet functions by
// their worksheet names, and reports every step as one JSON object per line.
// It keeps the books an add-in must balance with its host (records it hands
// back, host allocations it frees) and fails when they do not balance.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

#include "xlapi/xltypes.h"

namespace xllhost {

// A SRWLOCK held for one scope; std::mutex is not there with every mingw
// thread model.
class Guard {
public:
    explicit Guard(SRWLOCK& lock) : lock_(lock) { AcquireSRWLockExclusive(&lock_); }
    ~Guard() { ReleaseSRWLockExclusive(&lock_); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    SRWLOCK& lock_;
};

// Writes whole lines to stdout, one thread at a time, flushed at once so a
// crash loses nothing that was reported before it.
void Emit(const std::string& line);

struct Registration {
    int generation = 0;  // 4 (XLOPER) or 12 (XLOPER12): the callback it came through
    double id = 0;
    std::u16string procedure;
    std::u16string typeText;
    std::u16string functionText;
    void* entry = nullptr;  // the procedure in the add-in
};

struct HostState {
    std::u16string versionText = u"16.0";
    HMODULE addin = nullptr;
    std::u16string modulePath;  // as Windows reports the loaded module's name
    DWORD mainThread = 0;

    SRWLOCK lock = SRWLOCK_INIT;  // guards everything below
    std::map<std::string, Registration> functions;  // by upper-case worksheet name
    std::vector<std::u16string> removedNames;
    std::set<const void*> hostBlocks;  // strings we handed out marked xlbitXLFree
    std::set<const void*> outstanding;  // add-in records not yet given back
    long registrations = 0;  // successful xlfRegister calls
    long hostAllocated = 0;
    long hostFreed = 0;
    long autoFree4 = 0;
    long autoFree12 = 0;
    long workerCallbacks = 0;
    long breaches = 0;
    double nextId = 1001;
};

HostState& State();

// Reports a protocol breach and counts it; the host exits non-zero at the end.
void Breach(const std::string& what, const std::string& detailJson = "");

// The callbacks: XLOPER12 through the exported "MdCallBack12", XLOPER through
// the export that XLCall32.dll forwards Excel4 and Excel4v to.
int Dispatch12(int xlfn, int count, XLOPER12** opers, XLOPER12* result);
int Dispatch4(int xlfn, int count, XLOPER** opers, XLOPER* result);

// JSON for one value record (null for a null pointer).
std::string Describe(const XLOPER* value);
std::string Describe(const XLOPER12* value);

// Text of a string record: UTF-16 units, or the bytes read in the ANSI code
// page for an XLOPER.
std::u16string TextOf(const XLOPER* value);
std::u16string TextOf(const XLOPER12* value);

std::u16string FromAnsi(const std::string& bytes);
std::string ToAnsi(const std::u16string& text);
std::string Hex(const void* data, size_t size);
std::string Number(double value);

}  // namespace xllhost

// RegistFuncs: everything the host needs to register one worksheet function,
// for both API generations at once, and to remove its name again.
//
// A record owns copies of its texts (wide, NUL-terminated) and the array of
// its argument descriptions; it holds nothing of the host's and is immutable
// once built. Register and Unregister run on the host's main thread only.
#pragma once

#include <cstdint>
#include <memory>

#include "text/xlstr.h"

class RegistFuncs {
public:
    // Eight texts, then one argument description per argument that the
    // argument text names (1 + its commas; none when it is empty). A null text
    // leaves its field empty.
    RegistFuncs(const char16_t* category, const char16_t* functionText, const char16_t* procedure4,
                const char16_t* procedure12, const char16_t* typeText4, const char16_t* typeText12,
                const char16_t* functionHelp, const char16_t* argumentText, ...);
    virtual ~RegistFuncs();

    // xlfRegister with the procedure and type text that fit the host version;
    // the host's result code.
    int Register() const;
    // xlfSetName with the worksheet name alone, which removes the name.
    int Unregister() const;

    std::uint32_t ArgumentCount() const { return argumentCount; }

private:
    xlstr procedure4;
    xlstr procedure12;
    xlstr functionText;
    xlstr typeText4;
    xlstr typeText12;
    xlstr functionHelp;
    xlstr argumentText;
    xlstr category;
    std::unique_ptr<xlstr[]> argumentHelp;
    std::uint32_t argumentCount = 0;
    bool withHelp = true;
};

// A copy of the add-in's full path as the host names it (xlGetName), cached
// once the host has answered; empty while it has not.
xlstr ModuleName();

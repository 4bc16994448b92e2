// The host's input and output format: one JSON object per line.
//
// Texts are UTF-16 inside the host, so the parser turns every JSON string
// straight into UTF-16 units, \uXXXX escapes included; a lone surrogate written
// as an escape survives, which lets a script hand the add-in malformed UTF-16
// on purpose. The writer escapes everything outside printable ASCII, so the
// output is plain ASCII whatever console code page Wine gives the process.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace xllhost {

struct Json {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    double number = 0;
    std::u16string text;
    std::vector<Json> items;
    std::map<std::string, Json> members;  // keys are ASCII in our scripts

    const Json* Get(const std::string& key) const;
    bool IsString() const { return kind == Kind::String; }
    bool IsNumber() const { return kind == Kind::Number; }
};

// Parses one JSON value that spans the whole line; false with a message on
// malformed input.
bool ParseJson(const std::string& line, Json& out, std::string& error);

// UTF-16 <-> UTF-8. Ill-formed UTF-8 decodes each bad byte as U+FFFD.
std::u16string Utf8ToUtf16(const std::string& text);

// A JSON string literal (quotes included) for UTF-16 text; lone surrogates
// become \uXXXX escapes of their own, as Python's json module reads them.
std::string JsonString(const std::u16string& text);
std::string JsonString(const std::string& ascii);

}  // namespace xllhost

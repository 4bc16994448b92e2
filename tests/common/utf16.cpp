#include <string>

#include "platform/platform.h"
#include "tests/common/temp_file.h"

std::u16string Utf16(const std::string& utf8) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::u16string out(static_cast<std::size_t>(units), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, out.data(), units);
    out.pop_back();
    return out;
}

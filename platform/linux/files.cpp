// _wfsopen: the UTF-16 path is opened as UTF-8. Windows refuses to open a
// directory as a file; fopen here would accept it, so it is refused first.
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"

namespace {

std::string ToUtf8(const char16_t* text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return {};
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), bytes, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(bytes) - 1);
    return out;
}

}  // namespace

std::FILE* _wfsopen(const char16_t* path, const char16_t* mode, int) {
    if (path == nullptr || mode == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    const std::string name = ToUtf8(path);
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        errno = EACCES;
        return nullptr;
    }
    return std::fopen(name.c_str(), ToUtf8(mode).c_str());
}

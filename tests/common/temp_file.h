// Files the tests make and remove again.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/kestrova-test-XXXXXX";
        const char* made = ::mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
    }
    ~TempDir() {
        if (!path_.empty()) std::system(("rm -rf '" + path_ + "'").c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }

    // Writes a file of `content` under this directory and returns its path.
    std::string Write(const std::string& name, const std::string& content) const {
        const std::string path = path_ + "/" + name;
        if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
            std::fwrite(content.data(), 1, content.size(), f);
            std::fclose(f);
        }
        return path;
    }

private:
    std::string path_;
};

// Deterministic file content of a given size.
inline std::string PatternBytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) % 251);
    return bytes;
}

// UTF-8 to UTF-16 for paths held wide in tests.
std::u16string Utf16(const std::string& utf8);

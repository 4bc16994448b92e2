// Hashes a few texts and a file through the hashing pipelines and prints each
// beside the digest of an independent tool, for a person to compare at a glance.
#include <cstdio>
#include <cstring>
#include <string>

#include "digest/md5.h"
#include "digest/pipelines.h"

int main(int argc, char** argv) {
    struct Row {
        const char* formula;
        void (*pipeline)(xlstr&, CDigest&);
        const char16_t* text;
    };
    const Row rows[] = {
        {"=MBSTR2MD5(\"abc\")", HashMultiByte, u"abc"},
        {"=WCSTR2MD5(\"abc\")", HashWideChar, u"abc"},
        {"=MBSTR2MD5UTF8(\"\u6587\u5b57\u5217\")", HashUtf8, u"\u6587\u5b57\u5217"},
        {"=MBSTR2MD5(\"\")", HashMultiByte, u""},
    };
    std::printf("%-34s %s\n", "formula", "result");
    for (const auto& row : rows) {
        CMD5 md5;
        xlstr text;
        text.AssignW(row.text);
        row.pipeline(text, md5);
        std::printf("%-34s %s\n", row.formula, text.NarrowText());
    }
    for (int i = 1; i < argc; ++i) {
        CMD5 md5;
        xlstr path;
        path.Assign(argv[i]);
        const bool opened = HashFile(path, md5);
        std::printf("=FILE2MD5(\"%s\")  %s\n", argv[i], opened ? path.NarrowText() : "#N/A");
    }
    return 0;
}

// xlstr: owns one text buffer in one of four storage forms, with the code page
// of its narrow form, and converts between them.
//
//   form 0  narrow, NUL-terminated            (length + 1 bytes)
//   form 1  wide (UTF-16), NUL-terminated     ((length + 1) * 2 bytes)
//   form 2  narrow, byte-counted (XLOPER)     made in place from form 0
//   form 3  wide, word-counted (XLOPER12)     made in place from form 1
//
// Buffers come from the global operator new and go back through operator
// delete, so a buffer can pass into a host string without a copy. Every
// assignment releases the old text and resets the code page to CP_ACP (0).
// Counts are clamped to 255 (form 2) and 32767 (form 3); a longer text keeps
// all of its characters behind the clamped count.
//
// Allocation failure raises std::bad_alloc: an assignment leaves the holder
// empty, a conversion leaves the old text in place.
#pragma once

#include <cstdint>

struct xloperm;

class xlstr {
public:
    enum Form : std::int32_t { Narrow = 0, Wide = 1, NarrowCounted = 2, WideCounted = 3 };

    static constexpr std::uint32_t maxCountedNarrow = 255;
    static constexpr std::uint32_t maxCountedWide = 32767;

    xlstr() = default;
    xlstr(const xlstr& other);
    explicit xlstr(const xloperm& value);  // the text of a held host string; defined with xloperm
    virtual ~xlstr();

    xlstr& operator=(const xlstr& other);

    void Assign(const char* text);
    void AssignW(const char16_t* text);
    void AssignCounted(const char* counted);
    void AssignCountedW(const char16_t* counted);

    void SetCodePage(std::uint32_t cp);

    const char* ToNarrow();
    const char16_t* ToWide();
    const char* NarrowText();
    const char16_t* WideText();
    char* DetachCounted();
    char16_t* CountedW();
    void* Detach();

    bool HasText() const { return buffer != nullptr; }
    Form GetForm() const { return form; }
    std::uint32_t GetCodePage() const { return codePage; }

private:
    void Release();
    void Store(const void* units, std::size_t count, std::size_t unitSize, Form newForm);
    void UncountNarrow();
    void UncountWide();

    void* buffer = nullptr;
    std::uint32_t codePage = 0;
    Form form = Narrow;
};

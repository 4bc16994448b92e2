// xlstr driven by a sequence of operations decoded from the input, on two
// holders, beside a model of what each must hold: whether it has a text, its
// form and code page, and after each assignment the text itself. After every
// step each holder is checked: the terminator or count of its form lies
// inside the buffer (AddressSanitizer sees every byte read), counts keep to
// 255 and 32767, and a buffer handed out by DetachCounted or Detach is freed
// here by its new owner. An operation may be made to meet an allocation
// failure, after which an assignment leaves the holder empty and a conversion
// leaves its text.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "tests/host/alloc_hook.h"
#include "text/xlstr.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

struct Model {
    bool has = false;
    xlstr::Form form = xlstr::Narrow;
    std::uint32_t codePage = 0;
};

bool Narrow(xlstr::Form f) { return f == xlstr::Narrow || f == xlstr::NarrowCounted; }

// A text of the input's choosing: its bytes, or a long run of one unit so
// that the clamps are reached from a short input. May hold zero units.
template <typename Unit>
std::basic_string<Unit> Text(FuzzedDataProvider& data) {
    if (data.ConsumeBool()) {
        std::basic_string<Unit> text;
        const std::size_t n = data.ConsumeIntegralInRange<std::size_t>(0, 64);
        for (std::size_t i = 0; i < n && data.remaining_bytes() > 0; ++i) text += data.ConsumeIntegral<Unit>();
        return text;
    }
    const std::size_t n = data.ConsumeIntegralInRange<std::size_t>(0, 70000);
    return std::basic_string<Unit>(n, data.ConsumeIntegral<Unit>());
}

// Reads every unit the form says the buffer has; returns the text's length.
std::size_t Inspect(xlstr& s, const Model& m) {
    Check(s.HasText() == m.has);
    Check(s.GetCodePage() == m.codePage);
    if (!m.has) return 0;
    Check(s.GetForm() == m.form);
    volatile unsigned sum = 0;
    switch (s.GetForm()) {
    case xlstr::Narrow: {
        const char* p = s.ToNarrow();  // no change in this form
        std::size_t n = std::strlen(p);
        return n;
    }
    case xlstr::Wide: {
        const char16_t* p = s.ToWide();
        std::size_t n = 0;
        while (p[n] != 0) ++n;
        return n;
    }
    case xlstr::NarrowCounted: {
        const auto* p = reinterpret_cast<const unsigned char*>(s.ToNarrow());
        for (std::size_t i = 1; i <= p[0]; ++i) sum = sum + p[i];
        return p[0];
    }
    case xlstr::WideCounted: {
        const char16_t* p = s.ToWide();
        Check(p[0] <= xlstr::maxCountedWide);
        for (std::size_t i = 1; i <= p[0]; ++i) sum = sum + p[i];
        return p[0];
    }
    }
    Check(false);
    return 0;
}

template <typename Unit>
std::basic_string<Unit> UpToZero(const std::basic_string<Unit>& text) {
    return text.substr(0, text.find(Unit{0}));
}

// The count that CountedW (wide) or DetachCounted (narrow) must write, found
// through other operations on a copy; -1 when a copy cannot tell: a narrow
// text under a code page other than CP_ACP, which a copy reads under CP_ACP.
long ExpectedCount(xlstr& s, bool wide) {
    if (!s.HasText()) return -1;
    const xlstr::Form form = s.GetForm();
    if (Narrow(form) && s.GetCodePage() != 0) return -1;
    // A counted text of the same width keeps its count.
    if (!wide && form == xlstr::NarrowCounted) return reinterpret_cast<const unsigned char*>(s.ToNarrow())[0];
    if (wide && form == xlstr::WideCounted) return s.ToWide()[0];
    xlstr copy(s);
    if (wide) {
        const char16_t* text = copy.WideText();
        std::size_t n = 0;
        while (text[n] != 0) ++n;
        return static_cast<long>(std::min<std::size_t>(n, xlstr::maxCountedWide));
    }
    return static_cast<long>(std::min<std::size_t>(std::strlen(copy.NarrowText()), xlstr::maxCountedNarrow));
}

// Runs one operation on a holder, its n-th allocation failing (0: none);
// true when it ran out of memory. Only the operation is armed, not the
// checks around it.
template <typename Operation>
bool RanOutOfMemory(long failAt, Operation operation) {
    allochook::Armed hook(failAt);
    try {
        operation();
    } catch (const std::bad_alloc&) {
        return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    FuzzedDataProvider data(bytes, size);
    xlstr holders[2];
    Model models[2];
    while (data.remaining_bytes() > 0) {
        const int which = data.ConsumeBool() ? 1 : 0;
        xlstr& s = holders[which];
        Model& m = models[which];
        const int op = data.ConsumeIntegralInRange(0, 14);
        const long failing = data.ConsumeIntegralInRange(0, 7) == 0 ? data.ConsumeIntegralInRange(1, 3) : 0;
        const Model before = m;
        bool assignment = false;
        bool threw = false;
        switch (op) {
        case 0: {  // Assign, a text or null
            const bool null = data.ConsumeIntegralInRange(0, 5) == 0;
            const std::string text = Text<char>(data);
            assignment = true;
            threw = RanOutOfMemory(failing, [&] { s.Assign(null ? nullptr : text.c_str()); });
            m = {!null, xlstr::Narrow, 0};
            if (!null && !threw) Check(std::string(s.ToNarrow()) == UpToZero(text));
            break;
        }
        case 1: {
            const bool null = data.ConsumeIntegralInRange(0, 5) == 0;
            const std::u16string text = Text<char16_t>(data);
            assignment = true;
            threw = RanOutOfMemory(failing, [&] { s.AssignW(null ? nullptr : text.c_str()); });
            m = {!null, xlstr::Wide, 0};
            if (!null && !threw) Check(std::u16string(s.ToWide()) == UpToZero(text));
            break;
        }
        case 2: {  // AssignCounted: the count byte, then exactly that many bytes
            std::string text = Text<char>(data);
            text.resize(std::min<std::size_t>(text.size(), 255));
            const bool null = data.ConsumeIntegralInRange(0, 5) == 0;
            const std::string counted = static_cast<char>(text.size()) + text;
            assignment = true;
            threw = RanOutOfMemory(failing, [&] { s.AssignCounted(null ? nullptr : counted.data()); });
            m = {!null, xlstr::Narrow, 0};
            if (!null && !threw) Check(std::string(s.ToNarrow()) == UpToZero(text));
            break;
        }
        case 3: {
            std::u16string text = Text<char16_t>(data);
            text.resize(std::min<std::size_t>(text.size(), 65535));
            const bool null = data.ConsumeIntegralInRange(0, 5) == 0;
            const std::u16string counted = static_cast<char16_t>(text.size()) + text;
            assignment = true;
            threw = RanOutOfMemory(failing, [&] { s.AssignCountedW(null ? nullptr : counted.data()); });
            m = {!null, xlstr::Wide, 0};
            if (!null && !threw) Check(std::u16string(s.ToWide()) == UpToZero(text));
            break;
        }
        case 4: {  // copy-assignment from the other holder, or from itself
            const int from = data.ConsumeBool() ? which : 1 - which;
            assignment = from != which;
            threw = RanOutOfMemory(failing, [&] { s = holders[from]; });
            if (from != which) m = {models[from].has, models[from].form, 0};
            if (from != which && !threw && m.has) {
                // The same units in the same form: compare what both hold.
                Model other = models[from];
                Check(Inspect(s, m) == Inspect(holders[from], other));
            }
            break;
        }
        case 5: {  // copy construction: the same text, code page 0, the original untouched
            threw = RanOutOfMemory(failing, [&] {
                xlstr copy(s);
                Check(copy.HasText() == m.has && copy.GetCodePage() == 0);
                if (m.has) {
                    const Model copyModel{m.has, m.form, 0};
                    Check(Inspect(copy, copyModel) == Inspect(s, m));
                }
            });
            break;
        }
        case 6: {
            const std::uint32_t cp = data.ConsumeBool() ? 65001 : 0;
            threw = RanOutOfMemory(failing, [&] { s.SetCodePage(cp); });
            if (cp != m.codePage && m.has && Narrow(m.form)) m.form = xlstr::Wide;
            m.codePage = cp;
            break;
        }
        case 7:
            threw = RanOutOfMemory(failing, [&] { Check((s.ToNarrow() != nullptr) == m.has); });
            if (!Narrow(m.form)) m.form = xlstr::Narrow;
            break;
        case 8:
            threw = RanOutOfMemory(failing, [&] { Check((s.ToWide() != nullptr) == m.has); });
            if (Narrow(m.form)) m.form = xlstr::Wide;
            break;
        case 9:
            threw = RanOutOfMemory(failing, [&] { Check((s.NarrowText() != nullptr) == m.has); });
            m.form = xlstr::Narrow;
            break;
        case 10:
            threw = RanOutOfMemory(failing, [&] { Check((s.WideText() != nullptr) == m.has); });
            m.form = xlstr::Wide;
            break;
        case 11: {
            const long expected = ExpectedCount(s, true);
            const char16_t* counted = nullptr;
            threw = RanOutOfMemory(failing, [&] { counted = s.CountedW(); });
            if (!threw) {
                Check((counted != nullptr) == m.has);
                if (m.has) Check(counted[0] <= xlstr::maxCountedWide);
                if (expected >= 0) Check(counted[0] == expected);
            }
            m.form = xlstr::WideCounted;
            m.codePage = 0;
            break;
        }
        case 12: {  // DetachCounted: the new owner reads the count's bytes and frees them
            const long expected = ExpectedCount(s, false);
            char* detached = nullptr;
            threw = RanOutOfMemory(failing, [&] { detached = s.DetachCounted(); });
            if (!threw) {
                Check((detached != nullptr) == m.has);
                if (detached != nullptr) {
                    const auto* p = reinterpret_cast<const unsigned char*>(detached);
                    if (expected >= 0) Check(p[0] == expected);
                    volatile unsigned sum = 0;
                    for (std::size_t i = 1; i <= p[0]; ++i) sum = sum + p[i];
                }
                ::operator delete(detached);
                m = {false, xlstr::Narrow, 0};
            }
            break;
        }
        case 13: {  // Detach: the new owner frees the buffer whatever its form
            void* detached = s.Detach();
            Check((detached != nullptr) == m.has);
            ::operator delete(detached);
            m.has = false;
            break;
        }
        default: {  // through the counted wide form and back: the same units
            std::u16string seen;
            threw = RanOutOfMemory(failing, [&] {
                if (const char16_t* counted = s.CountedW()) seen.assign(counted + 1, counted[0]);
            });
            m.codePage = 0;
            if (!threw && m.has) {
                m.form = xlstr::WideCounted;
                Check(std::u16string(s.WideText()) == UpToZero(seen));
                m.form = xlstr::Wide;
            }
            break;
        }
        }
        if (threw) {
            Check(failing != 0);
            if (assignment) {
                // An assignment has let its old text go first: the holder is empty.
                Check(!s.HasText() && s.GetCodePage() == 0);
                m = {false, xlstr::Narrow, 0};
            } else {
                // A conversion keeps the text: made uncounted in place, or
                // already converted by a step that succeeded before the one
                // that failed; the code page may have been reset on the way.
                Check(s.HasText() == before.has);
                m = before;
                if (m.has) m.form = s.GetForm();
                Check(s.GetCodePage() == before.codePage || s.GetCodePage() == 0);
                m.codePage = s.GetCodePage();
            }
        }
        for (int i = 0; i < 2; ++i) {
            const std::size_t length = Inspect(holders[i], models[i]);
            if (models[i].has && models[i].form == xlstr::NarrowCounted) Check(length <= xlstr::maxCountedNarrow);
        }
    }
    return 0;
}

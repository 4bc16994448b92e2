#include "tests/xllhost/json.h"

#include <cstdio>
#include <cstdlib>

namespace xllhost {

const Json* Json::Get(const std::string& key) const {
    if (kind != Kind::Object) return nullptr;
    auto it = members.find(key);
    return it == members.end() ? nullptr : &it->second;
}

namespace {

class Parser {
public:
    explicit Parser(const std::string& s) : s_(s) {}

    bool Parse(Json& out, std::string& error) {
        if (!Value(out, 0)) {
            error = error_ + " at byte " + std::to_string(pos_);
            return false;
        }
        SkipBlanks();
        if (pos_ != s_.size()) {
            error = "trailing characters at byte " + std::to_string(pos_);
            return false;
        }
        return true;
    }

private:
    bool Fail(const char* message) {
        error_ = message;
        return false;
    }

    void SkipBlanks() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\r' || s_[pos_] == '\n'))
            ++pos_;
    }

    bool Literal(const char* word) {
        std::string w(word);
        if (s_.compare(pos_, w.size(), w) != 0) return Fail("unknown literal");
        pos_ += w.size();
        return true;
    }

    bool Value(Json& out, int depth) {
        if (depth > 32) return Fail("nested too deeply");
        SkipBlanks();
        if (pos_ >= s_.size()) return Fail("value expected");
        char c = s_[pos_];
        if (c == '{') return Object(out, depth);
        if (c == '[') return Array(out, depth);
        if (c == '"') {
            out.kind = Json::Kind::String;
            return String(out.text);
        }
        if (c == 't') {
            out.kind = Json::Kind::Bool;
            out.boolean = true;
            return Literal("true");
        }
        if (c == 'f') {
            out.kind = Json::Kind::Bool;
            return Literal("false");
        }
        if (c == 'n') {
            out.kind = Json::Kind::Null;
            return Literal("null");
        }
        return Number(out);
    }

    bool Number(Json& out) {
        const char* begin = s_.c_str() + pos_;
        char* end = nullptr;
        double value = std::strtod(begin, &end);
        if (end == begin) return Fail("value expected");
        pos_ += static_cast<size_t>(end - begin);
        out.kind = Json::Kind::Number;
        out.number = value;
        return true;
    }

    bool Hex4(unsigned& unit) {
        if (pos_ + 4 > s_.size()) return Fail("short \\u escape");
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            char h = s_[pos_++];
            unit <<= 4;
            if (h >= '0' && h <= '9') unit |= static_cast<unsigned>(h - '0');
            else if (h >= 'a' && h <= 'f') unit |= static_cast<unsigned>(h - 'a' + 10);
            else if (h >= 'A' && h <= 'F') unit |= static_cast<unsigned>(h - 'A' + 10);
            else return Fail("bad \\u escape");
        }
        return true;
    }

    bool String(std::u16string& out) {
        ++pos_;  // opening quote
        std::string raw;  // UTF-8 run between escapes
        auto flush = [&] {
            out += Utf8ToUtf16(raw);
            raw.clear();
        };
        while (pos_ < s_.size()) {
            char c = s_[pos_++];
            if (c == '"') {
                flush();
                return true;
            }
            if (c != '\\') {
                raw += c;
                continue;
            }
            if (pos_ >= s_.size()) break;
            char e = s_[pos_++];
            switch (e) {
                case '"': raw += '"'; break;
                case '\\': raw += '\\'; break;
                case '/': raw += '/'; break;
                case 'b': raw += '\b'; break;
                case 'f': raw += '\f'; break;
                case 'n': raw += '\n'; break;
                case 'r': raw += '\r'; break;
                case 't': raw += '\t'; break;
                case 'u': {
                    unsigned unit = 0;
                    if (!Hex4(unit)) return false;
                    flush();
                    out += static_cast<char16_t>(unit);
                    break;
                }
                default: return Fail("bad escape");
            }
        }
        return Fail("unterminated string");
    }

    bool Array(Json& out, int depth) {
        ++pos_;
        out.kind = Json::Kind::Array;
        SkipBlanks();
        if (pos_ < s_.size() && s_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            Json item;
            if (!Value(item, depth + 1)) return false;
            out.items.push_back(std::move(item));
            SkipBlanks();
            if (pos_ >= s_.size()) return Fail("unterminated array");
            char c = s_[pos_++];
            if (c == ']') return true;
            if (c != ',') return Fail("',' or ']' expected");
        }
    }

    bool Object(Json& out, int depth) {
        ++pos_;
        out.kind = Json::Kind::Object;
        SkipBlanks();
        if (pos_ < s_.size() && s_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            SkipBlanks();
            if (pos_ >= s_.size() || s_[pos_] != '"') return Fail("key expected");
            std::u16string key;
            if (!String(key)) return false;
            SkipBlanks();
            if (pos_ >= s_.size() || s_[pos_++] != ':') return Fail("':' expected");
            Json value;
            if (!Value(value, depth + 1)) return false;
            std::string narrowKey;
            for (char16_t u : key) narrowKey += static_cast<char>(u < 0x80 ? u : '?');
            out.members[narrowKey] = std::move(value);
            SkipBlanks();
            if (pos_ >= s_.size()) return Fail("unterminated object");
            char c = s_[pos_++];
            if (c == '}') return true;
            if (c != ',') return Fail("',' or '}' expected");
        }
    }

    const std::string& s_;
    size_t pos_ = 0;
    std::string error_;
};

void AppendUnit(std::u16string& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
        out += static_cast<char16_t>(cp);
    }
}

}  // namespace

bool ParseJson(const std::string& line, Json& out, std::string& error) {
    return Parser(line).Parse(out, error);
}

std::u16string Utf8ToUtf16(const std::string& text) {
    std::u16string out;
    size_t i = 0;
    const size_t n = text.size();
    while (i < n) {
        auto b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80 ? 0 : (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
        char32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        bool ok = extra >= 0 && i + static_cast<size_t>(extra) < n;
        for (int k = 1; ok && k <= extra; ++k) {
            auto c = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
            if ((c & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (c & 0x3F);
        }
        static const char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
        if (ok && (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) ok = false;
        if (!ok) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        AppendUnit(out, cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

std::string JsonString(const std::u16string& text) {
    std::string out = "\"";
    char buf[8];
    for (char16_t u : text) {
        if (u == '"') out += "\\\"";
        else if (u == '\\') out += "\\\\";
        else if (u >= 0x20 && u < 0x7F) out += static_cast<char>(u);
        else {
            std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(u));
            out += buf;
        }
    }
    return out + "\"";
}

std::string JsonString(const std::string& ascii) {
    std::u16string wide;
    for (char c : ascii) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
    return JsonString(wide);
}

}  // namespace xllhost

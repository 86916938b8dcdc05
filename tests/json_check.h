// A small check of RFC 8259 syntax, shared by the tests and the fuzz
// targets: true when text is one JSON value and nothing else, and no
// object holds a key twice (which RFC 8259 allows but loaders choke on).
#pragma once

#include <cctype>
#include <cstring>
#include <set>
#include <string>

namespace test {

// A small recursive-descent check of RFC 8259 syntax.
struct json_checker {
    const std::string& s;
    size_t i = 0;
    int depth = 0;
    void blank() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    }
    bool literal(const char* word) {
        size_t n = strlen(word);
        if (s.compare(i, n, word) != 0) return false;
        i += n;
        return true;
    }
    bool string() {
        if (i >= s.size() || s[i] != '"') return false;
        for (++i; i < s.size(); ++i) {
            auto c = static_cast<unsigned char>(s[i]);
            if (c == '"') {
                ++i;
                return true;
            }
            if (c < 0x20) return false;
            if (c == '\\') {
                if (++i >= s.size()) return false;
                char e = s[i];
                if (e == 'u') {
                    for (int k = 0; k < 4; ++k)
                        if (++i >= s.size() || !isxdigit(static_cast<unsigned char>(s[i]))) return false;
                } else if (!strchr("\"\\/bfnrt", e)) {
                    return false;
                }
            }
        }
        return false;
    }
    bool number() {
        size_t start = i;
        if (i < s.size() && s[i] == '-') ++i;
        if (i >= s.size() || !isdigit(static_cast<unsigned char>(s[i]))) return false;
        if (s[i] == '0') ++i;
        else while (i < s.size() && isdigit(static_cast<unsigned char>(s[i]))) ++i;
        if (i < s.size() && s[i] == '.') {
            ++i;
            if (i >= s.size() || !isdigit(static_cast<unsigned char>(s[i]))) return false;
            while (i < s.size() && isdigit(static_cast<unsigned char>(s[i]))) ++i;
        }
        return i > start;
    }
    bool value() {
        if (++depth > 64) return false;
        blank();
        bool ok = false;
        if (i >= s.size()) return false;
        if (s[i] == '{') {
            ++i;
            blank();
            ok = true;
            if (i < s.size() && s[i] == '}') {
                ++i;
            } else {
                std::set<std::string> keys;  // as written, escapes and all
                for (;;) {
                    blank();
                    size_t key = i;
                    if (!string()) return false;
                    if (!keys.insert(s.substr(key, i - key)).second) return false;
                    blank();
                    if (i >= s.size() || s[i++] != ':') return false;
                    if (!value()) return false;
                    blank();
                    if (i < s.size() && s[i] == ',') { ++i; continue; }
                    if (i < s.size() && s[i] == '}') { ++i; break; }
                    return false;
                }
            }
        } else if (s[i] == '[') {
            ++i;
            blank();
            ok = true;
            if (i < s.size() && s[i] == ']') {
                ++i;
            } else {
                for (;;) {
                    if (!value()) return false;
                    blank();
                    if (i < s.size() && s[i] == ',') { ++i; continue; }
                    if (i < s.size() && s[i] == ']') { ++i; break; }
                    return false;
                }
            }
        } else if (s[i] == '"') {
            ok = string();
        } else if (s[i] == 't') {
            ok = literal("true");
        } else if (s[i] == 'f') {
            ok = literal("false");
        } else if (s[i] == 'n') {
            ok = literal("null");
        } else {
            ok = number();
        }
        --depth;
        return ok;
    }
};

inline bool json_text_is_valid(const std::string& text) {
    json_checker c{text};
    if (!c.value()) return false;
    c.blank();
    return c.i == text.size();
}

}  // namespace test

// A small DER writer for the LDAP, Kerberos and X.509 tests: messages are
// written as nested elements, so that a reader can check them against the
// ASN.1 modules of RFC 4511, RFC 4120 and RFC 5280.
#pragma once

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>

#include "../../support.h"

namespace berf {

using test::bytes;

inline bytes der(uint8_t tag, const bytes& content) {
    bytes out{tag};
    size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<uint8_t>(n));
    } else {
        bytes length;
        for (size_t k = n; k; k >>= 8) length.insert(length.begin(), static_cast<uint8_t>(k));
        out.push_back(static_cast<uint8_t>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}
inline bytes der(uint8_t tag, std::initializer_list<bytes> parts) { return der(tag, test::concat(parts)); }
inline bytes text(uint8_t tag, const std::string& s) { return der(tag, bytes(s.begin(), s.end())); }
inline bytes octets(const std::string& s) { return text(0x04, s); }
inline bytes seq(std::initializer_list<bytes> parts) { return der(0x30, parts); }
inline bytes set(std::initializer_list<bytes> parts) { return der(0x31, parts); }

// INTEGER (tag 0x02) or ENUMERATED (0x0a), in the fewest octets.
inline bytes integer(long long v, uint8_t tag = 0x02) {
    bytes content;
    do {
        content.insert(content.begin(), static_cast<uint8_t>(v & 0xff));
        v >>= 8;
    } while (!((v == 0 && !(content[0] & 0x80)) || (v == -1 && (content[0] & 0x80))));
    return der(tag, content);
}
inline bytes enumerated(long long v) { return integer(v, 0x0a); }
inline bytes boolean(bool v) { return der(0x01, bytes{static_cast<uint8_t>(v ? 0xff : 0)}); }

inline bytes oid(const std::string& dotted) {
    std::vector<unsigned long long> arcs;
    for (size_t at = 0; at <= dotted.size();) {
        size_t dot = dotted.find('.', at);
        if (dot == std::string::npos) dot = dotted.size();
        arcs.push_back(std::strtoull(dotted.substr(at, dot - at).c_str(), nullptr, 10));
        at = dot + 1;
    }
    bytes content;
    auto put = [&](unsigned long long v) {
        bytes b{static_cast<uint8_t>(v & 0x7f)};
        for (v >>= 7; v; v >>= 7) b.insert(b.begin(), static_cast<uint8_t>(0x80 | (v & 0x7f)));
        content.insert(content.end(), b.begin(), b.end());
    };
    put(arcs[0] * 40 + arcs[1]);
    for (size_t i = 2; i < arcs.size(); ++i) put(arcs[i]);
    return der(0x06, content);
}

// Context-specific [n], constructed (explicit tagging) or primitive.
inline bytes tagged(unsigned n, std::initializer_list<bytes> parts) {
    return der(static_cast<uint8_t>(0xa0 | n), parts);
}
inline bytes implicit(unsigned n, const std::string& s) { return text(static_cast<uint8_t>(0x80 | n), s); }

}  // namespace berf

#include "decode/app/ber.h"

#include <cstdio>
#include <cstring>

#include "decode/app/app_text.h"

namespace {

// An element's contents end at the end-of-contents octets (00 00) among
// its children; each child is read, and so bounded, the same way.
size_t indefinite_end(const message& m, size_t at, size_t limit, unsigned depth, const ber_rules& rules) {
    while (true) {
        if (at + 2 > limit) {
            if (limit >= m.length) m.past_end();
            throw malformed_message{"an indefinite BER length has no end-of-contents"};
        }
        if (m.u8(at) == 0 && m.u8(at + 1) == 0) return at;
        at = ber_read(m, at, limit, depth + 1, rules).finish;
    }
}

}  // namespace

ber_element ber_read(const message& m, size_t at, size_t limit, unsigned depth, const ber_rules& rules) {
    if (depth > rules.max_depth) throw malformed_message{"BER nesting too deep"};
    ber_element e;
    e.identifier = m.u8(at);
    e.tag = e.identifier & 0x1fu;
    size_t p = at + 1;
    if (e.tag == 0x1f) {
        if (!rules.multi_byte_tags) throw malformed_message{"multi-byte BER tag"};
        e.tag = 0;
        for (unsigned i = 0;; ++i) {
            if (i == 4) throw malformed_message{"BER tag number too large"};
            uint8_t b = m.u8(p++);
            e.tag = e.tag << 7 | (b & 0x7fu);
            if (!(b & 0x80)) break;
        }
    }
    uint8_t first = m.u8(p++);
    if (first < 0x80) {
        e.length = first;
    } else if (first == 0x80) {
        if (!rules.indefinite) throw malformed_message{"indefinite BER length"};
        if (!e.constructed()) throw malformed_message{"indefinite BER length on a primitive element"};
        e.indefinite = true;
    } else {
        unsigned n = first & 0x7fu;
        if (n > 4) throw malformed_message{"BER length longer than 4 bytes"};
        for (unsigned i = 0; i < n; ++i) e.length = e.length << 8 | m.u8(p++);
    }
    e.value = p;
    if (e.indefinite) {
        e.length = indefinite_end(m, p, limit, depth, rules) - p;
        e.finish = e.end() + 2;
        return e;
    }
    if (e.value > limit || e.length > limit - e.value) {
        if (limit >= m.length) m.past_end();
        throw malformed_message{"a BER length runs past its enclosing element"};
    }
    m.at(e.value, e.length);
    e.finish = e.end();
    return e;
}

ber_element ber_expect(const message& m, size_t at, size_t limit, unsigned cls, bool constructed, uint32_t tag,
                       const char* what, unsigned depth) {
    ber_element e = ber_read(m, at, limit, depth);
    if (!e.is(cls, constructed, tag)) throw malformed_message{what};
    return e;
}

bool ber_children::next_context(uint32_t tag, ber_element& out) {
    if (!more()) return false;
    ber_element e = ber_read(m_, at_, end_, depth_);
    if (!e.context(tag)) return false;
    at_ = e.finish;
    out = e;
    return true;
}

long long ber_integer_value(const message& m, const ber_element& e) {
    if (e.length == 0 || e.length > 8) throw malformed_message{"INTEGER of more than 8 bytes"};
    long long v = static_cast<int8_t>(m.u8(e.value));
    for (size_t i = 1; i < e.length; ++i)
        v = static_cast<long long>(static_cast<unsigned long long>(v) << 8 | m.u8(e.value + i));
    return v;
}

unsigned long long ber_unsigned_value(const message& m, const ber_element& e) {
    size_t i = 0;
    // A leading zero keeps the top bit of an unsigned value clear.
    if (e.length == 9 && m.u8(e.value) == 0) i = 1;
    if (e.length - i > 8) throw malformed_message{"counter of more than 8 bytes"};
    unsigned long long v = 0;
    for (; i < e.length; ++i) v = v << 8 | m.u8(e.value + i);
    return v;
}

std::string ber_oid_text(const message& m, const ber_element& e) {
    std::string text;
    unsigned long long sub = 0;
    unsigned bytes = 0;
    bool first = true;
    for (size_t i = 0; i < e.length; ++i) {
        uint8_t b = m.u8(e.value + i);
        if (++bytes > 9) throw malformed_message{"OID sub-identifier too long"};
        sub = sub << 7 | (b & 0x7f);
        if (b & 0x80) continue;
        char part[48];
        if (first) {
            unsigned top = sub < 40 ? 0 : sub < 80 ? 1 : 2;
            snprintf(part, sizeof part, "%u.%llu", top, sub - top * 40ULL);
            first = false;
        } else {
            snprintf(part, sizeof part, ".%llu", sub);
        }
        text += part;
        sub = 0;
        bytes = 0;
    }
    if (bytes) throw malformed_message{"OID ends inside a sub-identifier"};
    return text;
}

const char* oid_name(const std::string& dotted) {
    struct oid_row {
        const char* oid;
        const char* name;
    };
    static constexpr oid_row names[] = {
        // Attribute types of distinguished names.
        {"2.5.4.3", "CN"},
        {"2.5.4.4", "SN"},
        {"2.5.4.5", "serialNumber"},
        {"2.5.4.6", "C"},
        {"2.5.4.7", "L"},
        {"2.5.4.8", "ST"},
        {"2.5.4.9", "street"},
        {"2.5.4.10", "O"},
        {"2.5.4.11", "OU"},
        {"2.5.4.12", "title"},
        {"2.5.4.42", "GN"},
        {"0.9.2342.19200300.100.1.1", "UID"},
        {"0.9.2342.19200300.100.1.25", "DC"},
        {"1.2.840.113549.1.9.1", "emailAddress"},
        // Public keys and signatures.
        {"1.2.840.113549.1.1.1", "rsaEncryption"},
        {"1.2.840.113549.1.1.4", "md5WithRSAEncryption"},
        {"1.2.840.113549.1.1.5", "sha1WithRSAEncryption"},
        {"1.2.840.113549.1.1.10", "rsassaPss"},
        {"1.2.840.113549.1.1.11", "sha256WithRSAEncryption"},
        {"1.2.840.113549.1.1.12", "sha384WithRSAEncryption"},
        {"1.2.840.113549.1.1.13", "sha512WithRSAEncryption"},
        {"1.2.840.10045.2.1", "id-ecPublicKey"},
        {"1.2.840.10045.4.1", "ecdsa-with-SHA1"},
        {"1.2.840.10045.4.3.2", "ecdsa-with-SHA256"},
        {"1.2.840.10045.4.3.3", "ecdsa-with-SHA384"},
        {"1.2.840.10045.4.3.4", "ecdsa-with-SHA512"},
        {"1.2.840.10040.4.1", "dsa"},
        {"1.3.101.110", "X25519"},
        {"1.3.101.111", "X448"},
        {"1.3.101.112", "Ed25519"},
        {"1.3.101.113", "Ed448"},
        // Named curves.
        {"1.2.840.10045.3.1.7", "prime256v1"},
        {"1.3.132.0.34", "secp384r1"},
        {"1.3.132.0.35", "secp521r1"},
        {"1.3.132.0.10", "secp256k1"},
        // Certificate extensions.
        {"2.5.29.14", "subjectKeyIdentifier"},
        {"2.5.29.15", "keyUsage"},
        {"2.5.29.17", "subjectAltName"},
        {"2.5.29.19", "basicConstraints"},
        {"2.5.29.31", "cRLDistributionPoints"},
        {"2.5.29.32", "certificatePolicies"},
        {"2.5.29.35", "authorityKeyIdentifier"},
        {"2.5.29.37", "extKeyUsage"},
        // LDAP extended operations and controls.
        {"1.3.6.1.4.1.1466.20037", "StartTLS"},
        {"1.3.6.1.4.1.4203.1.11.1", "Modify Password"},
        {"1.3.6.1.4.1.4203.1.11.3", "Who am I?"},
        {"1.3.6.1.1.8", "Cancel"},
        {"1.2.840.113556.1.4.319", "Paged Results"},
        // Kerberos GSS mechanisms seen in SASL binds.
        {"1.2.840.113554.1.2.2", "Kerberos 5"},
        {"1.3.6.1.5.5.2", "SPNEGO"},
    };
    for (const oid_row& row : names)
        if (dotted == row.oid) return row.name;
    return nullptr;
}

std::string ber_oid_named(const message& m, const ber_element& e) {
    std::string dotted = ber_oid_text(m, e);
    const char* name = oid_name(dotted);
    return name ? name : dotted;
}

std::string ber_string(const decode_context& cx, const message& m, const ber_element& e, size_t max) {
    size_t n = e.length < max ? e.length : max;
    std::string text = printable_text(cx, m.at(e.value, n), n);
    if (n < e.length) text += "...";
    return text;
}

std::string ber_hex(const message& m, const ber_element& e, const char* separator, size_t max) {
    size_t n = e.length < max ? e.length : max;
    std::string text;
    for (size_t i = 0; i < n; ++i) {
        char part[4];
        snprintf(part, sizeof part, "%02x", m.u8(e.value + i));
        if (i) text += separator;
        text += part;
    }
    if (n < e.length) text += "...";
    return text;
}

std::string ber_time_text(const decode_context& cx, const message& m, const ber_element& e) {
    std::string raw = ber_string(cx, m, e, 32);
    // UTCTime has a two-digit year: 50 to 99 are 19xx.
    size_t year_digits = e.universal(ber_utc_time) ? 2 : 4;
    size_t digits = year_digits + 10;
    if (raw.size() < digits) return raw;
    for (size_t i = 0; i < digits; ++i)
        if (raw[i] < '0' || raw[i] > '9') return raw;
    std::string year = raw.substr(0, year_digits);
    if (year_digits == 2) year = (year < "50" ? "20" : "19") + year;
    const char* d = raw.c_str() + year_digits;
    std::string text = year + "-" + std::string(d, 2) + "-" + std::string(d + 2, 2) + " " + std::string(d + 4, 2) +
                       ":" + std::string(d + 6, 2) + ":" + std::string(d + 8, 2);
    std::string rest = raw.substr(digits);
    if (rest == "Z") return text + "Z";
    return text + rest;
}

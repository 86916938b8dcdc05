#include "decode/app/x509.h"

#include <arpa/inet.h>

#include <string>

#include "decode/app/app_text.h"
#include "decode/app/ber.h"
#include "decode/app/message.h"
#include "decode/decoder.h"
#include "decode/ip/ipv4.h"

namespace {

// A chain has a few certificates, a name a few parts, a certificate a few
// dozen alternative names; more are counted, not shown.
constexpr unsigned max_certificates = 16;
constexpr unsigned max_name_parts = 32;
constexpr unsigned max_alt_names = 64;
constexpr size_t max_name_text = 512;

// DER leaves no room for indefinite lengths.
constexpr ber_rules der_rules{true, false, 32};

ber_element next_of(const message&, ber_children& in, const char* what) {
    if (!in.more()) throw malformed_message{what};
    return in.next();
}

// Name ::= SEQUENCE OF SET OF { type OID, value } as "CN=a, O=b" in the
// order of the encoding; the attributes of one set are joined by "+".
std::string name_text(decode_context& cx, const message& m, const ber_element& name, unsigned depth) {
    if (!name.universal(ber_sequence)) throw malformed_message{"a name is not a SEQUENCE"};
    std::string text;
    ber_children sets(m, name, depth);
    for (unsigned n = 0; sets.more(); ++n) {
        ber_element set = sets.next();
        if (n >= max_name_parts || text.size() > max_name_text) continue;
        ber_children pairs(m, set, sets.depth());
        bool first = true;
        while (pairs.more()) {
            ber_children pair(m, pairs.next(), pairs.depth());
            ber_element type = next_of(m, pair, "attribute type missing");
            ber_element value = next_of(m, pair, "attribute value missing");
            if (!type.universal(ber_oid)) throw malformed_message{"attribute type not an OID"};
            text += first ? (text.empty() ? "" : ", ") : "+";
            first = false;
            text += ber_oid_named(m, type);
            text += '=';
            if (value.universal(ber_bmp_string))
                text += ber_hex(m, value);
            else
                text += ber_string(cx, m, value, 256);
        }
    }
    return text;
}

// Significant bits of an unsigned big-endian integer.
unsigned long integer_bits(const message& m, const ber_element& e) {
    size_t i = 0;
    while (i < e.length && m.u8(e.value + i) == 0) ++i;
    if (i == e.length) return 0;
    unsigned top = m.u8(e.value + i);
    unsigned bits = 0;
    while (top) ++bits, top >>= 1;
    return static_cast<unsigned long>((e.length - i - 1) * 8 + bits);
}

unsigned long curve_bits(const std::string& curve) {
    if (curve == "prime256v1" || curve == "secp256k1") return 256;
    if (curve == "secp384r1") return 384;
    if (curve == "secp521r1") return 521;
    return 0;
}

// SubjectPublicKeyInfo: algorithm, and the size that matters for it.
void public_key(decode_context& cx, const message& m, const ber_element& info, unsigned depth, bool all) {
    ber_children parts(m, info, depth);
    ber_element algorithm = next_of(m, parts, "public key algorithm missing");
    ber_element key = next_of(m, parts, "public key missing");
    ber_children alg(m, algorithm, parts.depth());
    ber_element oid = next_of(m, alg, "public key algorithm missing");
    if (!oid.universal(ber_oid)) throw malformed_message{"public key algorithm not an OID"};
    std::string dotted = ber_oid_text(m, oid);
    std::string type = ber_oid_named(m, oid), curve;
    unsigned long bits = 0;
    if (dotted == "1.2.840.113549.1.1.1") {
        type = "RSA";
        // The BIT STRING holds RSAPublicKey ::= SEQUENCE { modulus, exponent }.
        if (key.universal(ber_bit_string) && key.length > 1) {
            ber_element rsa = ber_read(m, key.value + 1, key.end(), parts.depth() + 1, der_rules);
            ber_children numbers(m, rsa, parts.depth() + 1);
            ber_element modulus = next_of(m, numbers, "RSA modulus missing");
            bits = integer_bits(m, modulus);
        }
    } else if (dotted == "1.2.840.10045.2.1") {
        type = "EC";
        if (alg.more()) {
            ber_element parameters = alg.next();
            if (parameters.universal(ber_oid)) curve = ber_oid_named(m, parameters);
        }
        bits = curve_bits(curve);
    } else if (dotted == "1.3.101.112" || dotted == "1.3.101.110") {
        bits = 256;
    } else if (dotted == "1.3.101.113" || dotted == "1.3.101.111") {
        bits = 456;
    }
    if (!all && !recording()) return;
    field(cx, "public_key", "\n    Public Key: %s", type);
    if (!curve.empty()) field(cx, "curve", " %s", curve);
    if (bits) field(cx, "public_key_bits", ", %lu bits", bits);
}

// subjectAltName: DNS names and IP addresses (and e-mail and URI names).
void alt_names(decode_context& cx, const message& m, const ber_element& value, unsigned depth) {
    ber_element list = ber_read(m, value.value, value.end(), depth, der_rules);
    if (!list.universal(ber_sequence)) throw malformed_message{"subjectAltName not a SEQUENCE"};
    ber_children names(m, list, depth);
    zelk_printf(cx.out, "\n    Subject Alt Names:");
    unsigned n = 0;
    while (names.more()) {
        ber_element name = names.next();
        if (name.cls() != ber_context) continue;
        if (++n > max_alt_names) continue;
        const char* separator = n == 1 ? " " : ", ";
        switch (name.tag) {
            case 1:
            case 2:
            case 6: {
                std::string text = ber_string(cx, m, name, 256);
                const char* key = name.tag == 2 ? "san_dns" : name.tag == 1 ? "san_email" : "san_uri";
                zelk_printf(cx.out, "%s%s:%s", separator,
                            name.tag == 2   ? "DNS"
                            : name.tag == 1 ? "email"
                                            : "URI",
                            text.c_str());
                list_text(cx, key, text.c_str());
                break;
            }
            case 7:
                if (name.length == 4 || name.length == 16) {
                    std::string text = name.length == 4 ? std::string(ipv4_text(cx, m.at(name.value, 4)).c_str())
                                                        : std::string(ipv6_text(cx, m.at(name.value, 16)).c_str());
                    zelk_printf(cx.out, "%sIP:%s", separator, text.c_str());
                    list_text(cx, "san_ip", text.c_str());
                    break;
                }
                [[fallthrough]];
            default:
                zelk_printf(cx.out, "%s[%u]: %lu bytes", separator, name.tag, static_cast<unsigned long>(name.length));
                break;
        }
    }
    if (n > max_alt_names) zelk_printf(cx.out, " [%u more]", n - max_alt_names);
}

void extensions(decode_context& cx, const message& m, const ber_element& wrapper, unsigned depth, bool all) {
    ber_children outer(m, wrapper, depth);
    ber_element list = next_of(m, outer, "extensions missing");
    ber_children entries(m, list, outer.depth());
    while (entries.more()) {
        ber_children parts(m, entries.next(), entries.depth());
        ber_element oid = next_of(m, parts, "extension type missing");
        if (!oid.universal(ber_oid)) throw malformed_message{"extension type not an OID"};
        ber_element value = next_of(m, parts, "extension value missing");
        if (value.universal(ber_boolean)) value = next_of(m, parts, "extension value missing");
        if (!value.universal(ber_octet_string)) throw malformed_message{"extension value not an OCTET STRING"};
        if ((all || recording()) && ber_oid_text(m, oid) == "2.5.29.17") alt_names(cx, m, value, parts.depth() + 1);
    }
}

std::string certificate(decode_context& cx, const message& m, bool all) {
    ber_element cert = ber_read(m, 0, m.length, 0, der_rules);
    if (!cert.universal(ber_sequence)) throw malformed_message{"not a certificate"};
    ber_children top(m, cert);
    ber_element tbs = next_of(m, top, "tbsCertificate missing");
    ber_element signature = next_of(m, top, "signature algorithm missing");
    ber_children in(m, tbs, top.depth());
    ber_element e = next_of(m, in, "serial number missing");
    long long version = 0;
    if (e.context(0)) {
        ber_element v = ber_read(m, e.value, e.end(), in.depth() + 1, der_rules);
        if (v.universal(ber_integer)) version = ber_integer_value(m, v);
        e = next_of(m, in, "serial number missing");
    }
    if (!e.universal(ber_integer)) throw malformed_message{"serial number not an INTEGER"};
    std::string serial = ber_hex(m, e, ":", 64);
    next_of(m, in, "signature algorithm missing");
    std::string issuer = name_text(cx, m, next_of(m, in, "issuer missing"), in.depth());
    ber_children validity(m, next_of(m, in, "validity missing"), in.depth());
    std::string not_before = ber_time_text(cx, m, next_of(m, validity, "notBefore missing"));
    std::string not_after = ber_time_text(cx, m, next_of(m, validity, "notAfter missing"));
    std::string subject = name_text(cx, m, next_of(m, in, "subject missing"), in.depth());
    ber_element key_info = next_of(m, in, "public key missing");

    field(cx, "subject", "\n    Subject: %s", subject);
    field(cx, "issuer", "\n    Issuer: %s", issuer);
    if (all || recording()) {
        field(cx, "version", "\n    Version: %ld", static_cast<long>(version + 1));
        field(cx, "serial", ", Serial: %s", serial);
        field(cx, "not_before", "\n    Not Before: %s", not_before);
        field(cx, "not_after", ", Not After: %s", not_after);
    }
    public_key(cx, m, key_info, in.depth(), all);
    while (in.more()) {
        ber_element part = in.next();
        if (part.context(3)) extensions(cx, m, part, in.depth(), all);
    }
    if (all || recording()) {
        ber_children alg(m, signature, top.depth());
        ber_element oid = next_of(m, alg, "signature algorithm missing");
        if (!oid.universal(ber_oid)) throw malformed_message{"signature algorithm not an OID"};
        field(cx, "signature_algorithm", "\n    Signature Algorithm: %s", ber_oid_named(m, oid));
    }
    return subject;
}

}  // namespace

std::string decode_certificate_list(decode_context& cx, const uint8_t* p, size_t n, bool all) {
    bounded body{&cx, p, p + n};
    bounded list = body.sub(body.be24());
    if (all) field(cx, "certificates_length", "\n  Certificates Length: %u", static_cast<unsigned>(list.left()));
    std::string first;
    for (unsigned index = 1; list.left(); ++index) {
        uint32_t length = list.be24();
        const uint8_t* at = list.take(length);
        if (index > max_certificates) continue;
        item(cx, "certificates");
        item_closer close(cx);
        zelk_printf(cx.out, "\n  Certificate %u: %u bytes", index, length);
        record_number(cx, "length", length);
        bump(cx.counters.x509_certificates);
        message m{&cx, at, length, cx.ip_payload_cut};
        try {
            std::string subject = certificate(cx, m, all);
            if (index == 1) first = subject;
        } catch (const malformed_message& e) {
            record_text(cx, "error", e.reason);
            zelk_printf(cx.out, "\n    [malformed: %s]", e.reason);
        }
    }
    return first;
}

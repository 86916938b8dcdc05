// ASN.1 BER and DER elements inside a message (SNMP, LDAP, Kerberos,
// X.509): tags of every class, short and long lengths, the indefinite
// length where a protocol allows it, and a bound on nesting. Every read
// goes through the message's checked accessors; a length the bytes do not
// bear out throws malformed_message (or truncated, when the capture cut
// the message).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "decode/app/message.h"

enum ber_class : uint8_t { ber_universal = 0, ber_application = 1, ber_context = 2, ber_private = 3 };

// Universal tags the decoders look for.
enum ber_universal_tag : uint32_t {
    ber_boolean = 1,
    ber_integer = 2,
    ber_bit_string = 3,
    ber_octet_string = 4,
    ber_null = 5,
    ber_oid = 6,
    ber_enumerated = 10,
    ber_utf8_string = 12,
    ber_sequence = 16,
    ber_set = 17,
    ber_printable_string = 19,
    ber_t61_string = 20,
    ber_ia5_string = 22,
    ber_utc_time = 23,
    ber_generalized_time = 24,
    ber_general_string = 27,
    ber_bmp_string = 30,
};

struct ber_element {
    uint8_t identifier = 0;  // the first octet: class, constructed bit, low tag bits
    uint32_t tag = 0;        // the tag number, also when it took more octets
    size_t value = 0;        // offset of the contents in the message
    size_t length = 0;       // length of the contents
    size_t finish = 0;       // offset just past the element (past the end-of-contents octets too)
    bool indefinite = false;

    unsigned cls() const { return identifier >> 6; }
    bool constructed() const { return (identifier & 0x20) != 0; }
    size_t end() const { return value + length; }
    bool is(unsigned c, bool cons, uint32_t t) const { return cls() == c && constructed() == cons && tag == t; }
    bool universal(uint32_t t) const { return cls() == ber_universal && tag == t; }
    bool context(uint32_t t) const { return cls() == ber_context && tag == t; }
};

struct ber_rules {
    bool multi_byte_tags = true;
    // BER allows an indefinite length on constructed elements; DER, and
    // SNMP, do not.
    bool indefinite = true;
    unsigned max_depth = 32;
};

// Reads the element at `at`, which must end by `limit` (the end of the
// element that holds it). `depth` counts the elements around it.
ber_element ber_read(const message& m, size_t at, size_t limit, unsigned depth = 0, const ber_rules& rules = {});

// Reads the element at `at` and checks its class, form and tag.
ber_element ber_expect(const message& m, size_t at, size_t limit, unsigned cls, bool constructed, uint32_t tag,
                       const char* what, unsigned depth = 0);

// The elements inside a constructed one, in order.
class ber_children {
   public:
    ber_children(const message& m, const ber_element& parent, unsigned depth = 0)
        : m_(m), at_(parent.value), end_(parent.end()), depth_(depth + 1) {}
    bool more() const { return at_ < end_; }
    ber_element next() {
        ber_element e = ber_read(m_, at_, end_, depth_);
        at_ = e.finish;
        return e;
    }
    // The next element when it has this context tag, else nothing is taken.
    bool next_context(uint32_t tag, ber_element& out);
    unsigned depth() const { return depth_; }

   private:
    const message& m_;
    size_t at_, end_;
    unsigned depth_;
};

// INTEGER and ENUMERATED of up to 8 octets, as signed.
long long ber_integer_value(const message& m, const ber_element& e);
// An unsigned value of up to 8 octets (a leading zero octet allowed).
unsigned long long ber_unsigned_value(const message& m, const ber_element& e);
// Dotted text of an OBJECT IDENTIFIER.
std::string ber_oid_text(const message& m, const ber_element& e);
// A name for the dotted OID text, or nullptr.
const char* oid_name(const std::string& dotted);
// "name" when the OID is known, else the dotted text.
std::string ber_oid_named(const message& m, const ber_element& e);
// The contents as text by the character rule, at most `max` bytes of it
// ("..." marks a cut).
std::string ber_string(const decode_context& cx, const message& m, const ber_element& e, size_t max = 256);
// The contents as lower-case hex digits, `separator` between octets, at
// most `max` octets ("..." marks a cut).
std::string ber_hex(const message& m, const ber_element& e, const char* separator = "", size_t max = 64);
// UTCTime or GeneralizedTime as "YYYY-MM-DD HH:MM:SS" (and "Z" when the
// value names UTC), or the raw text when it is not a time.
std::string ber_time_text(const decode_context& cx, const message& m, const ber_element& e);
